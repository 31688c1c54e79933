#include <gtest/gtest.h>

#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "tests/launcher/launcher_test_support.h"

namespace {

// Copies the stand-in main program and its library into `folder` as zandro.exe.
fs::path PlaceProbe(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy_file(PROBE_PROGRAM, folder / "zandro.exe");
    fs::copy_file(PROBE_LIBRARY, folder / fs::path(PROBE_LIBRARY).filename());
    return folder / "zandro.exe";
}

LauncherSettings With(std::u16string LauncherSettings::*member, const std::u16string& value,
                      LauncherSettings settings = DefaultSettings()) {
    settings.*member = value;
    return settings;
}

}  // namespace

// A path with a blank or a tab is quoted, so that the program's own parsing reads one path; any
// other stays as it was, followed by the empty quoted argument of a launcher built here.
TEST(ChildCommandLine, QuotesAPathWithABlankAndKeepsEveryOtherAsItWas) {
    const LauncherSettings defaults = DefaultSettings();
    const std::u16string plain = u"D:\\Temp\\\\VORNIX\\zandro.exe";
    EXPECT_EQ(PlanChildStart(u"D:\\Temp\\\\VORNIX", defaults, u"launcher.exe").commandLine,
              plain + u" \"\"");
    for (const std::u16string folder : {u"C:\\Users\\A B\\Temp\\\\VORNIX", u"C:\\T\tab\\VORNIX"}) {
        EXPECT_EQ(PlanChildStart(folder, defaults, u"x").commandLine,
                  u"\"" + folder + u"\\zandro.exe\" \"\"");
    }
    EXPECT_EQ(ChildCommandLine(u"C:\\a b\\p.exe", u"", u""), u"\"C:\\a b\\p.exe\"");
}

TEST(ChildCommandLine, TheLaunchersArgumentsFollowAsTheyCameAfterItsOwnName) {
    const struct {
        const char16_t* launcherLine;
        const char16_t* arguments;
    } cases[] = {
        {u"\"C:\\My Apps\\App.exe\" file.txt \"two words.txt\"", u"file.txt \"two words.txt\""},
        {u"App.exe\t  -x  \"say \\\"hi\\\"\" ", u"-x  \"say \\\"hi\\\"\" "},
        {u"\"C:\\App\"x.exe y", u"x.exe y"},  // the name ends at its closing quote
        {u"App.exe", u""},
        {u"\"App.exe   ", u""},
        {u"", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(ArgumentsOf(c.launcherLine), c.arguments);

    LauncherSettings forward = With(&LauncherSettings::forwardArguments, u"on");
    const std::u16string line = u"\"C:\\A B\\App.exe\" \"C:\\Docs\\my file.txt\"";
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", forward, line).commandLine,
              u"C:\\T\\\\App\\zandro.exe \"\" \"C:\\Docs\\my file.txt\"");
    forward.arguments = u"";
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", forward, line).commandLine,
              u"C:\\T\\\\App\\zandro.exe \"C:\\Docs\\my file.txt\"");
    forward.arguments = u"/open";
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", forward, u"App.exe").commandLine,
              u"C:\\T\\\\App\\zandro.exe /open");
    // Not forwarded: the launcher's own arguments go nowhere.
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", DefaultSettings(), line).commandLine,
              u"C:\\T\\\\App\\zandro.exe \"\"");
}

TEST(ChildCommandLine, TheWorkingFolderIsTheLaunchersOrTheApplicationsFolder) {
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", DefaultSettings(), u"x").directory, u"");
    const LauncherSettings own = With(&LauncherSettings::workingFolder, u"application");
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", own, u"x").directory, u"C:\\T\\\\App");
    EXPECT_EQ(PlanChildStart(u"C:\\T\\\\App", own, u"x").path, u"C:\\T\\\\App\\zandro.exe");
}

TEST(PlatformFormatInteger, PutsTheSignedDecimalInPlaceOfTheDirective) {
    char16_t buffer[1024] = {};
    EXPECT_EQ(PlatformFormatInteger(buffer, u"启动主程序失败，错误码:(%d)。", 2), 16);
    EXPECT_EQ(std::u16string(buffer), u"启动主程序失败，错误码:(2)。");
    PlatformFormatInteger(buffer, u"(%d)", 193);
    EXPECT_EQ(std::u16string(buffer), u"(193)");
    PlatformFormatInteger(buffer, u"(%d)", -2147483647 - 1);
    EXPECT_EQ(std::u16string(buffer), u"(-2147483648)");
}

// Starts the probe of the folder `folder` as `settings` ask and returns its report.
std::string StartProbe(const fs::path& folder, const fs::path& report,
                       const LauncherSettings& settings = DefaultSettings(),
                       const std::u16string& launcherLine = u"launcher") {
    EXPECT_TRUE(PlatformSetEnvironmentVariable(u"ZANDRO_REPORT", report.u16string().c_str()));
#ifndef _WIN32
    // The POSIX loader finds the library only through its search path.
    EXPECT_TRUE(PrependToPath(folder.u16string()));
#endif
    uint32_t error = 0;
    const ChildStart start = PlanChildStart(folder.u16string(), settings, launcherLine);
    EXPECT_TRUE(CreateChildProcess(start, kInvalidPlatformHandle, &error)) << error;
    return WaitForFile(report);
}

TEST(CreateChildProcess, StartsThePathWithOneEmptyArgumentAndDoesNotWait) {
    ScratchFolder scratch;
    PlaceProbe(scratch.path() / "VORNIX");
    const std::string report = StartProbe(scratch.path() / "VORNIX", scratch.path() / "report.txt");
    ASSERT_FALSE(report.empty()) << "the child did not report";
    EXPECT_EQ(ReportValue(report, "argc"), "2");
    EXPECT_EQ(ReportValue(report, "argv1"), "[]");
    EXPECT_EQ(ReportValue(report, "library"), "library loaded");
    EXPECT_EQ(fs::path(ReportValue(report, "cwd")), fs::current_path());
}

// A blank in the path, arguments with blanks and quotes forwarded, and the application's folder
// as the working folder: the program reads back exactly what was meant.
TEST(CreateChildProcess, TheProgramReadsItsPathArgumentsAndFolderAsMeant) {
    ScratchFolder scratch;
    const fs::path folder = scratch.path() / "with blanks" / "VORNIX";
    PlaceProbe(folder);
    LauncherSettings settings = With(&LauncherSettings::forwardArguments, u"on");
    settings.workingFolder = u"application";
    settings.arguments = u"/open";
    const std::string report =
        StartProbe(folder, scratch.path() / "report.txt", settings,
                   u"\"C:\\A B\\launcher.exe\" \"my file.txt\" \"say \\\"hi\\\"\" \\\\server\\x");
    ASSERT_FALSE(report.empty()) << "the child did not report";
    EXPECT_EQ(ReportValue(report, "argc"), "5");
    const std::string program = ReportValue(report, "argv0");
    EXPECT_EQ(fs::path(program.substr(1, program.size() - 2)), folder / "zandro.exe");
    EXPECT_EQ(ReportValue(report, "argv1"), "[/open]");
    EXPECT_EQ(ReportValue(report, "argv2"), "[my file.txt]");
    EXPECT_EQ(ReportValue(report, "argv3"), "[say \"hi\"]");
    EXPECT_EQ(ReportValue(report, "argv4"), "[\\\\server\\x]");
    EXPECT_TRUE(fs::equivalent(fs::path(ReportValue(report, "cwd")), folder));
}

#ifndef _WIN32
// On Windows these boxes wait for a user; the end-to-end tests read them there.
TEST(CreateChildProcess, GivesTheErrorCodeThatTheBoxShows) {
    ScratchFolder scratch;
    uint32_t error = 0;
    EXPECT_FALSE(
        CreateChildProcess(PlanChildStart(scratch.text() + u"\\missing", DefaultSettings(), u""),
                           kInvalidPlatformHandle, &error));
    testing::internal::CaptureStderr();
    ShowStartFailure(DefaultSettings(), error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "错误提示: 启动主程序失败，错误码:(2)。\n");

    const fs::path notAProgram = scratch.path() / "zandro.exe";
    WriteFileBytes(notAProgram, "MZ but not really");
    fs::permissions(notAProgram, fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_FALSE(CreateChildProcess(PlanChildStart(scratch.text(), DefaultSettings(), u""),
                                    kInvalidPlatformHandle, &error));
    EXPECT_EQ(error, 8u);  // ENOEXEC
}
#endif
