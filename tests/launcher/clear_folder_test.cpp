#include <gtest/gtest.h>

#include <string>

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
