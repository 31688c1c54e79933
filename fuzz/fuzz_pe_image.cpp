// Reads arbitrary bytes as a launcher: the PE layout, the resource tree and any version record,
// then packs it as the packer does (new payload, icon, version texts, names and texts) and reads
// the result back. Besides the sanitizers it checks what the packer relies on: a refusal always
// says why, an image that was packed reads back with the new payload, and a version record
// that was written reads back and writes the same again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "packer/icon_group.h"
#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/resource_tree.h"
#include "packer/string_table.h"
#include "packer/version_record.h"

namespace {

// Aborts with the line of the broken check, which the crash report then shows.
void Require(bool condition, int line = __builtin_LINE()) {
    if (condition) return;
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
}

// Edits every version record that reads; a written record must read back and write the same.
void EditVersionRecords(ResourceTree* tree) {
    VersionEdit edit;
    edit.setNumbers = true;
    edit.numbers[0] = 1;
    edit.texts = {{u"ProductName", u"fuzz"}, {u"CompanyName", u"x"}};
    for (ResourceLeaf& leaf : tree->leaves) {
        if (!KeyIsNumber(leaf.type, kResourceVersion)) continue;
        VersionNode root;
        std::u16string error;
        if (!ReadVersionRecord(leaf.data, &root, &error)) {
            Require(!error.empty());
            continue;
        }
        EditVersionRecord(&root, edit, &error);
        ByteBuffer written;
        if (!WriteVersionRecord(root, &written)) continue;
        VersionNode again;
        ByteBuffer rewritten;
        Require(ReadVersionRecord(written, &again, &error));
        Require(WriteVersionRecord(again, &rewritten) && rewritten == written);
        leaf.data = written;
    }
}

// Sets two of the launcher's names and texts: unless a block is refused as damaged (with a
// reason), the launcher then reads exactly those values.
void EditStrings(ResourceTree* tree) {
    std::u16string error;
    const SettingValues values = {{LAUNCHER_STRING_FOLDER_NAME, u"Fuzz"},
                                  {LAUNCHER_STRING_TEXT_RUNNING, u"open"}};
    if (!SetStrings(tree, values, 1033, &error)) {
        Require(!error.empty());
        return;
    }
    const LauncherSettings settings = SettingsOfTree(*tree, 1033);
    Require(settings.folderName == u"Fuzz" && settings.textRunning == u"open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteBuffer file(data, data + size);
    PeImage image;
    ResourceTree tree;
    std::u16string error;
    if (!ReadPeImage(file, &image, &error) || !ReadResourceTree(file, image, &tree, &error)) {
        Require(!error.empty());
        return 0;
    }
    EditVersionRecords(&tree);
    EditStrings(&tree);
    const IconImage icon{16, 16, 0, 0, 1, 32, ByteBuffer(40, 0)};
    ReplaceIconGroup(&tree, {icon}, 1033, &error);
    const ByteBuffer payload = {'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0,
                                0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0};
    tree.leaves.push_back({ResourceKey{false, 0, u"ZIP"}, NumberKey(117), 1033, 0, payload});

    PackedImage packed;
    if (!BuildPackedImage(file, image, &tree, &packed, &error)) {
        Require(!error.empty());
        return 0;
    }
    ByteBuffer out;
    for (const ByteSpan& piece : packed.pieces)
        out.insert(out.end(), piece.data, piece.data + piece.size);
    Require(out.size() == packed.size);

    PeImage reread;
    ResourceTree rereadTree;
    Require(ReadPeImage(out, &reread, &error));
    Require(ReadResourceTree(out, reread, &rereadTree, &error));
    Require(rereadTree.leaves.size() == tree.leaves.size());
    bool found = false;
    for (const ResourceLeaf& leaf : rereadTree.leaves) {
        found = found || (KeyIsText(leaf.type, u"ZIP") && KeyIsNumber(leaf.name, 117) &&
                          leaf.data == payload);
    }
    Require(found);
    return 0;
}
