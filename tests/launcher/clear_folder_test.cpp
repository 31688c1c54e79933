#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/platform_faults.h"

namespace {

class ClearFolderTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path folder = scratch.path() / "VORNIX";
    void SetUp() override { fs::create_directory(folder); }
};

// The attribute and deletion calls that reach the system, in order: "get NAME", "set NAME",
// "deleted NAME" or "kept NAME". A deletion of the file named `undeletable` always fails.
std::vector<std::string> calls;
std::string undeletable;

std::string Narrow(const char16_t* name) { return fs::path(std::u16string(name)).generic_string(); }

uint32_t RecordGet(PlatformHandle folder, const char16_t* path) {
    calls.push_back("get " + Narrow(path));
    return kSystemCalls.getFileAttributes(folder, path);
}

bool RecordSet(PlatformHandle folder, const char16_t* path, uint32_t attributes) {
    calls.push_back("set " + Narrow(path));
    return kSystemCalls.setFileAttributes(folder, path, attributes);
}

bool RecordDelete(PlatformHandle folder, const char16_t* path) {
    const bool deleted = Narrow(path) != undeletable && kSystemCalls.deleteFile(folder, path);
    calls.push_back((deleted ? "deleted " : "kept ") + Narrow(path));
    return deleted;
}

// ClearHeldFolder on the test's folder with the calls recorded; its result.
bool ClearRecorded(const std::u16string& folder) {
    SystemCallsAgain restore;
    calls.clear();
    ActivePlatformCalls.getFileAttributes = RecordGet;
    ActivePlatformCalls.setFileAttributes = RecordSet;
    ActivePlatformCalls.deleteFile = RecordDelete;
    const PlatformHandle held = PlatformHoldFolder(kNoFolder, folder.c_str());
    EXPECT_NE(held, kInvalidPlatformHandle);
    const bool cleared = held != kInvalidPlatformHandle && ClearHeldFolder(held);
    if (held != kInvalidPlatformHandle) PlatformReleaseFolder(held);
    return cleared;
}

// A name that makes folder / name exactly `length` characters long.
std::string NameForLength(const fs::path& folder, size_t length) {
    const size_t used = folder.u16string().size() + 1;
    return length > used ? std::string(length - used, 'n') : std::string();
}

}  // namespace

TEST_F(ClearFolderTest, DeletesEveryFileReadOnlyOnesIncludedAndKeepsEveryFolder) {
    fs::create_directories(folder / "a" / "b" / "c");
    fs::create_directory(folder / "empty");
    WriteFileBytes(folder / "top.dll", "x");
    WriteFileBytes(folder / "locked.txt", "x");
    MakeReadOnly(folder / "locked.txt");
    WriteFileBytes(folder / "a" / "one.txt", "x");
    WriteFileBytes(folder / "a" / "b" / "c" / "deep.txt", "x");
    MakeReadOnly(folder / "a" / "b" / "c" / "deep.txt");

    ClearFolder(scratch.text().append(u"/VORNIX").c_str());

    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_directory(folder / "a" / "b" / "c"));
    EXPECT_TRUE(fs::is_directory(folder / "empty"));
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        EXPECT_TRUE(entry.is_directory()) << entry.path();
    }
}

TEST_F(ClearFolderTest, AcceptsTheDoubledSeparatorOfTheExtractionFolderText) {
    WriteFileBytes(folder / "old.txt", "x");
    ClearFolder(JoinPath(scratch.text() + u'\\', u"VORNIX").c_str());
    EXPECT_FALSE(fs::exists(folder / "old.txt"));
}

TEST_F(ClearFolderTest, RemovesLinksWithoutTouchingWhatTheyLeadTo) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    const fs::path outside = scratch.path() / "outside";
    fs::create_directories(outside / "inner");
    WriteFileBytes(outside / "precious.txt", "keep");
    MakeReadOnly(outside / "precious.txt");
    WriteFileBytes(outside / "inner" / "also.txt", "keep");
    fs::create_directory_symlink(outside, folder / "to-folder");
    fs::create_symlink(outside / "precious.txt", folder / "to-file");
    fs::create_directory(folder / "sub");
    fs::create_directory_symlink(outside / "inner", folder / "sub" / "nested-link");

    ClearFolder((scratch.text() + u"/VORNIX").c_str());

    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "to-folder")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "to-file")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "sub" / "nested-link")));
    EXPECT_TRUE(fs::is_directory(folder / "sub"));
    EXPECT_EQ(ReadFileBytes(outside / "precious.txt"), "keep");
    EXPECT_TRUE(IsReadOnly(outside / "precious.txt"));  // the link's target keeps its bits
    EXPECT_EQ(ReadFileBytes(outside / "inner" / "also.txt"), "keep");
}

TEST_F(ClearFolderTest, DoesNothingForPathsShorterThanFourCharacters) {
    // Relative paths from inside the scratch folder: "ab" and "abc" exist but are refused.
    const fs::path previous = fs::current_path();
    fs::current_path(scratch.path());
    fs::create_directory("ab");
    fs::create_directory("abc");
    fs::create_directory("abcd");
    WriteFileBytes("ab/kept.txt", "x");
    WriteFileBytes("abc/kept.txt", "x");
    WriteFileBytes("abcd/gone.txt", "x");
    ClearFolder(u"ab");
    ClearFolder(u"abc");
    ClearFolder(u"abcd");
    ClearFolder(u"");
    fs::current_path(previous);
    EXPECT_TRUE(fs::exists(scratch.path() / "ab" / "kept.txt"));
    EXPECT_TRUE(fs::exists(scratch.path() / "abc" / "kept.txt"));
    EXPECT_FALSE(fs::exists(scratch.path() / "abcd" / "gone.txt"));
}

// Paths are formed below the held folder and never cut: an entry whose path would be cut to the
// name of another is either removed itself or reported as left behind, and the other is not
// mistaken for it.
TEST_F(ClearFolderTest, LongPathsAreNeverCutIntoOtherNames) {
    const std::string fits = NameForLength(folder, 259);
    ASSERT_FALSE(fits.empty());
    std::error_code error;
    WriteFileBytes(folder / fits, "x");
    WriteFileBytes(folder / (fits + "n"), "x");
    if (!fs::exists(folder / (fits + "n"), error)) GTEST_SKIP() << "long paths unsupported here";

    const PlatformHandle held =
        PlatformHoldFolder(kNoFolder, scratch.text().append(u"/VORNIX").c_str());
    ASSERT_NE(held, kInvalidPlatformHandle);
    const bool cleared = ClearHeldFolder(held);
    PlatformReleaseFolder(held);

    EXPECT_FALSE(fs::exists(folder / fits));
    EXPECT_EQ(cleared, !fs::exists(folder / (fits + "n"), error));
}

TEST_F(ClearFolderTest, ReportsWhatItCouldNotDelete) {
    fs::create_directories(folder / "sub");
    WriteFileBytes(folder / "sub" / "kept.dll", "x");
    WriteFileBytes(folder / "gone.dll", "x");
    SystemCallsAgain restore;
    // The first deletion fails, whichever file it meets first.
    MakeFaultPoint<&PlatformCalls::deleteFile, false>("deleteFile").failNth(1);

    const PlatformHandle held =
        PlatformHoldFolder(kNoFolder, scratch.text().append(u"/VORNIX").c_str());
    ASSERT_NE(held, kInvalidPlatformHandle);
    EXPECT_FALSE(ClearHeldFolder(held));
    ActivePlatformCalls = kSystemCalls;
    EXPECT_TRUE(ClearHeldFolder(held));
    PlatformReleaseFolder(held);
    EXPECT_TRUE(fs::is_empty(folder / "sub"));
}

TEST_F(ClearFolderTest, MissingFolderOrFileInItsPlaceIsLeftAlone) {
    ClearFolder((scratch.text() + u"/missing").c_str());
    WriteFileBytes(scratch.path() / "plain.txt", "x");
    ClearFolder((scratch.text() + u"/plain.txt").c_str());
    EXPECT_EQ(ReadFileBytes(scratch.path() / "plain.txt"), "x");
    EXPECT_FALSE(fs::exists(scratch.path() / "missing"));
}

// Each file costs one deletion; its attributes are never read, and changed only for a file that
// the listing shows read-only (on Windows), just before its deletion.
TEST_F(ClearFolderTest, TouchesAttributesOnlyOfReadOnlyFiles) {
    fs::create_directory(folder / "sub");
    for (const char* name :
         {"writable.txt", "readonly.txt", "sub/writable.dll", "sub/readonly.dll"}) {
        WriteFileBytes(folder / name, "x");
    }
    MakeReadOnly(folder / "readonly.txt");
    MakeReadOnly(folder / "sub" / "readonly.dll");

    EXPECT_TRUE(ClearRecorded(scratch.text() + u"/VORNIX"));

    EXPECT_TRUE(fs::is_empty(folder / "sub"));
    EXPECT_FALSE(fs::exists(folder / "writable.txt"));
    EXPECT_FALSE(fs::exists(folder / "readonly.txt"));
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(calls[i]);
        EXPECT_NE(calls[i].rfind("get ", 0), 0u);
        if (calls[i].rfind("set ", 0) == 0) {
            const std::string name = calls[i].substr(4);
            EXPECT_NE(name.find("readonly"), std::string::npos);
            ASSERT_TRUE(i + 1 < calls.size());
            EXPECT_EQ(calls[i + 1], "deleted " + name);
        }
        EXPECT_NE(calls[i].rfind("kept ", 0), 0u);
    }
    for (const char* name : {"writable.txt", "writable.dll"}) {
        EXPECT_EQ(std::count(calls.begin(), calls.end(), std::string("deleted ") + name), 1);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), std::string("kept ") + name), 0);
    }
}

// A writable file that cannot be deleted (held open elsewhere) gets one try and keeps its
// attributes; the clearing goes on and reports it.
TEST_F(ClearFolderTest, AWritableFileThatCannotBeDeletedIsTriedOnce) {
    WriteFileBytes(folder / "held.dll", "x");
    WriteFileBytes(folder / "other.dll", "x");
    undeletable = "held.dll";
    const bool cleared = ClearRecorded(scratch.text() + u"/VORNIX");
    undeletable.clear();

    EXPECT_FALSE(cleared);
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (std::vector<std::string>{"deleted other.dll", "kept held.dll"}));
    EXPECT_TRUE(fs::exists(folder / "held.dll"));
    EXPECT_FALSE(fs::exists(folder / "other.dll"));
}
