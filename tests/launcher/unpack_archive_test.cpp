#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/platform_faults.h"
#include "tests/support/zip_builder.h"
#include "zip/extract.h"
#include "zip/path_rules.h"

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

// The folders asked for and the paths whose attributes were read during an unpacking.
std::vector<std::u16string> madeFolders;
std::vector<std::u16string> lookedAt;
// Called before each file is created (to change the folder while the unpacking runs).
void (*beforeCreate)(const char16_t* path) = nullptr;

bool RecordFolder(PlatformHandle folder, const char16_t* path) {
    madeFolders.push_back(NormalizedPath(path));
    return kSystemCalls.createDirectory(folder, path);
}

uint32_t RecordLook(PlatformHandle folder, const char16_t* path) {
    lookedAt.push_back(path);
    return kSystemCalls.getFileAttributes(folder, path);
}

PlatformHandle CreateAfterHook(PlatformHandle folder, const char16_t* path, uint32_t attributes) {
    if (beforeCreate != nullptr) beforeCreate(path);
    return kSystemCalls.createFile(folder, path, attributes);
}

class UnpackArchiveTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path folder = scratch.path() / "VORNIX";
    std::u16string text = scratch.text() + u"\\VORNIX";
    fs::path elsewhere = scratch.path() / "elsewhere";
    CurrentDirectory inElsewhere{elsewhere};  // anything created relative to it shows up here
    PlatformHandle held = kNoFolder;
    WrittenFiles written;

    void SetUp() override {
        fs::create_directory(folder);
        held = PlatformHoldFolder(kNoFolder, text.c_str());
        ASSERT_NE(held, kInvalidPlatformHandle);
    }
    void TearDown() override { PlatformReleaseFolder(held); }

    bool Unpack(const TestArchive& archive) {
        const Bytes bytes = BuildZip(archive);
        return UnpackArchive(held, text, bytes.data(), static_cast<uint32_t>(bytes.size()),
                             &written);
    }

    // Unpack with the folder creations and attribute reads recorded.
    bool UnpackRecorded(const TestArchive& archive) {
        SystemCallsAgain restore;
        madeFolders.clear();
        lookedAt.clear();
        ActivePlatformCalls.createDirectory = RecordFolder;
        ActivePlatformCalls.getFileAttributes = RecordLook;
        ActivePlatformCalls.createFile = CreateAfterHook;
        return Unpack(archive);
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
    EXPECT_EQ(written, (WrittenFiles{u"docs\\img\\logo.txt", u"bin\\tool.txt", u"top.txt"}));
    EXPECT_TRUE(HoldsOnlyWrittenFiles(held, written));
}

TEST_F(UnpackArchiveTest, OnlyFilesWrittenWholeCount) {
    TestEntry broken = File("broken.dll", "data");
    broken.crc = Crc32("data") ^ 1;
    TestArchive archive;
    TestEntry writable = File("twice.txt", "one");
    writable.externalAttributes = 0100644u << 16;
    TestEntry failing = writable;
    failing.crc = 0;
    archive.entries = {File("./a//b.txt", "b"), broken, writable, failing,
                       // Read-only: the second copy cannot replace it and leaves it whole.
                       File("kept.txt", "first"), File("kept.txt", "second")};
    ASSERT_TRUE(Unpack(archive));
    EXPECT_EQ(written, (WrittenFiles{u"a\\b.txt", u"kept.txt"}));
    EXPECT_FALSE(fs::exists(folder / "broken.dll"));
    EXPECT_FALSE(fs::exists(folder / "twice.txt"));
    EXPECT_TRUE(HoldsOnlyWrittenFiles(held, written));
}

TEST_F(UnpackArchiveTest, FinalCheckFindsWhatThisRunDidNotWrite) {
    TestArchive archive;
    archive.entries = {File("zandro.exe", "new"), File("sub/lib.dll", "lib")};
    ASSERT_TRUE(Unpack(archive));
    ASSERT_TRUE(HoldsOnlyWrittenFiles(held, written));

    WriteFileBytes(folder / "sub" / "version.dll", "planted");
    EXPECT_FALSE(HoldsOnlyWrittenFiles(held, written));
    fs::remove(folder / "sub" / "version.dll");
    fs::create_directories(folder / "empty" / "deeper");
    EXPECT_TRUE(HoldsOnlyWrittenFiles(held, written));  // folders are fine
    if (CanMakeFolderLinks(scratch.path())) {
        fs::create_directory_symlink(scratch.path(), folder / "empty" / "link");
        EXPECT_FALSE(HoldsOnlyWrittenFiles(held, written));
        fs::remove(folder / "empty" / "link");
    }
    SystemCallsAgain restore;
    for (const FaultPoint& point :
         {MakeFaultPoint<&PlatformCalls::nextEntry, -1>("nextEntry"),
          MakeFaultPoint<&PlatformCalls::openSearch, kInvalidPlatformHandle>("openSearch"),
          MakeFaultPoint<&PlatformCalls::holdFolder, kInvalidPlatformHandle>("holdFolder")}) {
        point.failNth(1);
        EXPECT_FALSE(HoldsOnlyWrittenFiles(held, written)) << point.name;
        ActivePlatformCalls = kSystemCalls;
    }
}

TEST_F(UnpackArchiveTest, SkipsEscapingNamesAndGoesOnWithTheNext) {
    TestArchive archive;
    archive.entries = {File("../escape1.txt", "x"),  File("a/../../escape2.txt", "x"),
                       File("..\\escape3.txt", "x"), Folder("../escape-folder/"),
                       File("/abs.txt", "x"),        File("\\abs2.txt", "x"),
                       File("C:evil.txt", "x"),      File("a:b.txt", "x"),
                       File(".../escape4.txt", "x"), File("CON", "x"),
                       File("sub/nul.txt", "x"),     Folder("com1/"),
                       File("ok.txt", "ok")};
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
    EXPECT_FALSE(
        UnpackArchive(held, text, junk.data(), static_cast<uint32_t>(junk.size()), &written));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(UnpackArchiveTest, RefillsOverTheOldContents) {
    TestArchive archive;
    archive.entries = {File("sub/a.txt", "new")};
    ASSERT_TRUE(Unpack(archive));
    bool leftBehind = true;
    const PlatformHandle again = PrepareExtractionFolder(text, &leftBehind);
    ASSERT_NE(again, kNoFolder);
    PlatformReleaseFolder(again);
    EXPECT_FALSE(leftBehind);
    EXPECT_EQ(Listing(folder), (std::set<std::string>{"sub/"}));
    ASSERT_TRUE(Unpack(archive));
    EXPECT_EQ(ReadFileBytes(folder / "sub" / "a.txt"), "new");
}

class PrepareFolderTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path folder = scratch.path() / "VORNIX";
    std::u16string text = scratch.text() + u"\\VORNIX";
    bool leftBehind = true;
    SystemCallsAgain restore;

    // Prepares the folder and releases it again; false when it could not be prepared.
    bool Prepare() {
        leftBehind = true;
        const PlatformHandle held = PrepareExtractionFolder(text, &leftBehind);
        if (held == kNoFolder) return false;
        PlatformReleaseFolder(held);
        return true;
    }
};

TEST_F(PrepareFolderTest, CreatesAMissingFolderOwnedByTheRunningUser) {
    EXPECT_TRUE(Prepare());
    EXPECT_FALSE(leftBehind);
    EXPECT_TRUE(fs::is_directory(folder));
#ifndef _WIN32
    EXPECT_EQ(fs::status(folder).permissions(), static_cast<fs::perms>(0755));
#endif
}

TEST_F(PrepareFolderTest, EmptiesAnExistingFolderOfFilesAndProtectsItAgain) {
    fs::create_directories(folder / "keep");
    WriteFileBytes(folder / "keep" / "old.txt", "x");
    MakeReadOnly(folder / "keep" / "old.txt");
#ifndef _WIN32
    fs::permissions(folder, fs::perms::all);
    fs::permissions(folder / "keep", fs::perms::all);
#endif
    EXPECT_TRUE(Prepare());
    EXPECT_FALSE(leftBehind);
    EXPECT_TRUE(fs::is_directory(folder / "keep"));
    EXPECT_TRUE(fs::is_empty(folder / "keep"));
#ifndef _WIN32
    EXPECT_EQ(fs::status(folder).permissions(), static_cast<fs::perms>(0755));
    EXPECT_EQ(fs::status(folder / "keep").permissions(), static_cast<fs::perms>(0755));
#endif
}

TEST_F(PrepareFolderTest, AFileThatCannotBeDeletedIsReported) {
    fs::create_directories(folder);
    WriteFileBytes(folder / "held.dll", "x");
    MakeFaultPoint<&PlatformCalls::deleteFile, false>("deleteFile").failNth(1);
    EXPECT_TRUE(Prepare());
    EXPECT_TRUE(leftBehind);
    EXPECT_TRUE(fs::exists(folder / "held.dll"));
}

TEST_F(PrepareFolderTest, AFileInTheFolderPlaceOrRefusedProtectionGivesNoFolder) {
    WriteFileBytes(folder, "not a folder");
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(ReadFileBytes(folder), "not a folder");
    fs::remove(folder);
    MakeFaultPoint<&PlatformCalls::protectFolder, false>("protectFolder").failNth(1);
    EXPECT_FALSE(Prepare());
}

TEST_F(PrepareFolderTest, ReplacesALinkInTheFolderPlaceByARealFolderOrGivesNone) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    const fs::path outside = scratch.path() / "outside";
    fs::create_directory(outside);
    WriteFileBytes(outside / "precious.txt", "keep");
    fs::create_directory_symlink(outside, folder);
    // One that cannot be removed gives no folder at all.
    MakeFaultPoint<&PlatformCalls::removeDirectory, false>("removeDirectory").failNth(1);
    EXPECT_FALSE(Prepare());
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder)));

    EXPECT_TRUE(Prepare());

    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(ReadFileBytes(outside / "precious.txt"), "keep");
}

TEST_F(PrepareFolderTest, ReplacesADanglingLinkOrALinkToAFile) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    WriteFileBytes(scratch.path() / "target.txt", "keep");
    fs::create_symlink(scratch.path() / "target.txt", folder);
    EXPECT_TRUE(Prepare());
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_EQ(ReadFileBytes(scratch.path() / "target.txt"), "keep");

    fs::remove(folder);
    fs::create_directory_symlink(scratch.path() / "not-there", folder);
    EXPECT_TRUE(Prepare());
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_FALSE(fs::exists(scratch.path() / "not-there"));
}

// However many entries lie in a folder and however its name is spelled, it is asked for once per
// run, outer folders first; a folder this run created is not looked at again, nor is anything in
// it, while each step of a folder that was there before is.
TEST_F(UnpackArchiveTest, AsksForEachFolderOnceAndLooksOnlyAtWhatItDidNotCreate) {
    TestArchive archive;
    archive.entries = {Folder("a/"),
                       Folder("a/b/"),
                       File("a/b/one.txt", "1"),
                       File("a//b/two.txt", "2"),
                       File("./a/b\\three.txt", "3"),
                       Folder("a/b"),
                       File("c/d/e/four.txt", "4"),
                       File("c/d/five.txt", "5"),
                       File("top.txt", "t")};
    const std::vector<std::u16string> folders = {u"a", u"a\\b", u"c", u"c\\d", u"c\\d\\e"};
    ASSERT_TRUE(UnpackRecorded(archive));
    EXPECT_EQ(madeFolders, folders);
    // Only the first entry of each new folder and the top-level file find something to look at.
    EXPECT_EQ(lookedAt, (std::vector<std::u16string>{u"a", u"c", u"top.txt"}));
    EXPECT_EQ(ReadFileBytes(folder / "a" / "b" / "three.txt"), "3");
    EXPECT_EQ(ReadFileBytes(folder / "c" / "d" / "e" / "four.txt"), "4");
    EXPECT_EQ(written.size(), 6u);

    // The next start finds the folders there: each is asked for once again, and every step of
    // every entry is looked at, since another process could have changed them meanwhile.
    bool leftBehind = true;
    PlatformReleaseFolder(PrepareExtractionFolder(text, &leftBehind));
    ASSERT_FALSE(leftBehind);
    written.clear();
    ASSERT_TRUE(UnpackRecorded(archive));
    EXPECT_EQ(madeFolders, folders);
    EXPECT_EQ(std::count(lookedAt.begin(), lookedAt.end(), u"a\\b"), 5);
    EXPECT_EQ(std::count(lookedAt.begin(), lookedAt.end(), u"a\\b\\two.txt"), 1);
    EXPECT_EQ(written.size(), 6u);
    EXPECT_TRUE(HoldsOnlyWrittenFiles(held, written));
}

// A link in a folder that was there before is still found; one planted in a folder that this run
// created, while it unpacks, is never followed either: the file is not written through it.
TEST_F(UnpackArchiveTest, NoLinkLeadsOutWhetherTheFolderWasThereOrIsNew) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    static fs::path outside;
    static fs::path planted;
    outside = scratch.path() / "outside";
    fs::create_directories(outside);
    fs::create_directories(folder / "old" / "deeper");
    fs::create_directory_symlink(outside, folder / "old" / "deeper" / "link");
    planted = folder / "new" / "link";
    beforeCreate = [](const char16_t* path) {
        if (std::u16string(path) == u"new/first.txt")
            fs::create_directory_symlink(outside, planted);
    };
    TestArchive archive;
    archive.entries = {File("old/deeper/link/x.txt", "x"), File("old/deeper/link/y/z.txt", "z"),
                       File("new/first.txt", "1"),         File("new/link/x.txt", "x"),
                       File("new/link/y/z.txt", "z"),      File("old/ok.txt", "ok")};
    const bool unpacked = UnpackRecorded(archive);
    beforeCreate = nullptr;

    ASSERT_TRUE(unpacked);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(written, (WrittenFiles{u"new\\first.txt", u"old\\ok.txt"}));
    EXPECT_EQ(std::count(lookedAt.begin(), lookedAt.end(), u"old\\deeper\\link"), 2);
    EXPECT_FALSE(HoldsOnlyWrittenFiles(held, written));  // the planted link shows at the end
}
