#include "packer/pe_writer.h"

#include <algorithm>
#include <cstring>

#include "packer/pe_checksum.h"
#include "packer/text.h"

namespace {

constexpr uint8_t kZeros[0x10000] = {};
constexpr uint8_t kNewSectionName[kSectionNameSize] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialised data, readable

// Where the headers and the data of the first `count` sections end in the file.
uint64_t RawEnd(const PeImage& image, size_t count) {
    uint64_t end = image.sizeOfHeaders;
    for (size_t i = 0; i < count; ++i) {
        const PeSection& section = image.sections[i];
        if (section.rawSize != 0)
            end = std::max<uint64_t>(end, section.rawOffset + section.rawSize);
    }
    return end;
}

uint64_t LastRawEnd(const PeImage& image) { return RawEnd(image, image.sections.size()); }

// Where the kept part of the file ends: a certificate table at its end is cut off, one elsewhere
// is only no longer referred to.
uint64_t KeptEnd(const ByteBuffer& file, const PeImage& image, bool* hadCertificate) {
    *hadCertificate = false;
    if (image.directoryCount <= kCertificateDirectory) return file.size();
    const PeDirectory& certificate = image.directories[kCertificateDirectory];
    if (certificate.address == 0 && certificate.size == 0) return file.size();
    *hadCertificate = true;
    const uint64_t end = static_cast<uint64_t>(certificate.address) + certificate.size;
    if (FitsIn(certificate.address, certificate.size, file.size()) &&
        certificate.address >= LastRawEnd(image) && AlignUp(end, 8) >= file.size()) {
        return certificate.address;
    }
    return file.size();
}

// Whether the resource section can be written where it is: it is the last section in both the
// address space and the file, holds the resource directory at its start and nothing else that
// a data directory refers to.
bool CanRewriteInPlace(const PeImage& image) {
    const PeDirectory& resources = image.directories[kResourceDirectory];
    const PeSection& last = image.sections.back();
    if (image.directoryCount <= kResourceDirectory || resources.address != last.virtualAddress) {
        return false;
    }
    if (last.rawSize != 0 &&
        last.rawOffset + static_cast<uint64_t>(last.rawSize) != LastRawEnd(image)) {
        return false;
    }
    for (uint32_t i = 0; i < image.directoryCount; ++i) {
        if (i == kResourceDirectory || i == kCertificateDirectory) continue;
        const PeDirectory& other = image.directories[i];
        if (other.size != 0 && SectionAt(image, other.address) == &last) return false;
    }
    return true;
}

// Whether a 40-byte section header fits after the table: inside the headers, before any
// section's data, over bytes that are all zero.
bool RoomForSectionHeader(const ByteBuffer& file, const PeImage& image, uint32_t at) {
    const uint64_t end = static_cast<uint64_t>(at) + kSectionHeaderSize;
    if (end > image.sizeOfHeaders) return false;
    for (const PeSection& section : image.sections) {
        if (section.rawSize != 0 && end > section.rawOffset) return false;
    }
    return std::all_of(file.begin() + at, file.begin() + end, [](uint8_t b) { return b == 0; });
}

void AddPadding(std::vector<ByteSpan>* pieces, uint64_t* position, uint64_t to) {
    while (*position < to) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(to - *position, sizeof kZeros));
        pieces->push_back({kZeros, n});
        *position += n;
    }
}

// Where the new resource section goes and what the image becomes around it.
struct Placement {
    uint32_t headerAt;        // file offset of the section's header
    uint64_t virtualAddress;  // of the section
    uint64_t headLength;      // bytes of the old file kept before the section's data
    uint64_t rawOffset;       // of the section's data: headLength, aligned
    uint64_t rawSize;         // of the section's data, aligned
    uint64_t sizeOfImage;
};

// Chooses the section header, address and file offset of the new resource section.
bool PlaceSection(const ByteBuffer& file, const PeImage& image, uint64_t keptEnd, bool inPlace,
                  Placement* place, std::u16string* error) {
    const uint8_t* optional = file.data() + image.optionalHeaderOffset;
    const uint32_t oldSizeOfImage = ReadLe32(optional + kOptionalSizeOfImage);
    const PeSection& last = image.sections.back();
    if (inPlace) {
        place->headerAt = last.headerOffset;
        place->virtualAddress = last.virtualAddress;
        // Only a certificate table may follow the section's data; other trailing data stays
        // where it is and the section moves behind it. So does another section's data that
        // reaches into this one's: the file may map the same bytes into both.
        const uint64_t ownEnd = static_cast<uint64_t>(last.rawOffset) + last.rawSize;
        const uint64_t ownStart =
            std::max<uint64_t>(last.rawOffset, RawEnd(image, image.sections.size() - 1));
        place->headLength = last.rawSize != 0 && keptEnd <= ownEnd ? ownStart : keptEnd;
        place->rawOffset = AlignUp(place->headLength, image.fileAlignment);
        return true;
    }
    place->headerAt = image.sectionTableOffset +
                      kSectionHeaderSize * static_cast<uint32_t>(image.sections.size());
    if (image.sections.size() >= 0xFFFF || !RoomForSectionHeader(file, image, place->headerAt)) {
        return Fail(error, u"the program has no room for another section header");
    }
    place->virtualAddress = AlignUp(
        std::max<uint64_t>(SectionVirtualEnd(image, last), oldSizeOfImage), image.sectionAlignment);
    place->headLength = keptEnd;
    place->rawOffset = AlignUp(keptEnd, image.fileAlignment);
    return true;
}

// Sizes the section for `contentSize` bytes of resources; false when the result would not fit
// a PE file or Windows could not map it.
bool SizeSection(const PeImage& image, uint32_t contentSize, Placement* place,
                 std::u16string* error) {
    place->rawSize = AlignUp(contentSize, image.fileAlignment);
    place->sizeOfImage = AlignUp(place->virtualAddress + contentSize, image.sectionAlignment);
    if (place->rawOffset + place->rawSize > UINT32_MAX || place->sizeOfImage > UINT32_MAX) {
        return Fail(error, u"the program would be larger than a PE file can be (4 GiB)");
    }
    if (place->sizeOfImage > kMaxMappedImageSize) {
        return Fail(error,
                    u"the packed program would take " + SizeText(place->sizeOfImage) +
                        u" of address space, and Windows maps a program whole below 2 GiB beside "
                        u"its own libraries: at most " +
                        SizeText(kMaxMappedImageSize) +
                        u" can be relied on; make the payload smaller (a higher --level, fewer "
                        u"files)");
    }
    return true;
}

// Copies the kept part of the file into `head` and points its headers at the new section,
// with the checksum left zero.
void PatchHeaders(const ByteBuffer& file, const PeImage& image, const Placement& place,
                  uint32_t contentSize, bool inPlace, ByteBuffer* head) {
    head->assign(file.begin(), file.begin() + static_cast<ptrdiff_t>(place.headLength));
    head->resize(static_cast<size_t>(place.rawOffset), 0);
    uint8_t* header = head->data() + place.headerAt;
    if (!inPlace) {
        std::memset(header, 0, kSectionHeaderSize);
        std::memcpy(header, kNewSectionName, sizeof kNewSectionName);
        WriteLe32(header + kSectionCharacteristics, kResourceSectionFlags);
        uint8_t* count = head->data() + image.fileHeaderOffset + kFileSectionCount;
        WriteLe16(count, static_cast<uint16_t>(ReadLe16(count) + 1));
    }
    WriteLe32(header + kSectionVirtualSize, contentSize);
    WriteLe32(header + kSectionVirtualAddress, static_cast<uint32_t>(place.virtualAddress));
    WriteLe32(header + kSectionRawSize, static_cast<uint32_t>(place.rawSize));
    WriteLe32(header + kSectionRawOffset, static_cast<uint32_t>(place.rawOffset));

    uint8_t* opt = head->data() + image.optionalHeaderOffset;
    WriteLe32(opt + kOptionalSizeOfImage, static_cast<uint32_t>(place.sizeOfImage));
    uint8_t* resources = opt + kOptionalDirectories + kDirectorySize * kResourceDirectory;
    WriteLe32(resources + kDirectoryAddress, static_cast<uint32_t>(place.virtualAddress));
    WriteLe32(resources + kDirectoryLength, contentSize);
    if (image.directoryCount > kCertificateDirectory) {
        uint8_t* certificate = opt + kOptionalDirectories + kDirectorySize * kCertificateDirectory;
        WriteLe32(certificate + kDirectoryAddress, 0);
        WriteLe32(certificate + kDirectoryLength, 0);
    }
    WriteLe32(opt + kOptionalCheckSum, 0);
}

// The new file's pieces: the head, the tables, each leaf at its offset, zeros to `rawSize`.
void CollectPieces(const ResourceTree& tree, uint64_t rawSize, PackedImage* packed) {
    std::vector<ByteSpan>& pieces = packed->pieces;
    pieces.clear();
    pieces.push_back({packed->head.data(), packed->head.size()});
    pieces.push_back({packed->layout.tables.data(), packed->layout.tables.size()});
    uint64_t position = packed->layout.tables.size();
    for (size_t i = 0; i < tree.leaves.size(); ++i) {
        AddPadding(&pieces, &position, packed->layout.dataOffsets[i]);
        const ResourceLeaf& leaf = tree.leaves[i];
        if (leaf.streamed) {
            pieces.push_back({nullptr, leaf.streamedSize, leaf.streamedWordSum});
        } else if (!leaf.data.empty()) {
            pieces.push_back({leaf.data.data(), leaf.data.size()});
        }
        position += LeafSize(leaf);
    }
    AddPadding(&pieces, &position, rawSize);
}

}  // namespace

bool BuildPackedImage(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                      PackedImage* packed, std::u16string* error) {
    // The resource directory's slot must exist: past the declared slots the optional header
    // may already be the section table.
    if (image.directoryCount <= kResourceDirectory) {
        return Fail(error, u"the program has no slot for a resource directory");
    }
    const uint64_t keptEnd = KeptEnd(file, image, &packed->droppedSignature);
    packed->inPlace = CanRewriteInPlace(image);
    Placement place{};
    if (!PlaceSection(file, image, keptEnd, packed->inPlace, &place, error)) return false;
    if (place.virtualAddress > UINT32_MAX ||
        !LayOutResources(tree, static_cast<uint32_t>(place.virtualAddress), &packed->layout)) {
        return Fail(error, u"the resources would not fit the 4 GiB address space");
    }
    const uint32_t contentSize = packed->layout.size;
    if (!SizeSection(image, contentSize, &place, error)) return false;
    PatchHeaders(file, image, place, contentSize, packed->inPlace, &packed->head);
    CollectPieces(*tree, place.rawSize, packed);
    packed->size = place.rawOffset + place.rawSize;
    WriteLe32(packed->head.data() + image.optionalHeaderOffset + kOptionalCheckSum,
              PeChecksum(packed->pieces));
    return true;
}

uint32_t PeChecksum(const std::vector<ByteSpan>& pieces) {
    PeWordSum sum;
    uint64_t offset = 0;
    for (const ByteSpan& piece : pieces) {
        if (piece.data != nullptr) {
            sum.Add(offset, piece.data, piece.size);
        } else {
            sum.total += piece.wordSum;
        }
        offset += piece.size;
    }
    return FinishPeChecksum(sum.total, offset);
}
