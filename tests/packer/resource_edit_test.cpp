// Icons and the version record: what the packer reads from .ico files and stubs, and how it
// replaces them.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "packer/command_line.h"
#include "packer/icon_group.h"
#include "packer/manifest.h"
#include "packer/version_record.h"
#include "tests/packer/packer_test_support.h"
#include "tests/support/scratch_folder.h"

namespace {

// The icon numbers that a group's data lists, in order.
std::vector<uint16_t> GroupNumbers(const ByteBuffer& group) {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; i < ReadLe16(group.data() + 4); ++i) {
        numbers.push_back(ReadLe16(group.data() + 6 + 14 * i + 12));
    }
    return numbers;
}

TEST(IconFile, ReadsEveryImageWithItsDirectoryFields) {
    std::vector<IconImage> images;
    std::u16string error;
    ASSERT_TRUE(ReadIconFile(Fixture("icon_two_sizes.ico"), &images, &error));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].width, 48);
    EXPECT_EQ(ReadLe32(images[0].data.data()), 40u);  // a bitmap with its header
    EXPECT_EQ(images[1].width, 64);
    EXPECT_EQ(images[1].data[1], 'P');  // a PNG file
    EXPECT_EQ(images[1].bitCount, 32);
}

TEST(IconFile, FillsInPlanesAndBitCountLeftAtZero) {
    ByteBuffer file = Fixture("icon_two_sizes.ico");
    for (int i = 0; i < 2; ++i) {
        WriteLe16(file.data() + 6 + 16 * i + 4, 0);
        WriteLe16(file.data() + 6 + 16 * i + 6, 0);
    }
    std::vector<IconImage> images;
    std::u16string error;
    ASSERT_TRUE(ReadIconFile(file, &images, &error));
    for (const IconImage& image : images) {
        EXPECT_EQ(image.planes, 1);
        EXPECT_EQ(image.bitCount, 32);  // from the bitmap header, and PNG images are 32-bit
    }
}

TEST(IconFile, RefusesFilesThatAreNotIcons) {
    const ByteBuffer good = Fixture("icon_two_sizes.ico");
    struct Case {
        const char* what;
        ByteBuffer file;
        const char16_t* reason;
    };
    std::vector<Case> cases = {
        {"empty", {}, u"no icon header"},
        {"a program", Fixture("stub_rsrc_last.exe"), u"no icon header"},
        {"a cursor", good, u"no icon header"},
        {"no images", good, u"no images"},
        {"directory cut off", ByteBuffer(good.begin(), good.begin() + 20),
         u"directory is incomplete"},
        {"image cut off", ByteBuffer(good.begin(), good.end() - 1), u"image lies outside"},
        {"image of unknown kind", good, u"neither a bitmap nor a PNG"},
    };
    cases[2].file[2] = 2;
    WriteLe16(cases[3].file.data() + 4, 0);
    WriteLe32(cases[6].file.data() + ReadLe32(good.data() + 6 + 12), 41);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<IconImage> images;
        std::u16string error;
        EXPECT_FALSE(ReadIconFile(c.file, &images, &error));
        EXPECT_NE(error.find(c.reason), std::u16string::npos) << Narrow(error);
    }
}

class IconGroup : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_ = MustRead(Fixture("stub_rsrc_last.exe")).tree;
        std::u16string error;
        ASSERT_TRUE(ReadIconFile(Fixture("icon_two_sizes.ico"), &images_, &error));
    }
    ResourceTree tree_;
    std::vector<IconImage> images_;
};

TEST_F(IconGroup, ReplacesTheGroupAndRemovesItsOldImages) {
    std::u16string error;
    ASSERT_TRUE(ReplaceIconGroup(&tree_, images_, 1033, &error));
    const ResourceLeaf* group = FindLeaf(tree_, kResourceGroupIcon, 1);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, 1033);
    EXPECT_EQ(GroupNumbers(group->data), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(group->data[6], 48);  // the first image's width
    EXPECT_EQ(ReadLe32(group->data.data() + 6 + 8), images_[0].data.size());
    size_t icons = 0;
    for (const ResourceLeaf& leaf : tree_.leaves) icons += KeyIsNumber(leaf.type, kResourceIcon);
    EXPECT_EQ(icons, 2u);
    EXPECT_EQ(FindLeaf(tree_, kResourceIcon, 1)->data, images_[0].data);
    EXPECT_EQ(FindLeaf(tree_, kResourceIcon, 2)->data, images_[1].data);
}

TEST_F(IconGroup, KeepsImagesThatAnotherGroupStillUses) {
    // Group 2 shares image 2 with group 1.
    ResourceLeaf second = *FindLeaf(tree_, kResourceGroupIcon, 1);
    second.name = NumberKey(2);
    WriteLe16(second.data.data() + 4, 1);
    WriteLe16(second.data.data() + 6 + 12, 2);
    second.data.resize(6 + 14);
    tree_.leaves.push_back(second);
    const ByteBuffer shared = FindLeaf(tree_, kResourceIcon, 2)->data;

    std::u16string error;
    ASSERT_TRUE(ReplaceIconGroup(&tree_, images_, 1033, &error));
    EXPECT_EQ(FindLeaf(tree_, kResourceIcon, 2)->data, shared);
    EXPECT_EQ(GroupNumbers(FindLeaf(tree_, kResourceGroupIcon, 1)->data),
              (std::vector<uint16_t>{1, 3}));
    EXPECT_EQ(GroupNumbers(FindLeaf(tree_, kResourceGroupIcon, 2)->data),
              (std::vector<uint16_t>{2}));
}

TEST_F(IconGroup, AddsGroupOneToAProgramWithoutIcons) {
    tree_.leaves.erase(std::remove_if(tree_.leaves.begin(), tree_.leaves.end(),
                                      [](const ResourceLeaf& leaf) {
                                          return KeyIsNumber(leaf.type, kResourceIcon) ||
                                                 KeyIsNumber(leaf.type, kResourceGroupIcon);
                                      }),
                       tree_.leaves.end());
    std::u16string error;
    ASSERT_TRUE(ReplaceIconGroup(&tree_, images_, 2052, &error));
    ASSERT_NE(FindLeaf(tree_, kResourceGroupIcon, 1), nullptr);
    EXPECT_EQ(FindLeaf(tree_, kResourceGroupIcon, 1)->language, 2052);
}

// ---- Version record ----

ByteBuffer StubVersionRecord() {
    return FindLeaf(MustRead(Fixture("stub_rsrc_last.exe")).tree, kResourceVersion, 1)->data;
}

// The texts of the first string table, by key.
std::map<std::u16string, std::u16string> Texts(const VersionNode& root) {
    std::map<std::u16string, std::u16string> texts;
    for (const VersionNode& block : root.children) {
        if (block.key != u"StringFileInfo") continue;
        for (const VersionNode& text : block.children.at(0).children) {
            std::u16string value;
            for (size_t i = 0; i + 1 < text.value.size(); i += 2)
                value += static_cast<char16_t>(ReadLe16(text.value.data() + i));
            if (!value.empty() && value.back() == 0) value.pop_back();
            texts[text.key] = value;
        }
    }
    return texts;
}

TEST(VersionRecord, AnUntouchedRecordIsWrittenByteForByte) {
    std::vector<ByteBuffer> records = {StubVersionRecord()};
#ifdef LAUNCHER_EXE
    records.push_back(FindLeaf(MustRead(ToBuffer(ReadFileBytes(fs::u8path(LAUNCHER_EXE)))).tree,
                               kResourceVersion, 1)
                          ->data);
#endif
    for (const ByteBuffer& record : records) {
        VersionNode root;
        ByteBuffer again;
        std::u16string error;
        ASSERT_TRUE(ReadVersionRecord(record, &root, &error));
        ASSERT_TRUE(WriteVersionRecord(root, &again));
        EXPECT_EQ(again, record);
        EXPECT_TRUE(
            EditVersionRecord(&root, VersionEdit{}, &error));  // nothing asked: nothing changes
        ASSERT_TRUE(WriteVersionRecord(root, &again));
        EXPECT_EQ(again, record);
    }
}

TEST(VersionRecord, SetsNumbersAndTextsAndKeepsEverythingElse) {
    VersionNode root;
    std::u16string error;
    ASSERT_TRUE(ReadVersionRecord(StubVersionRecord(), &root, &error));
    const auto before = Texts(root);
    VersionEdit edit;
    edit.setNumbers = true;
    const uint16_t numbers[4] = {2, 3, 65535, 0};
    std::copy(numbers, numbers + 4, edit.numbers);
    edit.texts = {{u"ProductName", u"Mon Appli 説明"}, {u"CompanyName", u"ACME"}};
    ASSERT_TRUE(EditVersionRecord(&root, edit, &error));
    ByteBuffer written;
    ASSERT_TRUE(WriteVersionRecord(root, &written));

    VersionNode after;
    ASSERT_TRUE(ReadVersionRecord(written, &after, &error));
    EXPECT_EQ(ReadLe16(written.data()), written.size());
    EXPECT_EQ(ReadLe32(after.value.data() + 8), 0x00020003u);  // file version, high
    EXPECT_EQ(ReadLe32(after.value.data() + 12), 0xFFFF0000u);
    EXPECT_EQ(ReadLe32(after.value.data() + 16), 0x00020003u);  // product version
    EXPECT_EQ(ReadLe32(after.value.data() + 20), 0xFFFF0000u);
    auto texts = Texts(after);
    EXPECT_EQ(texts[u"ProductName"], u"Mon Appli 説明");
    EXPECT_EQ(texts[u"CompanyName"], u"ACME");  // added
    EXPECT_EQ(texts[u"FileVersion"], u"2.3.65535.0");
    EXPECT_EQ(texts[u"ProductVersion"], u"2.3.65535.0");
    EXPECT_EQ(texts[u"InternalName"], before.at(u"InternalName"));
    EXPECT_EQ(texts[u"FileDescription"], before.at(u"FileDescription"));
    EXPECT_EQ(after.children.at(0).children.at(0).key, u"080404b0");
    EXPECT_EQ(after.children.at(1).key, u"VarFileInfo");
    EXPECT_EQ(after.children.at(1).children.at(0).value, (ByteBuffer{0x04, 0x08, 0xB0, 0x04}));
}

TEST(VersionRecord, RefusesRecordsItCannotReadOrWrite) {
    const ByteBuffer good = StubVersionRecord();
    VersionNode root;
    std::u16string error;
    ByteBuffer longer = good;
    WriteLe16(longer.data(), static_cast<uint16_t>(good.size() + 2));  // runs past its data
    EXPECT_FALSE(ReadVersionRecord(longer, &root, &error));
    EXPECT_FALSE(ReadVersionRecord(ByteBuffer(good.begin(), good.begin() + 20), &root, &error));

    ASSERT_TRUE(ReadVersionRecord(good, &root, &error));
    VersionEdit edit;
    edit.texts = {{u"FileDescription", std::u16string(40000, u'x')}};
    ASSERT_TRUE(EditVersionRecord(&root, edit, &error));
    ByteBuffer written;
    EXPECT_FALSE(WriteVersionRecord(root, &written));  // beyond the 16-bit length
}

TEST(VersionRecord, VersionNumbersAreFourDecimalsUpTo65535) {
    uint16_t numbers[4] = {};
    for (const char16_t* good : {u"1.2.3.4", u"0.0.0.0", u"65535.65535.65535.65535", u"01.2.3.4"}) {
        EXPECT_TRUE(ParseVersionNumbers(good, numbers)) << Narrow(good);
    }
    EXPECT_TRUE(ParseVersionNumbers(u"10.0.1.65535", numbers));
    EXPECT_EQ(numbers[0], 10);
    EXPECT_EQ(numbers[3], 65535);
    for (const char16_t* bad :
         {u"", u"1.2.3", u"1.2.3.4.5", u"1..3.4", u"65536.0.0.0", u"a.b.c.d", u"-1.2.3.4",
          u"1.2.3.4 ", u"+1.2.3.4", u"1.2.3.4.", u"9999999.1.1.1"}) {
        EXPECT_FALSE(ParseVersionNumbers(bad, numbers)) << Narrow(bad);
    }
}

}  // namespace

// The execution level is put in place of the manifest's own; nothing else of it changes.
TEST(Manifest, TheLevelIsReplacedAndEverythingElseKept) {
    ResourceTree tree = MustRead(Fixture("stub_reloc_after.exe")).tree;
    const auto text = [&] {
        const ByteBuffer& data = FindLeaf(tree, kResourceManifest, 1)->data;
        return std::string(data.begin(), data.end());
    };
    std::string expected = text();
    expected.replace(expected.find("requireAdministrator"), 20, "asInvoker");
    std::u16string error;
    ASSERT_TRUE(SetExecutionLevel(&tree, u"asInvoker", &error));
    EXPECT_EQ(text(), expected);

    const std::string quoted = "<requestedExecutionLevel uiAccess='false'  level = 'asInvoker'/>";
    FindLeaf(&tree, kResourceManifest, 1)->data.assign(quoted.begin(), quoted.end());
    ASSERT_TRUE(SetExecutionLevel(&tree, u"highestAvailable", &error));
    EXPECT_EQ(text(), "<requestedExecutionLevel uiAccess='false'  level = 'highestAvailable'/>");

    const std::string none = "<assembly><requestedExecutionLevel uiAccess=\"false\"/></assembly>";
    FindLeaf(&tree, kResourceManifest, 1)->data.assign(none.begin(), none.end());
    EXPECT_FALSE(SetExecutionLevel(&tree, u"asInvoker", &error));
    EXPECT_NE(error.find(u"no requestedExecutionLevel element with a level"), std::u16string::npos);
    tree.leaves.clear();
    EXPECT_FALSE(SetExecutionLevel(&tree, u"asInvoker", &error));
    EXPECT_NE(error.find(u"no manifest"), std::u16string::npos);
}
