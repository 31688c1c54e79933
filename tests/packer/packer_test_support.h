// Shared pieces of the packer's suites: the fixture stubs, packing them in memory, and finding
// resources.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "packer/byte_io.h"
#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/resource_tree.h"
#include "platform/platform.h"

// A file of tests/data/packer.
ByteBuffer Fixture(const char* name);

ByteBuffer ToBuffer(const std::string& bytes);

// The pieces of a packed image as one file.
ByteBuffer Joined(const PackedImage& packed);

// The first leaf of a numbered type (or the payload type "ZIP" for 0) and name, or null.
const ResourceLeaf* FindLeaf(const ResourceTree& tree, uint16_t type, uint16_t name);
ResourceLeaf* FindLeaf(ResourceTree* tree, uint16_t type, uint16_t name);

// Reads `file` as an image and its resources; fails the test when it cannot.
struct ReadImage {
    PeImage image;
    ResourceTree tree;
};
ReadImage MustRead(const ByteBuffer& file);

// UTF-16 text for test messages, with "?" for what is not ASCII.
std::string Narrow(const std::u16string& text);

// The file time of a count of seconds since 1970-01-01 UTC.
FileTime AtUnixSeconds(int64_t seconds);

// What a packing left in `folder`'s top level: names that start with "out" or hold ".part",
// sorted.
std::vector<std::string> PackLeftovers(const std::filesystem::path& folder);
