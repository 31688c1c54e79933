// Names under the ANSI code page 936. Only meaningful in the Windows build run under Wine with
// LC_ALL=zh_CN.UTF-8 (ctest label "cp936"); everywhere else the cases skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/zip_builder.h"
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

TEST(CodePage936, DoubleByteNamesBecomeOneCharacterEach) {
    if (!UnderCodePage936()) GTEST_SKIP() << "needs the Windows build with LC_ALL=zh_CN.UTF-8";
    TestArchive a;
    TestEntry flagged = MakeEntry("\xC4\xE3", "x");
    flagged.flags = 0x0800;  // the UTF-8 flag is not consulted
    a.entries = {flagged, MakeEntry("dir/\xC4\xE3\xBA\xC3.txt", "y")};
    const Bytes bytes = BuildZip(a);
    ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    ASSERT_NE(archive, nullptr);
    ZipEntryInfo info{};
    ASSERT_EQ(GetZipEntry(archive, 0, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name), u"\u4F60");
    ASSERT_EQ(GetZipEntry(archive, 1, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name), u"dir/\u4F60\u597D.txt");
    EXPECT_EQ(CloseZipArchive(archive), ZipOk);
}

}  // namespace
