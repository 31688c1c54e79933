#include "tests/packer/packer_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/scratch_folder.h"

ByteBuffer Fixture(const char* name) {
    const ByteBuffer bytes =
        ToBuffer(ReadFileBytes(fs::u8path(std::string(TEST_DATA_DIR "/packer/") + name)));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

ByteBuffer ToBuffer(const std::string& bytes) { return ByteBuffer(bytes.begin(), bytes.end()); }

ByteBuffer Joined(const PackedImage& packed) {
    ByteBuffer out;
    for (const ByteSpan& piece : packed.pieces)
        out.insert(out.end(), piece.data, piece.data + piece.size);
    return out;
}

ResourceLeaf* FindLeaf(ResourceTree* tree, uint16_t type, uint16_t name) {
    for (ResourceLeaf& leaf : tree->leaves) {
        const bool typeMatches =
            type == 0 ? KeyIsText(leaf.type, u"zip") : KeyIsNumber(leaf.type, type);
        if (typeMatches && KeyIsNumber(leaf.name, name)) return &leaf;
    }
    return nullptr;
}

const ResourceLeaf* FindLeaf(const ResourceTree& tree, uint16_t type, uint16_t name) {
    return FindLeaf(const_cast<ResourceTree*>(&tree), type, name);
}

ReadImage MustRead(const ByteBuffer& file) {
    ReadImage read;
    std::u16string error;
    EXPECT_TRUE(ReadPeImage(file, &read.image, &error));
    EXPECT_TRUE(ReadResourceTree(file, read.image, &read.tree, &error));
    return read;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

FileTime AtUnixSeconds(int64_t seconds) {
    const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600) * 10000000;
    return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

std::vector<std::string> PackLeftovers(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().u8string();
        if (name.find("out") == 0 || name.find(".part") != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}
