#include "packer/resource_tree.h"

#include <algorithm>
#include <set>

#include "packer/text.h"

namespace {

constexpr uint32_t kDataAlignment = 8;

struct TreeReader {
    const ByteBuffer& file;
    const PeImage& image;
    uint32_t base;   // file offset of the root table
    uint32_t limit;  // bytes of the section's file data from `base` on
    std::set<uint32_t> visited;
    uint64_t dataBytes;  // of all leaves so far
    ResourceTree* tree;
    std::u16string* error;

    bool ReadKey(uint32_t field, ResourceKey* key) {
        if ((field & kResourceNameBit) == 0) {
            if (field > 0xFFFF)
                return Fail(error, u"malformed: in its resources, an identifier is too large");
            *key = NumberKey(static_cast<uint16_t>(field));
            return true;
        }
        const uint32_t at = field & ~kResourceNameBit;
        if (!FitsIn(at, 2, limit))
            return Fail(error, u"malformed: in its resources, a name lies outside them");
        const uint32_t length = ReadLe16(file.data() + base + at);
        if (!FitsIn(at + 2ull, 2ull * length, limit)) {
            return Fail(error, u"malformed: in its resources, a name lies outside them");
        }
        key->isNumber = false;
        key->number = 0;
        key->text.clear();
        for (uint32_t i = 0; i < length; ++i) {
            key->text += static_cast<char16_t>(ReadLe16(file.data() + base + at + 2 + 2 * i));
        }
        return true;
    }

    bool ReadLeaf(uint32_t at, const ResourceKey& type, const ResourceKey& name,
                  uint32_t language) {
        if (!FitsIn(at, kResourceRecordSize, limit)) {
            return Fail(error, u"malformed: in its resources, a data record lies outside them");
        }
        const uint8_t* record = file.data() + base + at;
        const uint32_t rva = ReadLe32(record + kResourceRecordAddress);
        const uint32_t size = ReadLe32(record + kResourceRecordDataSize);
        uint32_t offset = 0;
        if (size != 0 && !FileOffsetOf(image, rva, size, &offset)) {
            return Fail(error,
                        u"malformed: in its resources, a resource's data lies outside the file");
        }
        // Resources do not share bytes: more data than the file holds means records that
        // point at the same bytes again and again.
        dataBytes += size;
        if (dataBytes > file.size())
            return Fail(error, u"malformed: in its resources, data overlaps");
        ResourceLeaf leaf{type,
                          name,
                          static_cast<uint16_t>(language),
                          ReadLe32(record + kResourceRecordCodePage),
                          {}};
        leaf.data.assign(file.begin() + offset, file.begin() + offset + size);
        tree->leaves.push_back(std::move(leaf));
        return true;
    }

    // Reads the table at `at` (from the root) of the given level: 0 types, 1 names, 2 languages.
    bool ReadTable(uint32_t at, int level, const ResourceKey& type, const ResourceKey& name) {
        if (!visited.insert(at).second) {
            return Fail(error, u"malformed: in its resources, a table is referred to twice");
        }
        if (!FitsIn(at, kResourceTableHeaderSize, limit)) {
            return Fail(error, u"malformed: in its resources, a table lies outside them");
        }
        const uint8_t* header = file.data() + base + at;
        const uint32_t count = static_cast<uint32_t>(ReadLe16(header + kResourceTableNamedCount)) +
                               ReadLe16(header + kResourceTableNumberedCount);
        if (!FitsIn(at + kResourceTableHeaderSize,
                    static_cast<uint64_t>(count) * kResourceEntrySize, limit)) {
            return Fail(error, u"malformed: in its resources, a table runs past their end");
        }
        if (level == 0) {
            tree->characteristics = ReadLe32(header + kResourceTableCharacteristics);
            tree->timeStamp = ReadLe32(header + kResourceTableTimeStamp);
            tree->version = ReadLe32(header + kResourceTableVersion);
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = header + kResourceTableHeaderSize + i * kResourceEntrySize;
            const uint32_t keyField = ReadLe32(entry + kResourceEntryKey);
            const uint32_t target = ReadLe32(entry + kResourceEntryTarget);
            const bool isTable = (target & kResourceSubdirectoryBit) != 0;
            if (isTable != (level < 2)) {
                return Fail(error,
                            u"malformed: in its resources, the tree is not three levels deep");
            }
            if (level == 2) {
                if ((keyField & kResourceNameBit) != 0 || keyField > 0xFFFF) {
                    return Fail(error, u"malformed: in its resources, a language is not a number");
                }
                if (!ReadLeaf(target, type, name, keyField)) return false;
                continue;
            }
            ResourceKey key;
            if (!ReadKey(keyField, &key)) return false;
            const uint32_t next = target & ~kResourceSubdirectoryBit;
            if (!(level == 0 ? ReadTable(next, 1, key, name) : ReadTable(next, 2, type, key))) {
                return false;
            }
        }
        return true;
    }
};

// The order of a table's entries: texts first, by their units, then numbers, rising.
bool KeyBefore(const ResourceKey& a, const ResourceKey& b) {
    if (a.isNumber != b.isNumber) return !a.isNumber;
    if (a.isNumber) return a.number < b.number;
    return a.text < b.text;
}

bool LeafBefore(const ResourceLeaf& a, const ResourceLeaf& b) {
    if (!SameKey(a.type, b.type)) return KeyBefore(a.type, b.type);
    if (!SameKey(a.name, b.name)) return KeyBefore(a.name, b.name);
    return a.language < b.language;
}

// One table of the section being written. Each entry leads to another table or, in the
// language tables, to a leaf's data record.
struct TableEntry {
    ResourceKey key;
    size_t target;  // a table's index, or a leaf's in the last level
    uint32_t textOffset = 0;
};
struct Table {
    std::vector<TableEntry> entries;
    bool leadsToLeaves = false;
    uint32_t offset = 0;
};

// The tables of sorted leaves: the root, then one table per type, then one per (type, name).
std::vector<Table> GroupIntoTables(const std::vector<ResourceLeaf>& leaves) {
    std::vector<size_t> typeOfName;  // per (type, name) group: its type's number
    size_t types = 0;
    for (size_t i = 0; i < leaves.size(); ++i) {
        const bool newType = i == 0 || !SameKey(leaves[i].type, leaves[i - 1].type);
        if (newType) ++types;
        if (newType || !SameKey(leaves[i].name, leaves[i - 1].name)) {
            typeOfName.push_back(types - 1);
        }
    }
    std::vector<Table> tables(1 + types + typeOfName.size());
    size_t type = 0;
    size_t name = 0;
    for (size_t i = 0; i < leaves.size(); ++i) {
        const bool newType = i == 0 || !SameKey(leaves[i].type, leaves[i - 1].type);
        const bool newName = newType || !SameKey(leaves[i].name, leaves[i - 1].name);
        if (i > 0 && newType) ++type;
        if (i > 0 && newName) ++name;
        if (newType) tables[0].entries.push_back({leaves[i].type, 1 + type});
        if (newName) tables[1 + type].entries.push_back({leaves[i].name, 1 + types + name});
        tables[1 + types + name].entries.push_back({NumberKey(leaves[i].language), i});
        tables[1 + types + name].leadsToLeaves = true;
    }
    return tables;
}

void PutTableHeader(ByteBuffer* out, const ResourceTree& tree, const Table& table) {
    uint16_t texts = 0;
    for (const TableEntry& entry : table.entries) texts += entry.key.isNumber ? 0 : 1;
    AppendLe32(out, tree.characteristics);
    AppendLe32(out, tree.timeStamp);
    AppendLe32(out, tree.version);
    AppendLe16(out, texts);
    AppendLe16(out, static_cast<uint16_t>(table.entries.size() - texts));
}

}  // namespace

ResourceKey NumberKey(uint16_t number) { return ResourceKey{true, number, {}}; }

bool SameKey(const ResourceKey& a, const ResourceKey& b) {
    return a.isNumber == b.isNumber && a.number == b.number && a.text == b.text;
}

bool KeyIsText(const ResourceKey& key, const char16_t* text) {
    return !key.isNumber && SameIgnoringAsciiCase(key.text, text);
}

bool KeyIsNumber(const ResourceKey& key, uint16_t number) {
    return key.isNumber && key.number == number;
}

bool ReadResourceTree(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                      std::u16string* error) {
    *tree = ResourceTree{};
    if (image.directoryCount <= kResourceDirectory) return true;
    const PeDirectory& directory = image.directories[kResourceDirectory];
    if (directory.address == 0 && directory.size == 0) return true;
    const PeSection* section = SectionAt(image, directory.address);
    uint32_t base = 0;
    if (section == nullptr || !FileOffsetOf(image, directory.address, 1, &base)) {
        *error = u"malformed: in its resources, their directory lies outside the file";
        return false;
    }
    const uint32_t limit = section->rawSize - (directory.address - section->virtualAddress);
    TreeReader reader{file, image, base, limit, {}, 0, tree, error};
    return reader.ReadTable(0, 0, ResourceKey{}, ResourceKey{});
}

bool LayOutResources(ResourceTree* tree, uint32_t sectionRva, ResourceLayout* layout) {
    std::stable_sort(tree->leaves.begin(), tree->leaves.end(), LeafBefore);
    const std::vector<ResourceLeaf>& leaves = tree->leaves;
    std::vector<Table> tables = GroupIntoTables(leaves);
    for (const Table& table : tables) {
        if (table.entries.size() > 0xFFFF) return false;  // the counts are 16-bit
    }

    // Tables first, then the data records, then the names, then each leaf's bytes.
    uint64_t offset = 0;
    for (Table& table : tables) {
        table.offset = static_cast<uint32_t>(offset);
        offset += kResourceTableHeaderSize + kResourceEntrySize * table.entries.size();
    }
    const uint64_t recordsAt = offset;
    offset += kResourceRecordSize * leaves.size();
    for (Table& table : tables) {
        for (TableEntry& entry : table.entries) {
            if (entry.key.isNumber) continue;
            entry.textOffset = static_cast<uint32_t>(offset);
            offset += 2 + 2 * entry.key.text.size();
        }
    }
    layout->dataOffsets.clear();
    for (const ResourceLeaf& leaf : leaves) {
        offset = AlignUp(offset, kDataAlignment);
        layout->dataOffsets.push_back(static_cast<uint32_t>(offset));
        offset += LeafSize(leaf);
        if (offset + sectionRva > UINT32_MAX) return false;
    }
    if (offset + sectionRva > UINT32_MAX) return false;
    layout->size = static_cast<uint32_t>(offset);

    ByteBuffer& out = layout->tables;
    out.clear();
    for (const Table& table : tables) {
        PutTableHeader(&out, *tree, table);
        for (const TableEntry& entry : table.entries) {
            AppendLe32(&out,
                       entry.key.isNumber ? entry.key.number : entry.textOffset | kResourceNameBit);
            AppendLe32(&out,
                       table.leadsToLeaves
                           ? static_cast<uint32_t>(recordsAt + kResourceRecordSize * entry.target)
                           : tables[entry.target].offset | kResourceSubdirectoryBit);
        }
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        AppendLe32(&out, sectionRva + layout->dataOffsets[i]);
        AppendLe32(&out, static_cast<uint32_t>(LeafSize(leaves[i])));
        AppendLe32(&out, leaves[i].codePage);
        AppendLe32(&out, 0);
    }
    for (const Table& table : tables) {
        for (const TableEntry& entry : table.entries) {
            if (entry.key.isNumber) continue;
            AppendLe16(&out, static_cast<uint16_t>(entry.key.text.size()));
            for (char16_t c : entry.key.text) AppendLe16(&out, c);
        }
    }
    return true;
}
