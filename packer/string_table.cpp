#include "packer/string_table.h"

namespace {

uint16_t BlockOf(uint16_t id) { return static_cast<uint16_t>(id / kStringsPerBlock + 1); }

bool IsBlock(const ResourceLeaf& leaf, uint16_t block) {
    return KeyIsNumber(leaf.type, kResourceString) && KeyIsNumber(leaf.name, block);
}

}  // namespace

bool ReadStringBlock(const ByteBuffer& data, std::u16string strings[kStringsPerBlock]) {
    size_t at = 0;
    for (size_t i = 0; i < kStringsPerBlock; ++i) {
        if (!FitsIn(at, 2, data.size())) return false;
        const size_t units = ReadLe16(data.data() + at);
        at += 2;
        if (!FitsIn(at, 2 * units, data.size())) return false;
        strings[i].resize(units);
        for (size_t k = 0; k < units; ++k) strings[i][k] = ReadLe16(data.data() + at + 2 * k);
        at += 2 * units;
    }
    return true;  // resource compilers may pad the block; what follows is no string
}

ByteBuffer WriteStringBlock(const std::u16string strings[kStringsPerBlock]) {
    ByteBuffer data;
    for (size_t i = 0; i < kStringsPerBlock; ++i) {
        AppendLe16(&data, static_cast<uint16_t>(strings[i].size()));
        for (char16_t c : strings[i]) AppendLe16(&data, c);
    }
    return data;
}

LauncherSettings SettingsOfTree(const ResourceTree& tree, uint16_t language) {
    StoredStrings stored;
    for (const SettingField& field : kSettingFields) {
        const uint16_t block = BlockOf(field.id);
        const ResourceLeaf* chosen = nullptr;
        for (const ResourceLeaf& leaf : tree.leaves) {
            if (!IsBlock(leaf, block)) continue;
            if (chosen == nullptr || leaf.language == language) chosen = &leaf;
        }
        std::u16string strings[kStringsPerBlock];
        if (chosen == nullptr || !ReadStringBlock(chosen->data, strings)) continue;
        stored[field.id] = strings[field.id % kStringsPerBlock];
    }
    return SettingsOfTable(stored);
}

bool SetStrings(ResourceTree* tree, const SettingValues& values, uint16_t language,
                std::u16string* error) {
    for (const auto& value : values) {
        const uint16_t block = BlockOf(value.first);
        bool found = false;
        for (ResourceLeaf& leaf : tree->leaves) {
            if (!IsBlock(leaf, block)) continue;
            found = true;
            std::u16string strings[kStringsPerBlock];
            if (!ReadStringBlock(leaf.data, strings)) {
                *error = u"its string table is damaged (a string runs past its block's end)";
                return false;
            }
            strings[value.first % kStringsPerBlock] = StoredSetting(value.second);
            leaf.data = WriteStringBlock(strings);
        }
        if (!found) {
            std::u16string strings[kStringsPerBlock];
            strings[value.first % kStringsPerBlock] = StoredSetting(value.second);
            tree->leaves.push_back({NumberKey(kResourceString), NumberKey(block), language, 0,
                                    WriteStringBlock(strings)});
        }
    }
    return true;
}
