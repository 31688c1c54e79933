// The window lookup at start: only a window of class "vornix" titled "Kelmora" counts as a
// running copy of the application.
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace {

class RunningCopy : public LauncherRun {
  protected:
    void TearDown() override {
        for (HWND window : windows_) DestroyWindow(window);
        PumpMessages();
        for (const std::wstring& name : classes_) UnregisterClassW(name.c_str(), nullptr);
        LauncherRun::TearDown();
    }

    HWND OpenWindow(const wchar_t* className, const wchar_t* title) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        if (RegisterClassW(&windowClass) != 0) classes_.push_back(className);
        HWND window = CreateWindowW(className, title, WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
        EXPECT_NE(window, nullptr);
        // Left hidden: the lookup finds hidden windows too, and hidden ones close faster under
        // Wine without a window manager.
        PumpMessages();
        windows_.push_back(window);
        return window;
    }

    std::vector<HWND> windows_;
    std::vector<std::wstring> classes_;
};

TEST_F(RunningCopy, OpenApplicationWindowGetsWarningAndNothingIsUnpacked) {
    MakeFolders(folder_);
    MakeFile(folder_ + L"\\left by the last run.txt", "old");
    HWND application = OpenWindow(L"vornix", L"Kelmora");

    BoxContents box = RunUntilBox(kAppLauncher);
    EXPECT_EQ(box.text, L"程序已打开!");
    EXPECT_EQ(box.caption, L"Kelmora");
    EXPECT_EQ(box.icon, BoxIcon::Exclamation);
    EXPECT_TRUE(IsWindow(application));

    std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.begin()->first, L"left by the last run.txt");
    EXPECT_FALSE(PathExists(report_)) << "an application was started";
    EXPECT_TRUE(ListTree(workDir_).empty());
}

// The system compares class names and titles without regard to case, so only other texts
// are tried here.
TEST_F(RunningCopy, WindowWithAnotherTitleOrClassDoesNotCount) {
    OpenWindow(L"vornix", L"Kelmora 2");
    OpenWindow(L"vornix", L"");
    OpenWindow(L"vornix2", L"Kelmora");

    Report report = RunUntilReport(kAppLauncher);
    EXPECT_EQ(report["commandline"], commandLine_);
}

// A launcher built with a window of its own looks for that one alone, and says so in its own words.
TEST_F(RunningCopy, ANamedLauncherLooksForItsOwnWindow) {
    HWND application = OpenWindow(L"zorvex", L"Zorvex");
    BoxContents box = RunUntilBox(kNamedLauncher);
    EXPECT_EQ(box.text, L"Zorvex l\u00E4uft schon!");
    EXPECT_EQ(box.caption, L"Zorvex \u542F\u52A8\u5668");
    EXPECT_EQ(box.icon, BoxIcon::Exclamation);
    EXPECT_TRUE(IsWindow(application));
    EXPECT_FALSE(PathExists(tempPath_ + L"Zorvex Data"));
    EXPECT_FALSE(PathExists(report_));
}

}  // namespace
