// Builds zip archives byte by byte for tests, with every header field open to tampering.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct TestEntry {
    std::string name;
    std::string data;     // uncompressed bytes
    uint16_t method = 0;  // 0 stored, 8 raw deflate (compressed by zlib)
    uint16_t versionMadeBy = 20;
    uint16_t flags = 0;                 // written to both headers unless localFlags is set
    uint32_t dosDateTime = 0x46E4A023;  // 2015-07-04 20:01:06
    uint32_t externalAttributes = 0x20;
    std::string localExtra;
    std::string centralExtra;
    std::string comment;
    // Overrides of what the builder would compute; they apply to both headers unless the
    // local-only ones below are set.
    std::optional<std::string> compressed;  // the entry's data bytes as stored
    std::optional<uint32_t> crc;
    std::optional<uint32_t> compressedSize;
    std::optional<uint32_t> uncompressedSize;
    std::optional<uint16_t> localFlags;
    std::optional<uint16_t> localMethod;
    std::optional<uint32_t> localCrc;
    std::optional<uint32_t> localCompressedSize;
    std::optional<uint32_t> localUncompressedSize;
    std::optional<std::string> localName;
};

// An entry with its name, data and method and every other field at its default.
TestEntry MakeEntry(std::string name, std::string data, uint16_t method = 0);

struct TestArchive {
    std::vector<TestEntry> entries;
    std::string prefix;   // bytes in front of the archive
    std::string comment;  // archive comment
    std::string suffix;   // bytes after the end record
    // End record overrides.
    std::optional<uint16_t> thisDisk;
    std::optional<uint16_t> directoryDisk;
    std::optional<uint16_t> entriesOnDisk;
    std::optional<uint16_t> entriesTotal;
    std::optional<uint32_t> directorySize;
    std::optional<uint32_t> directoryOffset;
};

Bytes BuildZip(const TestArchive& archive);

// Raw deflate (no zlib header or trailer) of `data`.
std::string Deflate(const std::string& data);

// The zip CRC-32 of `data`.
uint32_t Crc32(const std::string& data);

// An extended timestamp extra block ("UT") with the given flags and times.
std::string ExtendedTimestamp(uint8_t flags, const std::vector<int32_t>& times);

// Little-endian field helpers for hand-made extra fields.
std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
