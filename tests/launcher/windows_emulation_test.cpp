// The Windows behaviour that the POSIX platform reproduces, checked without the system.
#include "platform/windows_emulation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/utf8.h"

namespace {

using Arguments = std::vector<std::string>;

TEST(Windows1252, MapsTheHighControlRangeAndPassesEveryOtherByte) {
    char16_t out[8] = {};
    EXPECT_EQ(Windows1252ToWide("\x80\x81\x9f\xa0\xff", out, 8), 6);
    EXPECT_EQ(std::u16string(out), u"\u20ac\u0081\u0178\u00a0\u00ff");
    EXPECT_EQ(Windows1252ToWide("\x8d\x8f\x90\x9d", out, 8), 5);  // undefined: kept as they are
    EXPECT_EQ(std::u16string(out), u"\u008d\u008f\u0090\u009d");
}

TEST(Windows1252, ASizeQueryAndATooSmallBufferBehaveAsTheWin32Call) {
    char16_t out[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(Windows1252ToWide("abc", out, 0), 4);
    EXPECT_EQ(out[0], u'x');  // a size query writes nothing
    EXPECT_EQ(Windows1252ToWide("abc", out, 4), 4);
    EXPECT_EQ(Windows1252ToWide("abcd", out, 4), 0);
    EXPECT_EQ(std::u16string(out, 4), u"abcd");  // filled, unterminated, and failed
}

TEST(FormatOneInteger, OnlyTheFirstDirectiveTakesTheNumberWithinTheWin32Limit) {
    char16_t buffer[1024];
    EXPECT_EQ(FormatOneInteger(buffer, u"%d and %d, 100%", -7), 15);
    EXPECT_EQ(std::u16string(buffer), u"-7 and %d, 100%");
    const std::u16string longFormat = std::u16string(1020, u'.') + u"%d!";
    EXPECT_EQ(FormatOneInteger(buffer, longFormat.c_str(), 12345), 1023);
    EXPECT_EQ(std::u16string(buffer), std::u16string(1020, u'.') + u"123");
}

TEST(CommandLine, TheProgramNameIsTheApplicationTextEvenWithBlanks) {
    EXPECT_EQ(ArgumentsAfterProgram(u"C:\\A B\\x.exe", u"C:\\A B\\x.exe \"\""), Arguments{""});
    EXPECT_EQ(ArgumentsAfterProgram(u"C:\\A B\\x.exe", u"C:\\A B\\x.exe"), Arguments{});
    // A command line that starts otherwise loses its first word.
    EXPECT_EQ(ArgumentsAfterProgram(u"C:\\x.exe", u"other one\ttwo"), (Arguments{"one", "two"}));
    EXPECT_EQ(ArgumentsAfterProgram(u"C:\\x.exe", u"\"quoted name\" one"), Arguments{"one"});
}

TEST(CommandLine, QuotesGroupAndBlanksSeparate) {
    EXPECT_EQ(ArgumentsAfterProgram(u"p", u"p  a\"b c\"d  \"\"  \"e f\" "),
              (Arguments{"ab cd", "", "e f"}));
    EXPECT_EQ(ArgumentsAfterProgram(u"p", u"p \"open to the end"), Arguments{"open to the end"});
    EXPECT_EQ(ArgumentsAfterProgram(u"p", u"p \u8bf4\u660e"),
              Arguments{"\xe8\xaf\xb4\xe6\x98\x8e"});
}

// Backslashes count only before a quote, as CommandLineToArgvW reads them; QuotedArgument writes
// what reads back unchanged (the launcher's own command line on Linux is made so).
TEST(CommandLine, BackslashesBeforeAQuoteAndQuotingReadBack) {
    EXPECT_EQ(ArgumentsAfterProgram(u"p", u"p a\\\\\"b c\" d\\\"e C:\\dir\\ \\\\srv"),
              (Arguments{"a\\b c", "d\"e", "C:\\dir\\", "\\\\srv"}));
    const Arguments tricky = {"plain",     "",          "two words", "say \"hi\"",
                              "C:\\dir\\", "end\\\\\"", "tab\there", "\xe8\xaf\xb4 \xe6\x98\x8e"};
    std::string line = "prog";
    for (const std::string& argument : tricky) line += " " + QuotedArgument(argument);
    EXPECT_EQ(ArgumentsAfterProgram(u"prog", Utf8ToUtf16(line.c_str()).c_str()), tricky);
    EXPECT_EQ(QuotedArgument("plain"), "plain");
    EXPECT_EQ(QuotedArgument(""), "\"\"");
    EXPECT_EQ(QuotedArgument("C:\\dir\\ x"), "\"C:\\dir\\ x\"");
    EXPECT_EQ(QuotedArgument("a\\\"b"), "\"a\\\\\\\"b\"");
}

TEST(CompareUnits, OrdersUnitByUnitAsUnsignedValues) {
    EXPECT_EQ(CompareUnits(u"abc", u"abc"), 0);
    EXPECT_LT(CompareUnits(u"ab", u"abc"), 0);
    EXPECT_GT(CompareUnits(u"b", u"abc"), 0);
    EXPECT_LT(CompareUnits(u"B", u"a"), 0);  // no case folding
    EXPECT_GT(CompareUnits(u"\uffff", u"a"), 0);
}

TEST(RunnableMode, ExecuteGoesWhereReadIsUnlessSomeoneMayExecuteAlready) {
    EXPECT_EQ(RunnableMode(0100644), 0755u);
    EXPECT_EQ(RunnableMode(0100640), 0750u);
    EXPECT_EQ(RunnableMode(0100444), 0555u);
    EXPECT_EQ(RunnableMode(0104600), 04700u);  // special bits kept
    EXPECT_EQ(RunnableMode(0100744), 0744u);   // executable by its owner: left as it is
    EXPECT_EQ(RunnableMode(0100200), 0200u);   // nobody may read it: nothing to run
}

TEST(Attributes, OnlyAWritableFileIsNormal) {
    EXPECT_EQ(NormalWhenNone(ModeAttributes(0100644)), kAttributeNormal);
    EXPECT_EQ(NormalWhenNone(ModeAttributes(0100020)), kAttributeNormal);  // any writer will do
    EXPECT_EQ(NormalWhenNone(ModeAttributes(0100444)), kAttributeReadOnly);
    EXPECT_EQ(NormalWhenNone(ModeAttributes(040755)), kAttributeDirectory);
    EXPECT_EQ(NormalWhenNone(ModeAttributes(040555)), kAttributeDirectory | kAttributeReadOnly);
    EXPECT_EQ(NormalWhenNone(kAttributeReparsePoint), kAttributeReparsePoint);
}

TEST(Attributes, ReadOnlyTakesEveryWriteBitAndItsRemovalGivesTheOwnerOne) {
    EXPECT_EQ(ModeWithReadOnly(0100664, true), 0444u);
    EXPECT_EQ(ModeWithReadOnly(0104755, true), 04555u);
    EXPECT_EQ(ModeWithReadOnly(0100444, false), 0644u);
    EXPECT_EQ(ModeWithReadOnly(0100464, false), 0464u);  // the group may write: left as it is
}

}  // namespace
