#include <gtest/gtest.h>

#include "launcher/launcher.h"

TEST(JoinPath, PutsOneBackslashBetweenFolderAndName) {
    EXPECT_EQ(JoinPath(u"D:\\Temp", u"a.txt"), u"D:\\Temp\\a.txt");
    EXPECT_EQ(JoinPath(u"D:\\Temp", u"sub/a.txt"), u"D:\\Temp\\sub/a.txt");
}

TEST(JoinPath, KeepsTheFolderWholeSoATrailingSeparatorDoubles) {
    EXPECT_EQ(JoinPath(u"D:\\Temp\\", u"VORNIX"), u"D:\\Temp\\\\VORNIX");
    EXPECT_EQ(JoinPath(u"D:\\Temp\\\\VORNIX", u"zandro.exe"), u"D:\\Temp\\\\VORNIX\\zandro.exe");
}

TEST(JoinPath, NameStartingWithBackslashGetsNoSecondOne) {
    EXPECT_EQ(JoinPath(u"D:\\Temp", u"\\a.txt"), u"D:\\Temp\\a.txt");
    // Only the backslash counts: a forward slash in front still gets a separator.
    EXPECT_EQ(JoinPath(u"D:\\Temp", u"/a.txt"), u"D:\\Temp\\/a.txt");
    EXPECT_EQ(JoinPath(u"D:\\Temp", u"a/"), u"D:\\Temp\\a/");
}

TEST(JoinPath, EmptyParts) {
    EXPECT_EQ(JoinPath(u"", u"a.txt"), u"\\a.txt");
    EXPECT_EQ(JoinPath(u"D:\\Temp", u""), u"D:\\Temp\\");
    EXPECT_EQ(JoinPath(u"", u""), u"\\");
}
