// Field offsets of the PE format that the packer reads and patches, each from the start of
// its own structure. Only the PE32 optional header is described: the packer refuses PE32+.
#pragma once

#include <cstdint>

// The MZ header: where the PE signature lies.
constexpr uint32_t kMzMinimumSize = 64;
constexpr uint32_t kMzPeOffset = 0x3C;
constexpr uint32_t kPeSignatureSize = 4;  // "PE\0\0", followed by the file header

// The COFF file header.
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kFileMachine = 0;
constexpr uint32_t kFileSectionCount = 2;
constexpr uint32_t kFileOptionalHeaderSize = 16;
constexpr uint32_t kFileCharacteristics = 18;

// The PE32 optional header.
constexpr uint32_t kOptionalMagic = 0;
constexpr uint32_t kOptionalSectionAlignment = 32;
constexpr uint32_t kOptionalFileAlignment = 36;
constexpr uint32_t kOptionalSizeOfImage = 56;
constexpr uint32_t kOptionalSizeOfHeaders = 60;
constexpr uint32_t kOptionalCheckSum = 64;
constexpr uint32_t kOptionalDirectoryCount = 92;
constexpr uint32_t kOptionalDirectories = 96;

// A data directory slot: an address and a size.
constexpr uint32_t kDirectorySize = 8;
constexpr uint32_t kDirectoryAddress = 0;
constexpr uint32_t kDirectoryLength = 4;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kDirectorySlots = 16;

// A section header.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionVirtualSize = 8;
constexpr uint32_t kSectionVirtualAddress = 12;
constexpr uint32_t kSectionRawSize = 16;
constexpr uint32_t kSectionRawOffset = 20;
constexpr uint32_t kSectionCharacteristics = 36;

// A resource directory table and its entries.
constexpr uint32_t kResourceTableHeaderSize = 16;
constexpr uint32_t kResourceTableCharacteristics = 0;
constexpr uint32_t kResourceTableTimeStamp = 4;
constexpr uint32_t kResourceTableVersion = 8;
constexpr uint32_t kResourceTableNamedCount = 12;
constexpr uint32_t kResourceTableNumberedCount = 14;
constexpr uint32_t kResourceEntrySize = 8;
constexpr uint32_t kResourceEntryKey = 0;
constexpr uint32_t kResourceEntryTarget = 4;
// In an entry's key: the rest is the offset of a name, not a number.
constexpr uint32_t kResourceNameBit = 0x80000000;
// In an entry's target: the rest is the offset of a table, not of a data record.
constexpr uint32_t kResourceSubdirectoryBit = 0x80000000;

// A resource data record.
constexpr uint32_t kResourceRecordSize = 16;
constexpr uint32_t kResourceRecordAddress = 0;
constexpr uint32_t kResourceRecordDataSize = 4;
constexpr uint32_t kResourceRecordCodePage = 8;
