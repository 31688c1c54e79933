// A program's resources as a flat list of (type, name, language) leaves with their bytes: read
// from the resource directory of a PE image, and laid out again as a new resource section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/byte_io.h"
#include "packer/pe_image.h"

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;

// A type or a name: a number, or a text (stored as the resource compiler wrote it).
struct ResourceKey {
    bool isNumber;
    uint16_t number;
    std::u16string text;
};

struct ResourceLeaf {
    ResourceKey type;
    ResourceKey name;
    uint16_t language;
    uint32_t codePage;
    ByteBuffer data;
    // A leaf whose bytes are written into the new file apart from the rest (the payload,
    // streamed) holds none in `data`: their count and the PE checksum's sum of them (a
    // PeWordSum from the leaf's start, which lies at an even offset).
    bool streamed = false;
    uint32_t streamedSize = 0;
    uint64_t streamedWordSum = 0;
};

// The size of a leaf's bytes, held or streamed.
inline uint64_t LeafSize(const ResourceLeaf& leaf) {
    return leaf.streamed ? leaf.streamedSize : leaf.data.size();
}

struct ResourceTree {
    // Characteristics, time stamp and version of the root table, given to every table written.
    uint32_t characteristics;
    uint32_t timeStamp;
    uint32_t version;
    std::vector<ResourceLeaf> leaves;  // in directory order
};

ResourceKey NumberKey(uint16_t number);
bool SameKey(const ResourceKey& a, const ResourceKey& b);

// Whether `key` is the text `text` (ignoring ASCII case, as resource lookups do) or the number.
bool KeyIsText(const ResourceKey& key, const char16_t* text);
bool KeyIsNumber(const ResourceKey& key, uint16_t number);

// Reads the image's resource directory. A tree that is not three levels deep, that refers to a
// table twice or whose offsets leave the file is malformed. An image without resources gives an
// empty tree.
bool ReadResourceTree(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                      std::u16string* error);

// The new section's tables: directories, data records and names, sorted as the loader's binary
// search expects. The leaves' bytes follow in the section at `dataOffsets` (from its start, in
// the order of the sorted leaves, which `tree` is put in); a leaf's offset depends on the leaves
// before it, never on its own size. False when it would not fit 32 bits.
struct ResourceLayout {
    ByteBuffer tables;
    std::vector<uint32_t> dataOffsets;
    uint32_t size;  // the whole section's content
};
bool LayOutResources(ResourceTree* tree, uint32_t sectionRva, ResourceLayout* layout);
