#include "packer/version_record.h"

#include <string>

#include "packer/text.h"

namespace {

constexpr uint32_t kNodeHeaderSize = 6;
constexpr int kMaxDepth = 6;  // the record, its blocks, their tables, the texts, and a margin
constexpr uint32_t kFixedInfoSize = 52;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr char16_t kDefaultTable[] = u"080404b0";

uint64_t Align4(uint64_t value) { return AlignUp(value, 4); }

bool ReadNode(const ByteBuffer& data, uint64_t at, uint64_t end, int depth, VersionNode* node,
              uint64_t* length) {
    if (depth > kMaxDepth || !FitsIn(at, kNodeHeaderSize, end)) return false;
    const uint8_t* p = data.data();
    const uint32_t nodeLength = ReadLe16(p + at);
    if (nodeLength < kNodeHeaderSize || !FitsIn(at, nodeLength, end)) return false;
    const uint64_t nodeEnd = at + nodeLength;
    node->valueLength = ReadLe16(p + at + 2);
    node->type = ReadLe16(p + at + 4);
    node->edited = false;
    node->key.clear();
    uint64_t pos = at + kNodeHeaderSize;
    for (;; pos += 2) {
        if (!FitsIn(pos, 2, nodeEnd)) return false;
        const char16_t c = ReadLe16(p + pos);
        if (c == 0) break;
        node->key += c;
    }
    pos = Align4(pos + 2);
    const uint64_t valueBytes = node->type == 1 ? 2ull * node->valueLength : node->valueLength;
    if (valueBytes != 0 && !FitsIn(pos, valueBytes, nodeEnd)) return false;
    node->value.assign(p + pos, p + pos + valueBytes);
    pos = Align4(pos + valueBytes);
    node->children.clear();
    while (pos < nodeEnd) {
        VersionNode child;
        uint64_t childLength = 0;
        if (!ReadNode(data, pos, nodeEnd, depth + 1, &child, &childLength)) return false;
        node->children.push_back(std::move(child));
        pos = Align4(pos + childLength);
    }
    *length = nodeLength;
    return true;
}

bool WriteNode(const VersionNode& node, ByteBuffer* out) {
    const size_t start = out->size();
    out->resize(start + kNodeHeaderSize);
    for (char16_t c : node.key) AppendLe16(out, c);
    AppendLe16(out, 0);
    PadTo(out, 4);
    out->insert(out->end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        PadTo(out, 4);
        if (!WriteNode(child, out)) return false;
    }
    const size_t length = out->size() - start;
    const size_t valueLength = !node.edited     ? node.valueLength
                               : node.type == 1 ? node.value.size() / 2
                                                : node.value.size();
    if (length > 0xFFFF || valueLength > 0xFFFF) return false;
    WriteLe16(out->data() + start, static_cast<uint16_t>(length));
    WriteLe16(out->data() + start + 2, static_cast<uint16_t>(valueLength));
    WriteLe16(out->data() + start + 4, node.type);
    return true;
}

VersionNode TextNode(const std::u16string& key, const std::u16string& text) {
    VersionNode node{key, 1, 0, {}, {}, true};
    for (char16_t c : text) AppendLe16(&node.value, c);
    AppendLe16(&node.value, 0);
    return node;
}

VersionNode* FindChild(VersionNode* parent, const std::u16string& key) {
    for (VersionNode& child : parent->children) {
        // Keys are looked up as the version query does: ignoring ASCII case.
        if (SameIgnoringAsciiCase(child.key, key)) return &child;
    }
    return nullptr;
}

void SetText(VersionNode* table, const std::u16string& key, const std::u16string& text) {
    VersionNode* found = FindChild(table, key);
    if (found == nullptr) {
        table->children.push_back(TextNode(key, text));
        return;
    }
    const std::vector<VersionNode> children = std::move(found->children);
    *found = TextNode(found->key, text);
    found->children = children;
}

}  // namespace

bool ReadVersionRecord(const ByteBuffer& data, VersionNode* root, std::u16string* error) {
    uint64_t length = 0;
    if (!ReadNode(data, 0, data.size(), 0, root, &length)) {
        *error = u"its version record is malformed";
        return false;
    }
    return true;
}

bool EditVersionRecord(VersionNode* root, const VersionEdit& edit, std::u16string* error) {
    if (root->value.size() < kFixedInfoSize ||
        ReadLe32(root->value.data()) != kFixedInfoSignature) {
        *error = u"its version record has no fixed version block";
        return false;
    }
    std::vector<std::pair<std::u16string, std::u16string>> texts = edit.texts;
    if (edit.setNumbers) {
        const uint32_t high = (static_cast<uint32_t>(edit.numbers[0]) << 16) | edit.numbers[1];
        const uint32_t low = (static_cast<uint32_t>(edit.numbers[2]) << 16) | edit.numbers[3];
        for (uint32_t at : {8u, 16u}) {  // file version, then product version
            WriteLe32(root->value.data() + at, high);
            WriteLe32(root->value.data() + at + 4, low);
        }
        texts.emplace_back(u"FileVersion", VersionText(edit.numbers));
        texts.emplace_back(u"ProductVersion", VersionText(edit.numbers));
    }
    if (texts.empty()) return true;

    VersionNode* strings = FindChild(root, u"StringFileInfo");
    if (strings == nullptr) {
        root->children.insert(root->children.begin(),
                              VersionNode{u"StringFileInfo", 1, 0, {}, {}, true});
        strings = &root->children.front();
    }
    if (strings->children.empty()) {
        strings->children.push_back(VersionNode{kDefaultTable, 1, 0, {}, {}, true});
    }
    for (VersionNode& table : strings->children) {
        for (const auto& text : texts) SetText(&table, text.first, text.second);
    }
    return true;
}

std::vector<std::pair<std::u16string, std::u16string>> VersionTexts(const VersionNode& root) {
    std::vector<std::pair<std::u16string, std::u16string>> texts;
    for (const VersionNode& block : root.children) {
        if (!SameIgnoringAsciiCase(block.key, u"StringFileInfo") || block.children.empty()) {
            continue;
        }
        for (const VersionNode& text : block.children.front().children) {
            std::u16string value;
            for (size_t at = 0; at + 1 < text.value.size(); at += 2) {
                const char16_t c = ReadLe16(text.value.data() + at);
                if (c == 0) break;
                value += c;
            }
            texts.emplace_back(text.key, value);
        }
        break;
    }
    return texts;
}

bool WriteVersionRecord(const VersionNode& root, ByteBuffer* out) {
    out->clear();
    return WriteNode(root, out);
}

std::u16string VersionText(const uint16_t numbers[4]) {
    std::u16string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += u'.';
        for (char c : std::to_string(numbers[i])) text += static_cast<char16_t>(c);
    }
    return text;
}
