// The reader's view of one open zip archive: finds and checks the end record, walks the central
// directory one entry at a time and checks each local header against its central header.
#pragma once

#include <cstdint>

#include "zip/archive_source.h"
#include "zip/reader_result.h"

struct EntryStream;

// The fixed fields of one central header, zero-extended.
struct CentralEntryInfo {
    uint32_t versionMadeBy;
    uint32_t versionNeeded;
    uint32_t flags;
    uint32_t compressionMethod;
    uint32_t dosDateTime;  // DOS time in the low half, DOS date in the high half
    uint32_t storedCrc32;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t nameLength;
    uint32_t extraLength;
    uint32_t commentLength;
    uint32_t diskNumberStart;
    uint32_t internalAttributes;
    uint32_t externalAttributes;
};

struct ZipDirectoryReader {
    ArchiveSource* source;  // owned
    uint32_t entryCount;
    uint32_t prefixBytes;  // bytes in front of the archive within the source
    uint32_t entryIndex;
    uint32_t entryDirectoryPosition;
    bool entryValid;
    uint32_t directoryOffset;
    CentralEntryInfo currentEntry;
    uint32_t localHeaderOffset;
    // Both belong to the entry stream, which releases them in ReleaseEntryStream.
    EntryStream* openStream;  // the stream being read, at most one
    EntryStream* idleStream;  // a closed stream kept, with its decoder, for the next open
};

// Result of the most recent OpenDirectoryReader: 0, 0x10000 without a source, or the failure.
extern int32_t LastOpenResult;

// Source position of the last end-record signature within the final 65535 bytes, or 0 when there
// is none (a signature at position 0 also counts as none).
uint32_t FindEndRecord(ArchiveSource* source);
ZipDirectoryReader* OpenDirectoryReader(ArchiveSource* source);
// Releases the source and the reader. The reader's entry streams are the stream's to release:
// ReleaseEntryStream comes first (CloseZipArchive calls both).
void CloseDirectoryReader(ZipDirectoryReader* reader);
ReaderResult ReadCurrentEntryInfo(ZipDirectoryReader* reader, CentralEntryInfo* outInfo,
                                  uint32_t* outLocalHeaderOffset, uint8_t* nameBuffer,
                                  uint32_t nameBufferSize);
ReaderResult GoToFirstEntry(ZipDirectoryReader* reader);
ReaderResult GoToNextEntry(ZipDirectoryReader* reader);
// Checks the current entry's local header against its central header. ReaderBadArgument when there
// is no valid current entry. localExtraOffset is an archive offset.
ReaderResult CheckLocalHeader(ZipDirectoryReader* reader, uint32_t* variableSize,
                              uint32_t* localExtraOffset, uint32_t* localExtraSize);

// Archive offsets come from the archive itself, so sums of them may pass 32 bits. Such a sum lies
// past every byte a source can hold; it is held at the largest position, where reads deliver
// nothing, instead of wrapping around to bytes that belong elsewhere. Every offset sum goes
// through here.
uint32_t SaturatedPosition(uint64_t position);

// Archive offset of the current entry's central extra field, which follows its central name.
uint64_t CentralExtraOffset(const ZipDirectoryReader* reader);

// Positions the source at an archive offset (prefixBytes added, saturated). Entry data begins at
// archive offset localHeaderOffset + 30 + variableSize.
bool SeekToArchiveOffset(ZipDirectoryReader* reader, uint64_t archiveOffset);
