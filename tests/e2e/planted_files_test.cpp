// What another, unelevated process may try on the extraction folder: files planted and held open
// there, a link in its place, a rename while the launcher works. Nothing of it is ever started.
#include "tests/e2e/e2e_fixture.h"

namespace {

class PlantedFiles : public LauncherRun {
  protected:
    void TearDown() override {
        for (HANDLE held : held_) CloseHandle(held);
        // A Unix link is removed the Unix way: RemoveDirectoryW would try what it leads to.
        const DWORD attributes = GetFileAttributesW(folder_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            StartUnixProgram(L"/bin/rm", {UnixPath(folder_)});
            EXPECT_TRUE(WaitForReparsePoint(folder_, false)) << "the link stays";
        }
        LauncherRun::TearDown();
    }

    // Plants `name` in the extraction folder and keeps it open with `share`, as another
    // process would.
    void PlantAndHold(const std::wstring& name, DWORD access, DWORD share) {
        MakeFolders(folder_);
        MakeFile(folder_ + L"\\" + name, "planted");
        HANDLE held = CreateFileW((folder_ + L"\\" + name).c_str(), access, share, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        held_.push_back(held);
    }

    // The run shows the launcher's own box, and no application reports.
    void ExpectNothingStarted(const wchar_t* launcher) {
        BoxContents box = RunUntilBox(launcher);
        EXPECT_EQ(box.text, L"释放文件失败或文件被占用！");
        EXPECT_EQ(box.caption, L"Kelmora");
        EXPECT_EQ(box.icon, BoxIcon::Stop);
        EXPECT_FALSE(PathExists(report_)) << "an application was started";
    }

    std::vector<HANDLE> held_;
};

// Readers welcome, no writing or deleting: the planted program cannot be removed or replaced.
TEST_F(PlantedFiles, MainProgramHeldOpenIsNotStarted) {
    PlantAndHold(L"zandro.exe", GENERIC_READ, FILE_SHARE_READ);
    ExpectNothingStarted(kAppLauncher);
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\zandro.exe"), "planted");
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\readme.txt"), "the demo application");
}

// A library of the payload, and one the application would find in its folder though the
// payload has none: either way the application is not started beside it.
TEST_F(PlantedFiles, LibraryHeldOpenStopsTheStart) {
    for (const wchar_t* name : {L"zandrolib.dll", L"version.dll"}) {
        SCOPED_TRACE(Utf8(name));
        PlantAndHold(name, GENERIC_READ, FILE_SHARE_READ);
        ExpectNothingStarted(kAppLauncher);
        EXPECT_EQ(ReadFileBytes(folder_ + L"\\" + name), "planted");
        for (HANDLE held : held_) CloseHandle(held);
        held_.clear();
        RemoveTree(folder_);
    }
}

// Held with delete sharing, the file can be deleted, but only marked: its name stays until its
// holder lets go, who could also take the mark back.
TEST_F(PlantedFiles, FileOnlyMarkedForDeletionStopsTheStart) {
    PlantAndHold(L"version.dll", GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ExpectNothingStarted(kAppLauncher);
}

// Another process holds the folder open for deletion (it could rename it away at any moment):
// the launcher cannot take hold of it, and nothing is unpacked or started.
TEST_F(PlantedFiles, FolderHeldForDeletionStartsNothing) {
    MakeFolders(folder_);
    HANDLE held =
        CreateFileW(folder_.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    held_.push_back(held);
    ExpectNothingStarted(kAppLauncher);
    EXPECT_TRUE(ListTree(folder_).empty());
}

// A link in the folder's place that cannot be removed: under Wine, a Unix link to a folder that
// is not empty (removing the link tries the folder it leads to).
TEST_F(PlantedFiles, LinkThatCannotBeRemovedStartsNothing) {
    const std::wstring outside = root_ + L"outside";
    MakeFolders(outside);
    MakeFile(outside + L"\\precious.txt", "keep");
    MakeFolders(tempPath_.substr(0, tempPath_.size() - 1));
    ASSERT_TRUE(StartUnixProgram(L"/bin/ln", {L"-s", UnixPath(outside), UnixPath(folder_)}));
    ASSERT_TRUE(WaitForReparsePoint(folder_, true));

    ExpectNothingStarted(kAppLauncher);
    std::map<std::wstring, TreeEntry> tree = ListTree(outside);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(ReadFileBytes(outside + L"\\precious.txt"), "keep");
}

// While the launcher works (here: while it shows the box of a program that cannot start), the
// folder cannot be renamed or opened for deletion; once it has ended, it can.
TEST_F(PlantedFiles, FolderCannotBeRenamedWhileTheLauncherHoldsIt) {
    LaunchedProcess run = StartProcess(kNotProgramLauncher, L"", workDir_);
    ASSERT_NE(run.process, nullptr);
    HWND box = WaitForMessageBox(run, 20000);
    ASSERT_NE(box, nullptr);
    const std::wstring moved = root_ + L"moved away";
    EXPECT_FALSE(MoveFileW(folder_.c_str(), moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE deleter =
        CreateFileW(folder_.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(deleter, INVALID_HANDLE_VALUE);
    if (deleter != INVALID_HANDLE_VALUE) CloseHandle(deleter);
    EXPECT_EQ(ReadMessageBox(box).text, L"启动主程序失败，错误码:(193)。");
    CloseMessageBox(box);
    EXPECT_EQ(WaitForExit(run, 20000), 0u);

    EXPECT_TRUE(MoveFileW(folder_.c_str(), moved.c_str())) << "error " << GetLastError();
    EXPECT_EQ(ReadFileBytes(moved + L"\\notes.txt"), "unpacked beside it");
}

}  // namespace
