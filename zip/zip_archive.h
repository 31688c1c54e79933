// The reader's public face: an archive handle over bytes in memory, entries by index as
// UTF-16 names, Windows attribute bits, file times and sizes, through a one-entry cache.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "zip/directory_reader.h"
#include "zip/entry_info.h"

using ZipResult = int32_t;

constexpr ZipResult ZipOk = 0;
constexpr ZipResult ZipCannotCreateFile = 0x200;
constexpr ZipResult ZipExtractFailed = 0x400;
constexpr ZipResult ZipCorrupt = 0x700;
constexpr ZipResult ZipReadFailed = 0x800;
// The entry's name cannot be converted whole to UTF-16 (see ConvertEntryName): that entry is
// unusable, the entries after it are not affected.
constexpr ZipResult ZipBadName = 0x1000;
constexpr ZipResult ZipBadArgument = 0x10000;
constexpr ZipResult ZipWrongHandle = 0x80000;

// Result of the most recent public archive operation.
extern ZipResult LastZipResult;

constexpr int32_t kZipArchiveKind = 1;

struct NarrowEntryInfo {
    int32_t index;
    char name[kZipNameUnits];  // bytes as stored, terminated, at most 259 of them
    uint32_t attributes;
    FileTime accessTime;
    FileTime creationTime;
    FileTime writeTime;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    // The whole stored name in UTF-16, terminated, when nameConverted; else empty.
    char16_t wideName[kZipNameUnits];
    bool nameConverted;
};

struct ZipEntryInfo {
    int32_t index;
    // The whole stored name: UTF-8 when flagged so or given by a Unicode path extra field,
    // otherwise in the ANSI code page; terminated.
    char16_t name[kZipNameUnits];
    uint32_t attributes;
    FileTime accessTime;
    FileTime creationTime;
    FileTime writeTime;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
};

struct ZipArchiveState {
    ZipDirectoryReader* reader;  // owned
    NarrowEntryInfo cachedEntry;
    int32_t cachedIndex;                 // -1 while nothing is cached
    char16_t rootFolder[kZipNameUnits];  // current directory at open, followed by "\"
};

struct ZipArchive {
    int32_t kind;            // kZipArchiveKind
    ZipArchiveState* state;  // owned
};

// The bytes are borrowed until CloseZipArchive. None when they are not a readable archive; then
// LastZipResult holds ReaderIoError or ReaderBadArchive. rootFolder is left empty when the current
// directory cannot be obtained or does not fit with its added "\".
ZipArchive* OpenZipFromMemory(const void* data, uint32_t length);

// Index -1 gives the summary: `index` holds the number of entries. On failure `info` is left as
// it was: ZipBadArgument for an index out of range; ZipCorrupt when the entry cannot be reached
// or read as a central header (a broken header on the way or at the entry), or its local header
// disagrees with it; ZipReadFailed when its name or an extra field runs past the archive;
// ZipBadName when its name cannot be converted whole. Only the last one lets a caller that walks
// the entries go on with the next.
ZipResult GetZipEntry(ZipArchive* archive, int32_t index, ZipEntryInfo* info);
// As GetZipEntry, without the handle checks and LastZipResult; an entry whose name cannot be
// converted is delivered too, with nameConverted false.
ZipResult GetZipEntryNarrow(ZipArchiveState* state, int32_t index, NarrowEntryInfo* rec);
// As GetZipEntryNarrow for an entry (not the summary), and the reader then stands on it, so that
// its data can be read, also when the record comes from the cache; ZipCorrupt when the record is
// known but the entry cannot be reached.
ZipResult ReachZipEntry(ZipArchiveState* state, int32_t index, NarrowEntryInfo* rec);
ZipResult CloseZipArchive(ZipArchive* archive);
