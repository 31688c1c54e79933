// The names a payload may hold: what the launcher would skip or Windows would change is
// refused, long names are measured against a typical %TEMP%, and collisions are found as
// Windows finds them.
#include "packer/entry_names.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/packer/packer_test_support.h"

namespace {

const NameLimits kDefaultLimits = LimitsBelow(u"VORNIX");

bool Accepted(const std::u16string& name, bool isFolder = false, size_t bytes = 0,
              const NameLimits& limits = kDefaultLimits) {
    std::u16string reason;
    return CheckEntryName(name, isFolder, bytes, limits, &reason);
}

TEST(EntryNames, RefusesWhatTheLauncherSkipsOrWindowsChanges) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"", u"empty"},
        {u"/", u"empty"},
        {u"/root.txt", u"absolute"},
        {u"\\root.txt", u"absolute"},
        {u"C:drive.txt", u"\":\""},
        {u"file.txt:stream", u"\":\""},
        {u"a/../../b.txt", u"goes up"},
        {u"a\\..\\b.txt", u"goes up"},
        {u"sub/.. /b.txt", u"goes up"},
        {u"nul.txt", u"device"},
        {u"sub/COM1", u"device"},
        {u"a<b.txt", u"\"<\""},
        {u"what?.txt", u"\"?\""},
        {u"star*.txt", u"\"*\""},
        {u"pipe|.txt", u"\"|\""},
        {u"quote\".txt", u"\"\"\""},
        {u"tab\there.txt", u"control character (9)"},
        {u"trailing.", u"ends in a dot or a blank"},
        {u"dir. /file.txt", u"ends in a dot or a blank"},
        {u"bad\xD800.txt", u"not valid Unicode"},
    };
    for (const auto& c : cases) {
        std::u16string reason;
        EXPECT_FALSE(CheckEntryName(c.first, false, 0, kDefaultLimits, &reason)) << Narrow(c.first);
        EXPECT_NE(reason.find(c.second), std::u16string::npos) << Narrow(reason);
        EXPECT_EQ(reason.find(u"\"" + std::u16string(c.first) + u"\""), 0u) << Narrow(reason);
    }
}

TEST(EntryNames, AcceptsOrdinaryNamesInAnyScript) {
    for (const char16_t* name : {u"zandro.exe", u"caf\u00e9.dll", u"\u8bf4\u660e/\u8bf4\u660e.txt",
                                 u"a b/c.d.e", u".hidden", u"a..b.txt", u"sub//file.txt",
                                 u"emoji\U0001F600.txt", u"console.txt", u"com10.txt"}) {
        EXPECT_TRUE(Accepted(name)) << Narrow(name);
    }
    EXPECT_TRUE(Accepted(u"data/levels/", true));
}

TEST(EntryNames, LengthLimitsAllowForATypicalTemporaryFolder) {
    EXPECT_EQ(kDefaultLimits.maxFileUnits, 187u);
    EXPECT_EQ(kDefaultLimits.maxFolderUnits, 175u);
    EXPECT_TRUE(Accepted(std::u16string(187, u'f')));
    EXPECT_FALSE(Accepted(std::u16string(188, u'f')));
    EXPECT_TRUE(Accepted(std::u16string(175, u'd') + u"/", true));
    EXPECT_FALSE(Accepted(std::u16string(176, u'd') + u"/", true));
    // A file may be longer than a folder, but not its folder.
    EXPECT_TRUE(Accepted(std::u16string(100, u'd') + u"/" + std::u16string(80, u'f')));
    EXPECT_FALSE(Accepted(std::u16string(176, u'd') + u"/f"));
    // The reader keeps 259 bytes of a stored name: Chinese names reach it before the units do.
    EXPECT_TRUE(Accepted(u"name", false, 259));
    std::u16string reason;
    EXPECT_FALSE(
        CheckEntryName(std::u16string(87, u'\u8bf4'), false, 261, kDefaultLimits, &reason));
    EXPECT_NE(reason.find(u"261 bytes"), std::u16string::npos);
    EXPECT_FALSE(CheckEntryName(std::u16string(188, u'f'), false, 0, kDefaultLimits, &reason));
    EXPECT_NE(reason.find(u"%TEMP%\\VORNIX fits"), std::u16string::npos);
    EXPECT_NE(reason.find(u"64 units"), std::u16string::npos);
}

TEST(EntryNames, TheExtractionFolderNameTakesItsOwnLengthFromTheBudget) {
    // "VORNIX" is 6 units; a folder name 50 units longer leaves every name 50 units less.
    const std::u16string longFolder(56, u'n');
    const NameLimits limits = LimitsBelow(longFolder);
    EXPECT_EQ(limits.maxFileUnits, 137u);
    EXPECT_EQ(limits.maxFolderUnits, 125u);
    EXPECT_TRUE(Accepted(std::u16string(137, u'f'), false, 0, limits));
    EXPECT_FALSE(Accepted(std::u16string(138, u'f'), false, 0, limits));
    EXPECT_FALSE(Accepted(std::u16string(126, u'd') + u"/", true, 0, limits));
    std::u16string reason;
    EXPECT_FALSE(CheckEntryName(std::u16string(138, u'f'), false, 0, limits, &reason));
    EXPECT_NE(reason.find(u"%TEMP%\\" + longFolder + u" fits"), std::u16string::npos);
    // A shorter name leaves more.
    EXPECT_TRUE(Accepted(std::u16string(191, u'f'), false, 0, LimitsBelow(u"A")));
}

// The result of adding the names in order: true when all went in.
bool AllAdded(std::initializer_list<std::pair<const char16_t*, bool>> names, EntryNameSet* set) {
    std::u16string reason;
    for (const auto& name : names) {
        if (!AddEntryName(set, name.first, name.second, &reason)) return false;
    }
    return true;
}

TEST(EntryNames, FindsNamesThatLandOnTheSameFile) {
    EntryNameSet set(u"zandro.exe");
    EXPECT_FALSE(AllAdded({{u"Lib.dll", false}, {u"lib.DLL", false}}, &set));
    set = EntryNameSet(u"zandro.exe");
    EXPECT_FALSE(AllAdded({{u"\u00c9t\u00e9.txt", false}, {u"\u00e9T\u00c9.txt", false}}, &set));
    set = EntryNameSet(u"zandro.exe");
    EXPECT_FALSE(AllAdded({{u"\u0416.txt", false}, {u"\u0436.txt", false}}, &set));
    set = EntryNameSet(u"zandro.exe");
    EXPECT_FALSE(AllAdded({{u"a/b.txt", false}, {u"A\\B.TXT", false}}, &set));
    set = EntryNameSet(u"zandro.exe");
    EXPECT_FALSE(
        AllAdded({{u"data", false}, {u"data/file.txt", false}}, &set));  // file, then folder
    set = EntryNameSet(u"zandro.exe");
    EXPECT_FALSE(AllAdded({{u"data/", true}, {u"DATA", false}}, &set));
    set = EntryNameSet(u"zandro.exe");
    EXPECT_TRUE(AllAdded(
        {{u"data/", true}, {u"Data/x.txt", false}, {u"data/", true}, {u"data/y.txt", false}},
        &set));
    std::u16string reason;
    EXPECT_FALSE(AddEntryName(&set, u"DATA/X.txt", false, &reason));
    EXPECT_NE(reason.find(u"\"Data/x.txt\""), std::u16string::npos);
}

TEST(EntryNames, TheMainProgramCountsOnlyAtTheTopAndAsAFile) {
    EntryNameSet set(u"zandro.exe");
    ASSERT_TRUE(AllAdded({{u"sub/zandro.exe", false}, {u"other/", true}}, &set));
    EXPECT_FALSE(set.hasMainProgram);
    ASSERT_TRUE(AllAdded({{u"zandro.exe/", true}}, &set));
    EXPECT_FALSE(set.hasMainProgram);
    EntryNameSet upper(u"zandro.exe");
    ASSERT_TRUE(AllAdded({{u"ZANDRO.EXE", false}}, &upper));
    EXPECT_TRUE(upper.hasMainProgram);
    // Another main program, compared as Windows compares names.
    EntryNameSet other(u"\u00c9diteur.exe");
    ASSERT_TRUE(AllAdded({{u"zandro.exe", false}}, &other));
    EXPECT_FALSE(other.hasMainProgram);
    ASSERT_TRUE(AllAdded({{u"\u00e9DITEUR.EXE", false}}, &other));
    EXPECT_TRUE(other.hasMainProgram);
}

}  // namespace
