// Started again and again, as impatient users do: one application starts, from whole files, and
// a running application is never touched.
#include "tests/e2e/e2e_fixture.h"
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <vector>

namespace {

constexpr DWORD kOutcomeTimeoutMs = 60000;

// The application's windows that other processes own.
int ApplicationWindows() {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"vornix", L"Kelmora")) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        count += owner != GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

// Waits until no process runs from a file named `name`; false when one still does after 20 s.
bool WaitUntilNoneRuns(const wchar_t* name) {
    const DWORD start = GetTickCount();
    for (;;) {
        bool running = false;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            running = running || _wcsicmp(entry.szExeFile, name) == 0;
        }
        CloseHandle(snapshot);
        if (!running) return true;
        if (GetTickCount() - start > 20000) return false;
        Sleep(100);
    }
}

class ConcurrentStarts : public LauncherRun {
  protected:
    void SetUp() override {
        LauncherRun::SetUp();
        stop_ = root_ + L"stop";
    }
    void TearDown() override {
        MakeFile(stop_, "stop");  // ends the holder application
        for (LaunchedProcess& run : runs_) EndProcess(run);
        LauncherRun::TearDown();
        EXPECT_TRUE(WaitUntilNoneRuns(L"zandro.exe"));
    }

    // Starts the launcher after `delayMs` more milliseconds.
    void StartAfter(const wchar_t* launcher, DWORD delayMs) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < delayMs) {
            PumpMessages();
            Sleep(5);
        }
        runs_.push_back(StartProcess(launcher, L"", workDir_));
    }

    // Waits until every launcher has ended, reading and closing the box each may show (the
    // others do not wait for it); returns the boxes' texts. Every launcher ends with exit code 0.
    std::vector<std::wstring> CollectBoxes() {
        std::vector<std::wstring> texts;
        for (LaunchedProcess& run : runs_) {
            if (HWND box = WaitForMessageBox(run, kOutcomeTimeoutMs)) {
                texts.push_back(ReadMessageBox(box).text);
                CloseMessageBox(box);
            }
            EXPECT_EQ(WaitForExit(run, kOutcomeTimeoutMs), 0u) << "launcher exit code";
        }
        runs_.clear();
        return texts;
    }

    // Waits for the application's window; then none other may come.
    void ExpectOneApplication() {
        const DWORD start = GetTickCount();
        while (ApplicationWindows() == 0 && GetTickCount() - start < 20000) {
            PumpMessages();
            Sleep(50);
        }
        Sleep(1000);
        EXPECT_EQ(ApplicationWindows(), 1);
    }

    // The big payload's files are all there, whole.
    void ExpectWholeBigPayload() {
        std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
        EXPECT_EQ(tree.size(), 2u + 2u + 8u + 300u);  // data\, small\ and the files
        for (int i = 0; i < 8; ++i) {
            const std::wstring name = L"data\\block" + std::to_wstring(i) + L".bin";
            EXPECT_EQ(tree[name].size, 4u << 20) << Utf8(name);
        }
        Report report = ReadReport(report_);
        EXPECT_NE(report["library"].find(L"zandrolib loaded from"), std::wstring::npos);
    }

    std::vector<LaunchedProcess> runs_;
    std::wstring stop_;
};

TEST_F(ConcurrentStarts, LaunchersStartedCloseTogetherStartOneApplication) {
    // Four at once; two 40 ms apart; three at 0, 150 and 1,200 ms; two 400 ms apart.
    const std::vector<std::vector<DWORD>> schedules = {
        {0, 0, 0, 0}, {0, 40}, {0, 150, 1050}, {0, 400}};
    for (const std::vector<DWORD>& delays : schedules) {
        SCOPED_TRACE(testing::Message() << delays.size() << " launchers");
        for (DWORD delay : delays) StartAfter(kBigLauncher, delay);
        const std::vector<std::wstring> boxes = CollectBoxes();
        // Every launcher but the one that started the application found it running: after
        // waiting for the first, or after it had already ended (its program then running).
        EXPECT_EQ(boxes.size(), delays.size() - 1);
        for (const std::wstring& text : boxes) EXPECT_EQ(text, L"程序已打开!");
        ExpectOneApplication();
        ExpectWholeBigPayload();
        CloseApplicationWindows();
        DeleteFileW(report_.c_str());
    }
}

// The application runs, but its window is not found (it has none here, or one whose title changed):
// its program cannot be removed, so it is reported as running, and nothing of its folder is
// touched, not even a file the application holds with delete sharing.
TEST_F(ConcurrentStarts, ARunningApplicationWithoutItsWindowIsLeftAlone) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_STOP", stop_.c_str()));
    Report first = RunUntilReport(kHolderLauncher);
    ASSERT_EQ(first["holding"], L"yes");
    DeleteFileW(report_.c_str());
    const std::map<std::wstring, TreeEntry> before = ListTree(folder_);

    BoxContents box = RunUntilBox(kHolderLauncher);
    EXPECT_EQ(box.text, L"程序已打开!");
    EXPECT_EQ(box.icon, BoxIcon::Exclamation);
    EXPECT_FALSE(PathExists(report_));
    EXPECT_EQ(ListTree(folder_).size(), before.size());
    // Not deleted, and not even marked for deletion: it still opens.
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\data.bin"), "application data");

    // Once the application has ended, the next start works as ever.
    MakeFile(stop_, "stop");
    ASSERT_TRUE(WaitUntilNoneRuns(L"zandro.exe"));
    DeleteFileW(stop_.c_str());
    Report again = RunUntilReport(kHolderLauncher);
    EXPECT_EQ(again["holding"], L"yes");
}

// The box that a failed start shows stays on the screen as long as its user likes: the launcher
// has let go of everything by then, and the next launcher does not wait for it.
TEST_F(ConcurrentStarts, ALauncherShowingABoxKeepsNoOtherWaiting) {
    LaunchedProcess failing = StartProcess(kNotProgramLauncher, L"", workDir_);
    ASSERT_NE(failing.process, nullptr);
    HWND box = WaitForMessageBox(failing, 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadMessageBox(box).text, L"启动主程序失败，错误码:(193)。");

    Report report = RunUntilReport(kAppLauncher);
    EXPECT_EQ(report["commandline"], commandLine_);
    CloseMessageBox(box);
    EXPECT_EQ(WaitForExit(failing, 20000), 0u);
}

}  // namespace
