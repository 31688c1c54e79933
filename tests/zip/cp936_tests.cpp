// Names under the ANSI code page 936. Only meaningful in the Windows build run under Wine with
// LC_ALL=zh_CN.UTF-8 (ctest label "cp936"); everywhere else the cases skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/zip_builder.h"
#include "tests/zip/disk_support.h"
#include "zip/zip_archive.h"

namespace {

bool UnderCodePage936() {
#ifdef _WIN32
    const char* locale = std::getenv("LC_ALL");
    return locale != nullptr && std::strncmp(locale, "zh_CN", 5) == 0;
#else
    return false;  // the POSIX build's code page is always Windows-1252
#endif
}

TEST(CodePage936, UnflaggedDoubleByteNamesBecomeOneCharacterEach) {
    if (!UnderCodePage936()) GTEST_SKIP() << "needs the Windows build with LC_ALL=zh_CN.UTF-8";
    TestArchive a;
    TestEntry flagged = MakeEntry("\xE4\xBD\xA0", "x");  // UTF-8, whatever the code page
    flagged.flags = 0x0800;
    TestEntry notUtf8 = MakeEntry("\xC4\xE3", "x");  // code page 936 bytes, flagged wrongly
    notUtf8.flags = 0x0800;
    a.entries = {MakeEntry("\xC4\xE3", "x"), MakeEntry("dir/\xC4\xE3\xBA\xC3.txt", "y"), flagged,
                 notUtf8};
    const Bytes bytes = BuildZip(a);
    ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    ASSERT_NE(archive, nullptr);
    ZipEntryInfo info{};
    ASSERT_EQ(GetZipEntry(archive, 0, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name), u"\u4F60");
    ASSERT_EQ(GetZipEntry(archive, 1, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name), u"dir/\u4F60\u597D.txt");
    ASSERT_EQ(GetZipEntry(archive, 2, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name), u"\u4F60");
    EXPECT_EQ(GetZipEntry(archive, 3, &info), ZipBadName);
    EXPECT_EQ(CloseZipArchive(archive), ZipOk);
}

TEST(CodePage936, NamesFromBsdtarInTheCodePage) {
    if (!UnderCodePage936()) GTEST_SKIP() << "needs the Windows build with LC_ALL=zh_CN.UTF-8";
    EXPECT_EQ(FixtureEntryNames("reader_names_cp936_bsdtar.zip"),
              (std::vector<std::u16string>{u"caf\u00E9.dll", u"\u6570\u636E/",
                                           u"\u6570\u636E/\u8BF4\u660E.txt"}));
}

}  // namespace
