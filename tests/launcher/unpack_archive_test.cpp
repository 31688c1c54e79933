// Unpacking into a new extraction folder, and the final check that it holds exactly what this run
// wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/platform_faults.h"
#include "tests/support/zip_builder.h"
#include "zip/path_rules.h"

namespace {

// A writable file (DOS-made entries without a Unix mode unpack read-only), which the tests may
// remove and replace.
TestEntry File(const std::string& name, const std::string& data) {
    TestEntry entry;
    entry.name = name;
    entry.data = data;
    entry.method = 8;
    entry.externalAttributes = (0100644u << 16) | 0x20;
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

std::set<std::u16string> Keys(const WrittenFiles& written) {
    std::set<std::u16string> keys;
    for (const auto& file : written) keys.insert(file.first);
    return keys;
}

// The folder steps asked for during an unpacking.
std::vector<std::u16string> madeSteps;

PlatformHandle RecordStep(PlatformHandle folder, const char16_t* name) {
    madeSteps.push_back(name);
    return kSystemCalls.PlatformMakeSubFolder(folder, name);
}

class UnpackArchiveTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path temp = scratch.path() / "tmp";
    fs::path folder = temp / "VORNIX";
    std::u16string text = temp.u16string() + u"\\\\VORNIX";
    fs::path elsewhere = scratch.path() / "elsewhere";
    CurrentDirectory inElsewhere{elsewhere};  // anything created relative to it shows up here
    FreshFolder fresh{FolderState::Unavailable, kInvalidPlatformHandle, kInvalidPlatformHandle};
    UnpackResult result;
    SystemCallsAgain restore;

    void SetUp() override {
        fs::create_directories(temp);
        fresh = PrepareFreshFolder(temp.u16string() + u"/", FolderNames{u"VORNIX", u"zandro.exe"});
        ASSERT_EQ(fresh.state, FolderState::Ready);
    }
    void TearDown() override { ReleaseFreshFolder(&fresh); }

    bool Unpack(const TestArchive& archive) {
        const Bytes bytes = BuildZip(archive);
        return UnpackArchive(fresh.folder, text, bytes.data(), static_cast<uint32_t>(bytes.size()),
                             &result);
    }

    bool HoldsExactly() { return HoldsExactlyWrittenFiles(fresh.folder, result.written); }
};

}  // namespace

TEST_F(UnpackArchiveTest, MakesSubFoldersInsideTheFolderOnlyAndRecordsEachFileWritten) {
    TestArchive archive;
    archive.entries = {Folder("docs/"), File("docs/img/logo.txt", "logo"),
                       File("bin\\tool.txt", "tool"), Folder("empty/deeper/"),
                       File("./top.txt", "top")};
    ASSERT_TRUE(Unpack(archive));
    EXPECT_TRUE(result.complete);

    EXPECT_EQ(Listing(folder),
              (std::set<std::string>{"bin/", "bin/tool.txt", "docs/", "docs/img/",
                                     "docs/img/logo.txt", "empty/", "empty/deeper/", "top.txt"}));
    EXPECT_EQ(ReadFileBytes(folder / "docs" / "img" / "logo.txt"), "logo");
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(Keys(result.written),
              (std::set<std::u16string>{u"docs\\img\\logo.txt", u"bin\\tool.txt", u"top.txt"}));
    for (const auto& file : result.written) EXPECT_EQ(file.second.links, 1u);
    EXPECT_TRUE(HoldsExactly());
}

// An entry that is not written whole leaves no file, and the payload counts as incomplete: its
// program must not start without it (the loader would look for a library elsewhere).
TEST_F(UnpackArchiveTest, AnEntryNotWrittenWholeMakesThePayloadIncomplete) {
    TestEntry broken = File("lib.dll", "data");
    broken.crc = Crc32("data") ^ 1;
    TestArchive archive;
    archive.entries = {File("a.txt", "a"), broken, File("b.txt", "b")};
    ASSERT_TRUE(Unpack(archive));
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(Listing(folder), (std::set<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(Keys(result.written), (std::set<std::u16string>{u"a.txt", u"b.txt"}));
}

TEST_F(UnpackArchiveTest, APathThatDoesNotFitTheChildsPathsIsNotWritten) {
    const std::string fits(kPathUnits - 2 - text.size(), 'n');
    TestArchive archive;
    archive.entries = {File(fits, "fits"), File(fits + "n", "too long")};
    ASSERT_TRUE(Unpack(archive));
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(Listing(folder), (std::set<std::string>{fits}));
}

TEST_F(UnpackArchiveTest, FinalCheckWantsEveryWrittenFileAsTheSameFileAndNothingElse) {
    TestArchive archive;
    archive.entries = {File("zandro.exe", "new"), File("sub/lib.dll", "lib")};
    ASSERT_TRUE(Unpack(archive));
    ASSERT_TRUE(HoldsExactly());

    WriteFileBytes(folder / "sub" / "version.dll", "planted");
    EXPECT_FALSE(HoldsExactly());
    fs::remove(folder / "sub" / "version.dll");
    fs::create_directories(folder / "empty" / "deeper");
    EXPECT_TRUE(HoldsExactly());  // folders are fine

    // A written file missing, or another file under its name.
    fs::rename(folder / "sub" / "lib.dll", scratch.path() / "lib.dll");
    EXPECT_FALSE(HoldsExactly());
    fs::create_directories(folder / "sub" / "lib.dll");
    EXPECT_FALSE(HoldsExactly());
    fs::remove(folder / "sub" / "lib.dll");
    fs::copy_file(scratch.path() / "lib.dll", folder / "sub" / "lib.dll");
    EXPECT_FALSE(HoldsExactly());
    fs::remove(folder / "sub" / "lib.dll");
    fs::rename(scratch.path() / "lib.dll", folder / "sub" / "lib.dll");
    EXPECT_TRUE(HoldsExactly());

    if (CanMakeFolderLinks(scratch.path())) {
        fs::create_directory_symlink(scratch.path(), folder / "empty" / "link");
        EXPECT_FALSE(HoldsExactly());
        fs::remove(folder / "empty" / "link");
    }
    for (const FaultPoint& point :
         {MakeFaultPoint<&PlatformCalls::PlatformNextEntry, -1>("NextEntry"),
          MakeFaultPoint<&PlatformCalls::PlatformOpenSearch, kInvalidPlatformHandle>("OpenSearch"),
          MakeFaultPoint<&PlatformCalls::PlatformOpenSubFolder, kInvalidPlatformHandle>(
              "OpenSubFolder")}) {
        point.failNth(1);
        EXPECT_FALSE(HoldsExactly()) << point.name;
        ActivePlatformCalls = kSystemCalls;
    }
}

// The main program is held from the check to the start: only as the file this run wrote, and
// then nobody can replace or remove it.
TEST_F(UnpackArchiveTest, TheMainProgramIsHeldOnlyAsTheFileWritten) {
    TestArchive archive;
    archive.entries = {File("zandro.exe", "new")};
    ASSERT_TRUE(Unpack(archive));
    const PlatformHandle held = HoldWrittenFile(fresh.folder, result.written, u"zandro.exe");
    ASSERT_NE(held, kInvalidPlatformHandle);
    PlatformCloseFile(held);
    EXPECT_EQ(HoldWrittenFile(fresh.folder, result.written, u"other.exe"), kInvalidPlatformHandle);

    fs::rename(folder / "zandro.exe", scratch.path() / "written.exe");
    fs::copy_file(scratch.path() / "written.exe", folder / "zandro.exe");
    EXPECT_EQ(HoldWrittenFile(fresh.folder, result.written, u"zandro.exe"), kInvalidPlatformHandle);
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
    EXPECT_TRUE(result.complete);  // skipped by design, not failed
    EXPECT_EQ(Listing(folder), (std::set<std::string>{"ok.txt"}));
    EXPECT_EQ(Listing(scratch.path()),
              (std::set<std::string>{"tmp/", "tmp/VORNIX/", "tmp/VORNIX/ok.txt", "elsewhere/"}));
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
    EXPECT_TRUE(HoldsExactly());
}

TEST_F(UnpackArchiveTest, EmptyArchiveWritesNothingAndJunkIsRefused) {
    // Bytes in front: the reader does not find an end record that starts the data.
    TestArchive archive;
    archive.prefix = "stub";
    ASSERT_TRUE(Unpack(archive));
    EXPECT_TRUE(result.complete);
    EXPECT_TRUE(fs::is_empty(folder));

    const std::string junk = "this is not a zip archive at all";
    EXPECT_FALSE(UnpackArchive(fresh.folder, text, junk.data(), static_cast<uint32_t>(junk.size()),
                               &result));
    EXPECT_TRUE(fs::is_empty(folder));
}

// However its entries are spelled and ordered, each folder step is asked for once while the
// entries stay in it, outer folders first.
TEST_F(UnpackArchiveTest, WalksToEachFolderOnceWhileItsEntriesFollowOneAnother) {
    TestArchive archive;
    archive.entries = {Folder("a/"),
                       Folder("a/b/"),
                       File("a/b/one.txt", "1"),
                       File("a//b/two.txt", "2"),
                       File("./A/b\\three.txt", "3"),
                       Folder("a/b"),
                       File("c/d/e/four.txt", "4"),
                       File("c/d/five.txt", "5"),
                       File("top.txt", "t")};
    ActivePlatformCalls.PlatformMakeSubFolder = RecordStep;
    madeSteps.clear();
    ASSERT_TRUE(Unpack(archive));
    ActivePlatformCalls = kSystemCalls;
#ifdef _WIN32
    // "A" is "a" where names ignore case.
    const std::vector<std::u16string> steps = {u"a", u"b", u"c", u"d", u"e"};
#else
    const std::vector<std::u16string> steps = {u"a", u"b", u"A", u"b", u"a",
                                               u"b", u"c", u"d", u"e"};
#endif
    EXPECT_EQ(madeSteps, steps);
    EXPECT_TRUE(result.complete);
    EXPECT_TRUE(HoldsExactly());
}
