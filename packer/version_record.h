// A program's version record (VS_VERSIONINFO) as a tree of nodes: read, edited and written
// again. Nodes that are not edited keep their bytes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "packer/byte_io.h"

struct VersionNode {
    std::u16string key;
    uint16_t type;         // 1 for a text value, 0 for binary data
    uint16_t valueLength;  // as stored: units for text, bytes for binary data
    ByteBuffer value;
    std::vector<VersionNode> children;
    bool edited;  // the value was set here: its length is counted anew
};

// What the packer changes: the four version numbers (file and product, in the fixed record and
// in the "FileVersion" and "ProductVersion" texts) and texts by key, in every string table.
struct VersionEdit {
    bool setNumbers = false;
    uint16_t numbers[4] = {};
    std::vector<std::pair<std::u16string, std::u16string>> texts;  // key, value
};

bool ReadVersionRecord(const ByteBuffer& data, VersionNode* root, std::u16string* error);

// Applies the edit. Texts missing from a string table are added to it; a record without string
// tables gets one for Chinese (PRC) in UTF-16, "080404b0". False when the record holds no
// fixed version block.
bool EditVersionRecord(VersionNode* root, const VersionEdit& edit, std::u16string* error);

// The texts of the record's first string table, in their order: key and value.
std::vector<std::pair<std::u16string, std::u16string>> VersionTexts(const VersionNode& root);

// False when the record would outgrow its 16-bit length.
bool WriteVersionRecord(const VersionNode& root, ByteBuffer* out);

// The "A.B.C.D" text of four numbers.
std::u16string VersionText(const uint16_t numbers[4]);
