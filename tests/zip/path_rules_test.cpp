#include "zip/path_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Shown(const char16_t* name) {
    std::string out;
    for (; *name != 0; ++name) out += *name < 0x80 ? static_cast<char>(*name) : '?';
    return out;
}

}  // namespace

TEST(IsSafeEntryName, AcceptsNamesThatStayInside) {
    for (const char16_t* name : {u"zandro.exe",
                                 u"sub/lib.dll",
                                 u"sub\\lib.dll",
                                 u"a/b/c/",
                                 u"..name",
                                 u"name..",
                                 u"a/b.txt.",
                                 u"./x",
                                 u"a..b/c",
                                 u". /x",
                                 u"CONSOLE.txt",
                                 u"nullish/x",
                                 u"COM10",
                                 u"LPT",
                                 u"com1x.dll",
                                 u"xcon",
                                 u"auxiliary/aux_data.bin",
                                 u"conin.txt",
                                 u"CON$",
                                 u"COM\u00B4",
                                 u" CON"}) {
        EXPECT_TRUE(IsSafeEntryName(name)) << Shown(name);
    }
}

TEST(IsSafeEntryName, RefusesNamesThatCouldLeave) {
    for (const char16_t* name :
         {u"/etc/passwd", u"\\Windows\\x.dll", u"\\\\server\\share\\x", u"C:x.dll", u"C:\\x.dll",
          u"a:b", u"zandro.exe:stream", u"..", u"../x", u"..\\x", u"a/../../x", u"a\\..",
          u"a/..\\b", u"...", u".. /x", u"a/. ./b"}) {
        EXPECT_FALSE(IsSafeEntryName(name)) << Shown(name);
    }
}

// Each of these opens a device on Windows, in whatever step of the name it stands.
TEST(IsSafeEntryName, RefusesDeviceNamesInEveryStep) {
    for (const char16_t* device :
         {u"CON",       u"con",    u"Prn",      u"AUX",     u"nul",        u"COM1",
          u"com9",      u"COM0",   u"LPT1",     u"lpt9",    u"COM\u00B9",  u"LPT\u00B2",
          u"COM\u00B3", u"CONIN$", u"conout$",  u"NUL.txt", u"con.tar.gz", u"COM1 ",
          u"AUX..",     u"nul. .", u"PRN .log", u"LPT3.dll"}) {
        const std::u16string step = device;
        for (const std::u16string& name :
             {step, u"bin/" + step, u"bin\\" + step + u"\\x.dll", step + u"/", u"a/b/" + step}) {
            EXPECT_FALSE(IsSafeEntryName(name.c_str())) << Shown(name.c_str());
        }
    }
}

TEST(PathRules, FitsThePathBufferWithItsTerminator) {
    const std::u16string base(200, u'a');
    EXPECT_TRUE(FitsPathBuffer(base.c_str(), std::u16string(59, u'b').c_str()));
    EXPECT_FALSE(FitsPathBuffer(base.c_str(), std::u16string(60, u'b').c_str()));
    EXPECT_EQ(LastSeparator(u"a/b\\c", 5), 3);
    EXPECT_EQ(LastSeparator(u"a/b\\c", 3), 1);
    EXPECT_EQ(LastSeparator(u"abc", 3), -1);
}

TEST(PathRules, NormalizedPathsKeepOneBackslashBetweenRealSteps) {
    EXPECT_EQ(NormalizedPath(u"./a//b/"), u"a\\b");
    EXPECT_EQ(NormalizedPath(u"a\\.\\b\\c.txt"), u"a\\b\\c.txt");
    EXPECT_EQ(NormalizedPath(u".hidden/.x/..y"), u".hidden\\.x\\..y");
    EXPECT_EQ(NormalizedPath(u"top.txt"), u"top.txt");
    EXPECT_EQ(NormalizedPath(u"./"), u"");
    EXPECT_EQ(NormalizedPath(u""), u"");
}
