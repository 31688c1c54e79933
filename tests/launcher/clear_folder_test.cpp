#include <gtest/gtest.h>

#include <string>

#include "launcher/launcher.h"
#include "tests/launcher/launcher_test_support.h"

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

TEST_F(ClearFolderTest, SkipsEntriesWhosePathWouldBeCut) {
    // 259 characters is the longest path acted on; one more would be cut and is left alone.
    const std::string fits = NameForLength(folder, 259);
    const std::string tooLong = NameForLength(folder, 260);
    ASSERT_FALSE(fits.empty());
    std::error_code error;
    WriteFileBytes(folder / fits, "x");
    WriteFileBytes(folder / tooLong, "x");
    if (!fs::exists(folder / tooLong, error)) GTEST_SKIP() << "long paths unsupported here";

    ClearFolder(scratch.text().append(u"/VORNIX").c_str());

    EXPECT_TRUE(fs::exists(folder / tooLong));
    EXPECT_FALSE(fs::exists(folder / fits));
}

TEST_F(ClearFolderTest, RefusesAFolderWhosePatternWouldBeCut) {
    // folder + "\*" needs two more characters than the folder path itself.
    fs::path deep = folder / NameForLength(folder, 258);
    std::error_code error;
    fs::create_directory(deep, error);
    if (error) GTEST_SKIP() << "long paths unsupported here";
    WriteFileBytes(deep / "x", "x");
    ClearFolder(deep.u16string().c_str());
    EXPECT_TRUE(fs::exists(deep / "x", error));
}

TEST_F(ClearFolderTest, MissingFolderOrFileInItsPlaceIsLeftAlone) {
    ClearFolder((scratch.text() + u"/missing").c_str());
    WriteFileBytes(scratch.path() / "plain.txt", "x");
    ClearFolder((scratch.text() + u"/plain.txt").c_str());
    EXPECT_EQ(ReadFileBytes(scratch.path() / "plain.txt"), "x");
    EXPECT_FALSE(fs::exists(scratch.path() / "missing"));
}
