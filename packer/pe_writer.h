// Writes a PE image again with a new resource section: in place when the resources already
// form the last section, else as a new last section. Everything else of the image is kept byte
// for byte, except the fields that must follow: the section header, the resource directory,
// SizeOfImage, the checksum, and a certificate table, which is dropped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/byte_io.h"
#include "packer/pe_image.h"
#include "packer/resource_tree.h"

// A piece of the new file. One without data is a streamed leaf's bytes, written apart: only its
// size and the PE checksum's sum of its words (a PeWordSum from its start) are known here.
struct ByteSpan {
    const uint8_t* data;
    size_t size;
    uint64_t wordSum = 0;
};

// The new file as pieces in file order. They point into `head`, `layout.tables`, the tree's
// leaves and a static block of zeros: keep the tree and this record where they are while the
// pieces are used. A streamed leaf is a piece without data, whose bytes the caller writes at its
// place, `head.size() + layout.dataOffsets[i]` (the same before and after its size is known).
struct PackedImage {
    ByteBuffer head;  // the image up to the new section's data, headers updated
    ResourceLayout layout;
    std::vector<ByteSpan> pieces;
    uint64_t size;
    bool inPlace;           // the resource section was rewritten where it was
    bool droppedSignature;  // the image carried a certificate table
};

// The largest image the packer writes. Windows maps a program's image whole into the lowest
// 2 GiB of the process, large-address aware or not, where the system's own libraries lie too;
// images of up to about 1.8 GiB are reported to load. 1.75 GiB leaves a margin.
constexpr uint64_t kMaxMappedImageSize = 0x70000000;

// Lays out `tree` (sorting it) and builds the new image. False with a reason when the image
// has no room for another section header, the result would not fit a PE file, or Windows could
// not map it (more than kMaxMappedImageSize).
bool BuildPackedImage(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                      PackedImage* packed, std::u16string* error);

// The PE checksum of the pieces (its own field must hold zero): the one's-complement sum of the
// file's 16-bit words, plus the file's length. A piece without data must start at an even offset.
uint32_t PeChecksum(const std::vector<ByteSpan>& pieces);
