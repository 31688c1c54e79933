#include "tests/e2e/e2e_fixture.h"

#include <cstdio>

namespace {
constexpr DWORD kBoxTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 20000;
constexpr DWORD kReportTimeoutMs = 20000;
}  // namespace

void LauncherRun::SetUp() {
    CloseApplicationWindows();
    // Blanks in the paths, as in a user name with a space: the child's path is quoted in its
    // command line.
    root_ = DriverFolder() + L"e2e work\\";
    RemoveTree(root_);
    const std::wstring temp = root_ + L"temp dir\\";
    workDir_ = root_ + L"start here";
    report_ = root_ + L"report.txt";
    MakeFolders(temp.substr(0, temp.size() - 1));
    MakeFolders(workDir_);
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", temp.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", temp.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_REPORT", report_.c_str()));
    // A launcher without Path leaves it alone, so the runs get one (a fresh prefix may lack it).
    wchar_t path[32768] = {};
    if (GetEnvironmentVariableW(L"Path", path, 32768) == 0) {
        ASSERT_TRUE(SetEnvironmentVariableW(L"Path", L"C:\\windows\\system32;C:\\windows"));
        GetEnvironmentVariableW(L"Path", path, 32768);
    }
    path_ = path;

    wchar_t buffer[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, buffer), 0u);
    tempPath_ = buffer;
    ASSERT_EQ(tempPath_.back(), L'\\');
    folderText_ = tempPath_ + L"\\VORNIX";
    folder_ = tempPath_ + L"VORNIX";
    commandLine_ = L"\"" + folderText_ + L"\\zandro.exe\" \"\"";
}

void LauncherRun::TearDown() { CloseApplicationWindows(); }

BoxContents LauncherRun::RunUntilBox(const std::wstring& launcher, const std::wstring& arguments,
                                     const std::wstring& image) {
    BoxContents contents;
    LaunchedProcess run = StartProcess(launcher, arguments, workDir_);
    if (run.process == nullptr) return contents;
    HWND box = WaitForMessageBox(run, kBoxTimeoutMs);
    if (box == nullptr) {
        ADD_FAILURE() << "no message box appeared";
        EndProcess(run);
        return contents;
    }
    contents = ReadMessageBox(box);
    if (!image.empty()) {
        EXPECT_TRUE(SaveWindowImage(box, image));
        std::printf("box image: %s\n", Utf8(image).c_str());
    }
    CloseMessageBox(box);
    DWORD code = WaitForExit(run, kExitTimeoutMs);
    EXPECT_EQ(code, 0u) << "launcher exit code";
    if (code == kTimedOut) EndProcess(run);
    return contents;
}

Report LauncherRun::RunUntilReport(const std::wstring& launcher, const std::wstring& arguments) {
    LaunchedProcess run = StartProcess(launcher, arguments, workDir_);
    if (run.process == nullptr) return {};
    DWORD code = WaitForExit(run, kExitTimeoutMs);
    if (code == kTimedOut) {
        HWND box = WaitForMessageBox(run, 0);
        if (box != nullptr) {
            BoxContents contents = ReadMessageBox(box);
            ADD_FAILURE() << "unexpected box: " << Utf8(contents.caption) << ": "
                          << Utf8(contents.text);
        } else {
            ADD_FAILURE() << "launcher did not end";
        }
        EndProcess(run);
        return {};
    }
    EXPECT_EQ(code, 0u) << "launcher exit code";
    EXPECT_TRUE(WaitForFile(report_, kReportTimeoutMs)) << "the application wrote no report";
    return ReadReport(report_);
}

DWORD LauncherRun::Pack(const std::wstring& arguments) {
    LaunchedProcess run = StartProcess(kPacker, arguments, workDir_);
    const DWORD code = WaitForExit(run, kPackTimeoutMs);
    if (code == kTimedOut) EndProcess(run);
    return code;
}
