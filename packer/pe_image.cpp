#include "packer/pe_image.h"

#include "packer/text.h"

namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kCharacteristicExecutable = 0x0002;
constexpr uint16_t kCharacteristicDll = 0x2000;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;
constexpr uint32_t kMaxFileAlignment = 0x10000;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The virtual extent of a section: a zero virtual size means its file size.
uint32_t VirtualExtent(const PeSection& section) {
    return section.virtualSize != 0 ? section.virtualSize : section.rawSize;
}

bool ReadSections(const ByteBuffer& file, uint16_t count, PeImage* image, std::u16string* error) {
    uint64_t previousEnd = 0;
    for (uint16_t i = 0; i < count; ++i) {
        const uint32_t at = image->sectionTableOffset + i * kSectionHeaderSize;
        const uint8_t* h = file.data() + at;
        PeSection section{};
        section.headerOffset = at;
        for (uint32_t k = 0; k < kSectionNameSize; ++k) section.name[k] = h[k];
        section.virtualSize = ReadLe32(h + kSectionVirtualSize);
        section.virtualAddress = ReadLe32(h + kSectionVirtualAddress);
        section.rawSize = ReadLe32(h + kSectionRawSize);
        section.rawOffset = ReadLe32(h + kSectionRawOffset);
        section.characteristics = ReadLe32(h + kSectionCharacteristics);
        if (section.rawSize != 0 && !FitsIn(section.rawOffset, section.rawSize, file.size())) {
            return Fail(error, u"truncated: a section's data runs past the end of the file");
        }
        if (section.rawSize != 0 && section.rawOffset < image->sizeOfHeaders) {
            return Fail(error, u"malformed: a section's data overlaps the headers");
        }
        // Sections follow each other in the address space without overlapping.
        if (section.virtualAddress < previousEnd || section.virtualAddress < image->sizeOfHeaders ||
            section.virtualAddress % image->sectionAlignment != 0) {
            return Fail(error, u"malformed: the sections' addresses overlap or are not aligned");
        }
        image->sections.push_back(section);
        previousEnd = SectionVirtualEnd(*image, section);
        if (previousEnd > UINT32_MAX) {
            return Fail(error, u"malformed: a section lies beyond the 4 GiB address space");
        }
    }
    return true;
}

}  // namespace

uint64_t SectionVirtualEnd(const PeImage& image, const PeSection& section) {
    return AlignUp(static_cast<uint64_t>(section.virtualAddress) + VirtualExtent(section),
                   image.sectionAlignment);
}

bool ReadPeImage(const ByteBuffer& file, PeImage* image, std::u16string* error) {
    *image = PeImage{};
    const uint64_t size = file.size();
    if (size < kMzMinimumSize || file[0] != 'M' || file[1] != 'Z') {
        return Fail(error, u"not a Windows program (no \"MZ\" header)");
    }
    const uint32_t peOffset = ReadLe32(file.data() + kMzPeOffset);
    // The loader expects the PE header on a 4-byte boundary, as the checksum does its field.
    if (peOffset % 4 != 0 || !FitsIn(peOffset, kPeSignatureSize + kFileHeaderSize, size)) {
        return Fail(error, u"not a Windows program (no PE header)");
    }
    const uint8_t* pe = file.data() + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
        return Fail(error, u"not a Windows program (no PE header)");
    }
    image->fileHeaderOffset = peOffset + kPeSignatureSize;
    const uint8_t* coff = file.data() + image->fileHeaderOffset;
    const uint16_t machine = ReadLe16(coff + kFileMachine);
    const uint16_t sectionCount = ReadLe16(coff + kFileSectionCount);
    const uint16_t optionalSize = ReadLe16(coff + kFileOptionalHeaderSize);
    const uint16_t characteristics = ReadLe16(coff + kFileCharacteristics);
    if (machine != kMachineI386) return Fail(error, u"not a program for 32-bit x86 Windows");
    if ((characteristics & kCharacteristicExecutable) == 0 ||
        (characteristics & kCharacteristicDll) != 0) {
        return Fail(error, u"not an executable program (a library or an object file)");
    }

    image->optionalHeaderOffset = image->fileHeaderOffset + kFileHeaderSize;
    if (optionalSize < kOptionalDirectories ||
        !FitsIn(image->optionalHeaderOffset, optionalSize, size)) {
        return Fail(error, u"truncated: the optional header is incomplete");
    }
    const uint8_t* opt = file.data() + image->optionalHeaderOffset;
    const uint16_t magic = ReadLe16(opt + kOptionalMagic);
    if (magic == kMagicPe32Plus) return Fail(error, u"a 64-bit program, not a PE32 one");
    if (magic != kMagicPe32) return Fail(error, u"not a PE32 program (unknown optional header)");

    image->sectionAlignment = ReadLe32(opt + kOptionalSectionAlignment);
    image->fileAlignment = ReadLe32(opt + kOptionalFileAlignment);
    image->sizeOfHeaders = ReadLe32(opt + kOptionalSizeOfHeaders);
    const uint32_t slots = ReadLe32(opt + kOptionalDirectoryCount);
    if (!IsPowerOfTwo(image->sectionAlignment) || !IsPowerOfTwo(image->fileAlignment) ||
        image->fileAlignment > kMaxFileAlignment ||
        image->fileAlignment > image->sectionAlignment) {
        return Fail(error, u"malformed: the section or file alignment is not valid");
    }
    image->directoryCount = slots < kDirectorySlots ? slots : kDirectorySlots;
    if (kOptionalDirectories + 1ull * kDirectorySize * image->directoryCount > optionalSize) {
        return Fail(error, u"malformed: the data directories do not fit the optional header");
    }
    for (uint32_t i = 0; i < image->directoryCount; ++i) {
        const uint8_t* slot = opt + kOptionalDirectories + kDirectorySize * i;
        image->directories[i].address = ReadLe32(slot + kDirectoryAddress);
        image->directories[i].size = ReadLe32(slot + kDirectoryLength);
    }

    image->sectionTableOffset = image->optionalHeaderOffset + optionalSize;
    const uint64_t tableEnd =
        static_cast<uint64_t>(image->sectionTableOffset) + kSectionHeaderSize * sectionCount;
    if (sectionCount == 0) return Fail(error, u"malformed: the program has no sections");
    if (tableEnd > size) return Fail(error, u"truncated: the section table is incomplete");
    if (image->sizeOfHeaders < tableEnd || image->sizeOfHeaders > size) {
        return Fail(error, u"malformed: the size of the headers does not match the section table");
    }
    return ReadSections(file, sectionCount, image, error);
}

const PeSection* SectionAt(const PeImage& image, uint32_t rva) {
    for (const PeSection& section : image.sections) {
        if (rva >= section.virtualAddress &&
            rva - section.virtualAddress < VirtualExtent(section)) {
            return &section;
        }
    }
    return nullptr;
}

bool FileOffsetOf(const PeImage& image, uint32_t rva, uint32_t size, uint32_t* offset) {
    const PeSection* section = SectionAt(image, rva);
    if (section == nullptr) return false;
    const uint32_t into = rva - section->virtualAddress;
    if (!FitsIn(into, size, section->rawSize) || !FitsIn(into, size, VirtualExtent(*section))) {
        return false;
    }
    *offset = section->rawOffset + into;
    return true;
}
