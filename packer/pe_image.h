// The layout of a 32-bit Windows executable (PE32) as the packer needs it: headers, data
// directories and sections, read from untrusted bytes with every offset checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/byte_io.h"
#include "packer/pe_format.h"

struct PeDirectory {
    uint32_t address;  // an RVA; for the certificate table a file offset
    uint32_t size;
};

struct PeSection {
    uint32_t headerOffset;  // file offset of its 40-byte header
    uint8_t name[8];
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
    uint32_t characteristics;
};

struct PeImage {
    uint32_t fileHeaderOffset;  // the COFF header, right after "PE\0\0"
    uint32_t optionalHeaderOffset;
    uint32_t sectionTableOffset;
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    uint32_t sizeOfHeaders;
    uint32_t directoryCount;  // present slots, at most kDirectorySlots
    PeDirectory directories[kDirectorySlots];
    std::vector<PeSection> sections;  // in the order of the section table
};

// Reads the layout of `file`. False with a reason for the user when it is not a PE32 program
// for 32-bit x86 or its headers are truncated or inconsistent.
bool ReadPeImage(const ByteBuffer& file, PeImage* image, std::u16string* error);

// The section whose virtual range holds `rva`, or null.
const PeSection* SectionAt(const PeImage& image, uint32_t rva);

// The file offset of `size` bytes at `rva` when they lie wholly in one section's file data.
bool FileOffsetOf(const PeImage& image, uint32_t rva, uint32_t size, uint32_t* offset);

// The end of a section's virtual range, rounded up to the section alignment.
uint64_t SectionVirtualEnd(const PeImage& image, const PeSection& section);
