#include "packer/icon_group.h"

#include <algorithm>
#include <set>

#include "packer/text.h"

namespace {

constexpr uint32_t kIconDirectorySize = 6;
constexpr uint32_t kIconFileEntrySize = 16;
constexpr uint32_t kGroupEntrySize = 14;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsPng(const ByteBuffer& data) {
    return data.size() >= sizeof kPngSignature &&
           std::equal(kPngSignature, kPngSignature + sizeof kPngSignature, data.begin());
}

// A bitmap's own header: BITMAPINFOHEADER or one of its later, longer forms.
bool IsBitmap(const ByteBuffer& data) {
    if (data.size() < 40) return false;
    const uint32_t headerSize = ReadLe32(data.data());
    return (headerSize == 40 || headerSize == 108 || headerSize == 124) &&
           headerSize <= data.size();
}

// The icon numbers that a group's data lists (nothing for a group it cannot read).
std::set<uint16_t> GroupMembers(const ByteBuffer& group) {
    std::set<uint16_t> members;
    if (group.size() < kIconDirectorySize) return members;
    const uint32_t count = ReadLe16(group.data() + 4);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = kIconDirectorySize + static_cast<uint64_t>(kGroupEntrySize) * i;
        if (!FitsIn(at, kGroupEntrySize, group.size())) break;
        members.insert(ReadLe16(group.data() + at + 12));
    }
    return members;
}

bool IsGroup(const ResourceLeaf& leaf) { return KeyIsNumber(leaf.type, kResourceGroupIcon); }
bool IsIcon(const ResourceLeaf& leaf) { return KeyIsNumber(leaf.type, kResourceIcon); }

}  // namespace

bool ReadIconFile(const ByteBuffer& file, std::vector<IconImage>* images, std::u16string* error) {
    images->clear();
    if (file.size() < kIconDirectorySize || ReadLe16(file.data()) != 0 ||
        ReadLe16(file.data() + 2) != 1) {
        return Fail(error, u"not an icon file (no icon header)");
    }
    const uint32_t count = ReadLe16(file.data() + 4);
    if (count == 0) return Fail(error, u"the icon file holds no images");
    if (!FitsIn(kIconDirectorySize, static_cast<uint64_t>(kIconFileEntrySize) * count,
                file.size())) {
        return Fail(error, u"the icon file is truncated (its directory is incomplete)");
    }
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = file.data() + kIconDirectorySize + kIconFileEntrySize * i;
        const uint32_t size = ReadLe32(entry + 8);
        const uint32_t offset = ReadLe32(entry + 12);
        if (size == 0 || !FitsIn(offset, size, file.size())) {
            return Fail(error, u"the icon file is truncated (an image lies outside it)");
        }
        total += size;
        if (total > file.size()) return Fail(error, u"the icon file's images overlap");
        IconImage image{
            entry[0], entry[1], entry[2], entry[3], ReadLe16(entry + 4), ReadLe16(entry + 6), {}};
        image.data.assign(file.begin() + offset, file.begin() + offset + size);
        const bool png = IsPng(image.data);
        if (!png && !IsBitmap(image.data)) {
            return Fail(error, u"the icon file holds an image that is neither a bitmap nor a PNG");
        }
        // Icon files often leave these two at 0; an icon group needs them to choose an image.
        if (image.planes == 0) image.planes = 1;
        if (image.bitCount == 0) image.bitCount = png ? 32 : ReadLe16(image.data.data() + 14);
        images->push_back(std::move(image));
    }
    return true;
}

bool ReplaceIconGroup(ResourceTree* tree, const std::vector<IconImage>& images, uint16_t language,
                      std::u16string* error) {
    std::vector<ResourceLeaf>& leaves = tree->leaves;
    const auto first = std::find_if(leaves.begin(), leaves.end(), IsGroup);
    ResourceKey groupName = NumberKey(1);
    std::vector<uint16_t> languages;
    std::set<uint16_t> oldMembers;
    std::set<uint16_t> keptMembers;
    if (first != leaves.end()) {
        groupName = first->name;
        for (const ResourceLeaf& leaf : leaves) {
            if (!IsGroup(leaf)) continue;
            const bool replaced = SameKey(leaf.name, groupName);
            if (replaced) languages.push_back(leaf.language);
            std::set<uint16_t> members = GroupMembers(leaf.data);
            (replaced ? oldMembers : keptMembers).insert(members.begin(), members.end());
        }
    } else {
        languages.push_back(language);
    }

    leaves.erase(std::remove_if(leaves.begin(), leaves.end(),
                                [&](const ResourceLeaf& leaf) {
                                    if (IsGroup(leaf)) return SameKey(leaf.name, groupName);
                                    return IsIcon(leaf) && leaf.name.isNumber &&
                                           oldMembers.count(leaf.name.number) != 0 &&
                                           keptMembers.count(leaf.name.number) == 0;
                                }),
                 leaves.end());

    std::set<uint16_t> used;
    for (const ResourceLeaf& leaf : leaves) {
        if (IsIcon(leaf) && leaf.name.isNumber) used.insert(leaf.name.number);
    }
    std::vector<uint16_t> numbers;
    for (uint32_t n = 1; n <= 0xFFFF && numbers.size() < images.size(); ++n) {
        if (used.count(static_cast<uint16_t>(n)) == 0) numbers.push_back(static_cast<uint16_t>(n));
    }
    if (numbers.size() < images.size()) return Fail(error, u"no free numbers for the icon images");

    ByteBuffer group;
    AppendLe16(&group, 0);
    AppendLe16(&group, 1);
    AppendLe16(&group, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        group.insert(group.end(), {image.width, image.height, image.colorCount, image.reserved});
        AppendLe16(&group, image.planes);
        AppendLe16(&group, image.bitCount);
        AppendLe32(&group, static_cast<uint32_t>(image.data.size()));
        AppendLe16(&group, numbers[i]);
    }
    for (uint16_t groupLanguage : languages) {
        for (size_t i = 0; i < images.size(); ++i) {
            leaves.push_back({NumberKey(kResourceIcon), NumberKey(numbers[i]), groupLanguage, 0,
                              images[i].data});
        }
        leaves.push_back({NumberKey(kResourceGroupIcon), groupName, groupLanguage, 0, group});
    }
    return true;
}
