#include <gtest/gtest.h>

#include <set>
#include <string>

#include "launcher/launcher.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/extract.h"

namespace {

TestEntry File(const std::string& name, const std::string& data) {
    TestEntry entry;
    entry.name = name;
    entry.data = data;
    entry.method = 8;
    return entry;
}

TestEntry Folder(const std::string& name) {
    TestEntry entry;
    entry.name = name;
    entry.externalAttributes = 0x10;
    return entry;
}

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(entry.path(), folder).generic_string() +
                     (entry.is_directory() ? "/" : ""));
    }
    return names;
}

class UnpackArchiveTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path folder = scratch.path() / "VORNIX";
    fs::path elsewhere = scratch.path() / "elsewhere";
    CurrentDirectory inElsewhere{elsewhere};  // anything created relative to it shows up here

    void SetUp() override { fs::create_directory(folder); }

    bool Unpack(const TestArchive& archive) {
        const Bytes bytes = BuildZip(archive);
        return UnpackArchive(scratch.text() + u"\\VORNIX", bytes.data(),
                             static_cast<uint32_t>(bytes.size()));
    }
};

}  // namespace

TEST_F(UnpackArchiveTest, CreatesSubFoldersInsideTheFolderOnly) {
    TestArchive archive;
    archive.entries = {Folder("docs/"), File("docs/img/logo.txt", "logo"),
                       File("bin\\tool.txt", "tool"), Folder("empty/deeper/"),
                       File("top.txt", "top")};
    ASSERT_TRUE(Unpack(archive));

    EXPECT_EQ(Listing(folder),
              (std::set<std::string>{"bin/", "bin/tool.txt", "docs/", "docs/img/",
                                     "docs/img/logo.txt", "empty/", "empty/deeper/", "top.txt"}));
    EXPECT_EQ(ReadFileBytes(folder / "docs" / "img" / "logo.txt"), "logo");
    EXPECT_EQ(ReadFileBytes(folder / "bin" / "tool.txt"), "tool");
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(UnpackArchiveTest, SkipsEscapingNamesAndGoesOnWithTheNext) {
    TestArchive archive;
    archive.entries = {File("../escape1.txt", "x"),  File("a/../../escape2.txt", "x"),
                       File("..\\escape3.txt", "x"), Folder("../escape-folder/"),
                       File("/abs.txt", "x"),        File("\\abs2.txt", "x"),
                       File("C:evil.txt", "x"),      File("a:b.txt", "x"),
                       File(".../escape4.txt", "x"), File("ok.txt", "ok")};
    ASSERT_TRUE(Unpack(archive));

    EXPECT_EQ(Listing(folder), (std::set<std::string>{"ok.txt"}));
    EXPECT_EQ(Listing(scratch.path()),
              (std::set<std::string>{"VORNIX/", "VORNIX/ok.txt", "elsewhere/"}));
}

TEST_F(UnpackArchiveTest, UnpacksUtf8NamesAndSkipsOnlyThoseThatCannotBeConverted) {
    TestArchive archive;
    archive.entries = {File("\xC0\xAF"
                            "evil.txt",
                            "x"),
                       Folder("\xE6\x95\xB0\xE6\x8D\xAE/"),
                       File("\xE6\x95\xB0\xE6\x8D\xAE/\xE8\xAF\xB4\xE6\x98\x8E.txt", "notes"),
                       File("bad\xE8\xAF/x.txt", "x"), File("caf\xC3\xA9.dll", "library")};
    for (TestEntry& entry : archive.entries) entry.flags = 0x0800;
    ASSERT_TRUE(Unpack(archive));

    const fs::path chinese = folder / fs::path(u"\u6570\u636E");
    EXPECT_EQ(ReadFileBytes(chinese / fs::path(u"\u8BF4\u660E.txt")), "notes");
    EXPECT_EQ(ReadFileBytes(folder / fs::path(u"caf\u00E9.dll")), "library");
    EXPECT_EQ(Listing(folder).size(), 3u);
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(UnpackArchiveTest, WritesNothingThroughALinkLeftInTheFolder) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    const fs::path outside = scratch.path() / "outside";
    fs::create_directory(outside);
    WriteFileBytes(outside / "target.dll", "keep");
    fs::create_directory_symlink(outside, folder / "data");
    fs::create_symlink(outside / "target.dll", folder / "zandro.dll");

    TestArchive archive;
    archive.entries = {File("data/level.txt", "x"), Folder("data/sub/"),
                       File("zandro.dll", "replaced"), File("ok.txt", "ok")};
    ASSERT_TRUE(Unpack(archive));

    EXPECT_EQ(Listing(outside), (std::set<std::string>{"target.dll"}));
    EXPECT_EQ(ReadFileBytes(outside / "target.dll"), "keep");
    EXPECT_EQ(ReadFileBytes(folder / "ok.txt"), "ok");
}

TEST_F(UnpackArchiveTest, EmptyArchiveWritesNothing) {
    // Bytes in front: the reader does not find an end record that starts the data.
    TestArchive archive;
    archive.prefix = "stub";
    ASSERT_TRUE(Unpack(archive));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(UnpackArchiveTest, BytesThatAreNoArchiveAreRefused) {
    const std::string junk = "this is not a zip archive at all";
    EXPECT_FALSE(UnpackArchive(scratch.text() + u"\\VORNIX", junk.data(),
                               static_cast<uint32_t>(junk.size())));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(UnpackArchiveTest, RefillsOverTheOldContents) {
    TestArchive archive;
    archive.entries = {File("sub/a.txt", "new")};
    ASSERT_TRUE(Unpack(archive));
    ASSERT_TRUE(PrepareExtractionFolder(scratch.text() + u"\\VORNIX"));
    EXPECT_EQ(Listing(folder), (std::set<std::string>{"sub/"}));
    ASSERT_TRUE(Unpack(archive));
    EXPECT_EQ(ReadFileBytes(folder / "sub" / "a.txt"), "new");
}

class PrepareFolderTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path folder = scratch.path() / "VORNIX";
    std::u16string text = scratch.text() + u"\\VORNIX";
};

TEST_F(PrepareFolderTest, CreatesAMissingFolder) {
    EXPECT_TRUE(PrepareExtractionFolder(text));
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(PrepareFolderTest, EmptiesAnExistingFolderOfFiles) {
    fs::create_directories(folder / "keep");
    WriteFileBytes(folder / "keep" / "old.txt", "x");
    MakeReadOnly(folder / "keep" / "old.txt");
    EXPECT_TRUE(PrepareExtractionFolder(text));
    EXPECT_TRUE(fs::is_directory(folder / "keep"));
    EXPECT_TRUE(fs::is_empty(folder / "keep"));
}

TEST_F(PrepareFolderTest, ReplacesALinkInTheFolderPlaceByARealFolder) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    const fs::path outside = scratch.path() / "outside";
    fs::create_directory(outside);
    WriteFileBytes(outside / "precious.txt", "keep");
    fs::create_directory_symlink(outside, folder);

    EXPECT_TRUE(PrepareExtractionFolder(text));

    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(ReadFileBytes(outside / "precious.txt"), "keep");
}

TEST_F(PrepareFolderTest, ReplacesADanglingLinkOrALinkToAFile) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    WriteFileBytes(scratch.path() / "target.txt", "keep");
    fs::create_symlink(scratch.path() / "target.txt", folder);
    EXPECT_TRUE(PrepareExtractionFolder(text));
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_EQ(ReadFileBytes(scratch.path() / "target.txt"), "keep");

    fs::remove(folder);
    fs::create_directory_symlink(scratch.path() / "not-there", folder);
    EXPECT_TRUE(PrepareExtractionFolder(text));
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_FALSE(fs::exists(scratch.path() / "not-there"));
}
