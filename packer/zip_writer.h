// The project's zip writer: entries as the launcher unpacks them faithfully. Windows attribute
// bits in the low byte of the external attributes and a Unix mode whose owner-write bit agrees
// with the read-only bit in the high half; the modification time as UTC in the DOS fields and
// all known times in an extended timestamp block; names in UTF-8, flagged (bit 11) only when
// they are not ASCII; data deflated, or stored when deflating does not make it smaller.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"
#include "platform/platform.h"

struct z_stream_s;

constexpr uint32_t kMaxZipEntries = 0xFFFF;  // no zip64: the end record counts in 16 bits
constexpr uint64_t kZipLimit = 0xFFFFFFFF;   // nor past 4 GiB: offsets are 32-bit
constexpr uint16_t kZipStored = 0;
constexpr uint16_t kZipDeflated = 8;

struct ZipEntryFacts {
    std::u16string name;  // "/" between steps; a folder's ends with "/"
    bool isFolder;
    uint32_t attributes;  // Windows bits; read-only, hidden, system and archive are kept
    FileTime writeTime;
    FileTime accessTime;
    FileTime creationTime;
    bool hasCreationTime;
};

struct ZipWriter {
    int level = 9;  // 0 stores everything
    ByteBuffer archive;
    ByteBuffer directory;
    uint32_t entries = 0;
};

// Appends one entry. False when the archive would pass 4 GiB or 65,535 entries, which the
// launcher's reader cannot read.
bool AddZipEntry(ZipWriter* writer, const ZipEntryFacts& facts, const ByteBuffer& data,
                 std::u16string* error);

// Appends the central directory and the end record: `archive` is then the whole zip file.
bool FinishZip(ZipWriter* writer, std::u16string* error);

// The parts of an entry's headers that its data does not change.
struct ZipEntryHeader {
    std::string name;  // UTF-8
    ByteBuffer extra;  // the extended timestamp block
    uint16_t flags;
    uint32_t dosDateTime;
    uint32_t externalAttributes;
};
ZipEntryHeader MakeZipEntryHeader(const ZipEntryFacts& facts);

// What an entry's data made of its headers' fields.
struct ZipEntryData {
    uint16_t method;  // kZipStored or kZipDeflated
    uint32_t crc;     // CRC-32 of the data before deflating
    uint32_t compressedSize;
    uint32_t size;
};

// The local header (30 bytes, the name and the extra block), the central directory's header
// and the end record, as AddZipEntry and FinishZip write them.
void AppendLocalHeader(ByteBuffer* out, const ZipEntryHeader& header, const ZipEntryData& data);
void AppendCentralHeader(ByteBuffer* out, const ZipEntryHeader& header, const ZipEntryData& data,
                         uint32_t localHeaderAt);
void AppendEndRecord(ByteBuffer* out, uint32_t entries, uint32_t directorySize,
                     uint32_t directoryAt);

// deflateInit2 of the raw deflate stream that the writer uses (window 15, memory level 8, the
// default strategy). False when zlib refuses it; else end it with deflateEnd.
bool StartRawDeflate(z_stream_s* stream, int level);
