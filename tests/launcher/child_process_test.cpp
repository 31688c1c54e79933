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

}  // namespace

TEST(ChildCommandLine, IsThePathUnquotedThenAnEmptyQuotedArgument) {
    const std::u16string path = u"D:\\Temp\\\\VORNIX\\zandro.exe";
    EXPECT_EQ(ChildCommandLine(path), u"D:\\Temp\\\\VORNIX\\zandro.exe \"\"");
    const std::u16string blanks = u"C:\\Users\\A B\\Temp\\\\VORNIX\\zandro.exe";
    EXPECT_EQ(ChildCommandLine(blanks), blanks + u" \"\"");
    EXPECT_EQ(ChildCommandLine(blanks).size(), blanks.size() + 3);
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

// Starts the probe placed at `child` and returns its report.
std::string StartProbe(const fs::path& child, const fs::path& report) {
    EXPECT_TRUE(PlatformSetEnvironmentVariable(u"ZANDRO_REPORT", report.u16string().c_str()));
#ifndef _WIN32
    // The POSIX loader finds the library only through its search path.
    EXPECT_TRUE(PrependToPath(child.parent_path().u16string()));
#endif
    uint32_t error = 0;
    EXPECT_TRUE(CreateChildProcess(child.u16string(), kInvalidPlatformHandle, &error)) << error;
    return WaitForFile(report);
}

TEST(CreateChildProcess, StartsThePathWithOneEmptyArgumentAndDoesNotWait) {
    ScratchFolder scratch;
    const std::string report =
        StartProbe(PlaceProbe(scratch.path() / "VORNIX"), scratch.path() / "report.txt");
    ASSERT_FALSE(report.empty()) << "the child did not report";
    EXPECT_EQ(ReportValue(report, "argc"), "2");
    EXPECT_EQ(ReportValue(report, "argv1"), "[]");
    EXPECT_EQ(ReportValue(report, "library"), "library loaded");
    EXPECT_EQ(fs::path(ReportValue(report, "cwd")), fs::current_path());
}

TEST(CreateChildProcess, PathWithBlanksStillNamesTheProgram) {
    ScratchFolder scratch;
    const fs::path child = PlaceProbe(scratch.path() / "with blanks" / "VORNIX");
    const std::string report = StartProbe(child, scratch.path() / "report.txt");
    ASSERT_FALSE(report.empty()) << "the child did not report";
#ifdef _WIN32
    // The command line carries the path unquoted, so the program's own parsing splits it.
    EXPECT_EQ(ReportValue(report, "commandline"), child.string() + " \"\"");
#else
    EXPECT_EQ(ReportValue(report, "argc"), "2");
    EXPECT_EQ(ReportValue(report, "argv1"), "[]");
#endif
}

#ifndef _WIN32
// On Windows these boxes wait for a user; the end-to-end tests read them there.
TEST(CreateChildProcess, GivesTheErrorCodeThatTheBoxShows) {
    ScratchFolder scratch;
    uint32_t error = 0;
    EXPECT_FALSE(CreateChildProcess(scratch.text() + u"\\missing\\zandro.exe",
                                    kInvalidPlatformHandle, &error));
    testing::internal::CaptureStderr();
    ShowStartFailure(DefaultSettings(), error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "错误提示: 启动主程序失败，错误码:(2)。\n");

    const fs::path notAProgram = scratch.path() / "zandro.exe";
    WriteFileBytes(notAProgram, "MZ but not really");
    fs::permissions(notAProgram, fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_FALSE(CreateChildProcess(notAProgram.u16string(), kInvalidPlatformHandle, &error));
    EXPECT_EQ(error, 8u);  // ENOEXEC
}
#endif
