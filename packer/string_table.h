// The launcher's names and texts in its string table (resource type 6). The table comes in
// blocks of 16 strings: block n holds the ids 16(n-1) to 16n-1, each string as its length in
// 16-bit units followed by its units, unterminated; an absent string has length 0.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "launcher/launcher_settings.h"
#include "packer/byte_io.h"
#include "packer/resource_tree.h"

constexpr uint16_t kResourceString = 6;
constexpr size_t kStringsPerBlock = 16;

// Reads a block's 16 strings. False when its bytes end inside a string.
bool ReadStringBlock(const ByteBuffer& data, std::u16string strings[kStringsPerBlock]);
ByteBuffer WriteStringBlock(const std::u16string strings[kStringsPerBlock]);

// The values a launcher with these resources works with: each one its string table's (in
// `language` when the table has it, else in its first language) when present and usable, else
// the default, as the launcher itself decides.
LauncherSettings SettingsOfTree(const ResourceTree& tree, uint16_t language);

using SettingValues = std::vector<std::pair<uint16_t, std::u16string>>;

// Sets the values, in the form the table stores them (StoredSetting), in every language of the
// blocks that hold their ids, making a block in `language` where there is none. False with the
// reason when a block is damaged.
bool SetStrings(ResourceTree* tree, const SettingValues& values, uint16_t language,
                std::u16string* error);
