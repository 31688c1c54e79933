// What another, unelevated process may try on the extraction folder: files planted and held open
// in the old one, a link in its place, the folder held for deletion. Nothing of it is ever started
// or found beside the started program, and nothing outside the folder is touched.
#include "tests/e2e/e2e_fixture.h"

namespace {

class PlantedFiles : public LauncherRun {
  protected:
    void TearDown() override {
        ReleaseHeld();
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

    void ReleaseHeld() {
        for (HANDLE held : held_) CloseHandle(held);
        held_.clear();
    }

    // The run shows the launcher's own box, and no application reports.
    void ExpectNothingStarted(const wchar_t* launcher) {
        BoxContents box = RunUntilBox(launcher);
        EXPECT_EQ(box.text, L"释放文件失败或文件被占用！");
        EXPECT_EQ(box.caption, L"Kelmora");
        EXPECT_EQ(box.icon, BoxIcon::Stop);
        EXPECT_FALSE(PathExists(report_)) << "an application was started";
    }

    // The application started from a new folder that holds its payload and nothing else.
    void ExpectStartedFromANewFolder() {
        Report report = RunUntilReport(kAppLauncher);
        EXPECT_EQ(report["commandline"], commandLine_);
        std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
        std::vector<std::wstring> names;
        for (const auto& entry : tree) names.push_back(entry.first);
        EXPECT_EQ(names,
                  (std::vector<std::wstring>{L"readme.txt", L"zandro.exe", L"zandrolib.dll"}));
    }

    // Whether the system lets a folder be renamed while a file inside it is open: Windows does
    // not, Wine does.
    bool FolderWithOpenFileCanBeRenamed() {
        const std::wstring probe = root_ + L"rename probe";
        MakeFolders(probe);
        MakeFile(probe + L"\\open.txt", "x");
        HANDLE open = CreateFileW((probe + L"\\open.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        const bool renamed = MoveFileW(probe.c_str(), (probe + L" moved").c_str()) != FALSE;
        CloseHandle(open);
        return renamed;
    }

    std::vector<HANDLE> held_;
};

// Readers welcome, no writing or deleting: the planted program cannot be removed, which is what a
// running program's file looks like. Nothing of the folder is touched, and nothing starts.
TEST_F(PlantedFiles, MainProgramHeldOpenLeavesTheFolderAsItIs) {
    PlantAndHold(L"zandro.exe", GENERIC_READ, FILE_SHARE_READ);
    MakeFile(folder_ + L"\\version.dll", "planted too");
    ExpectNothingStarted(kAppLauncher);
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\zandro.exe"), "planted");
    EXPECT_EQ(ListTree(folder_).size(), 2u);
    EXPECT_EQ(ListTree(tempPath_.substr(0, tempPath_.size() - 1)).count(L"VORNIX.old-1\\"), 0u);
}

// A library of the payload, and one the application would find in its folder though the payload
// has none, held open; or only marked for deletion (held with delete sharing, its name stays until
// its holder lets go, who could also take the mark back). On Windows the folder cannot be moved
// aside while the file is open, and nothing starts; where it can (Wine), the application starts
// from a new folder, and the planted file stays aside with the old one.
TEST_F(PlantedFiles, AFileHeldInTheOldFolderIsNeverBesideTheStartedProgram) {
    const bool movable = FolderWithOpenFileCanBeRenamed();
    struct Plant {
        const wchar_t* name;
        DWORD access;
        DWORD share;
    };
    for (const Plant& plant :
         {Plant{L"zandrolib.dll", GENERIC_READ, FILE_SHARE_READ},
          Plant{L"version.dll", GENERIC_READ, FILE_SHARE_READ},
          Plant{L"version.dll", GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE}}) {
        SCOPED_TRACE(Utf8(plant.name));
        PlantAndHold(plant.name, plant.access, plant.share);
        if (movable) {
            ExpectStartedFromANewFolder();
            // Held without delete sharing, it cannot be removed with the old folder.
            if ((plant.share & FILE_SHARE_DELETE) == 0) {
                EXPECT_EQ(ReadFileBytes(tempPath_ + L"VORNIX.old-1\\" + plant.name), "planted");
            }
        } else {
            ExpectNothingStarted(kAppLauncher);
            EXPECT_EQ(ReadFileBytes(folder_ + L"\\" + plant.name), "planted");
        }
        CloseApplicationWindows();
        ReleaseHeld();
        RemoveTree(folder_);
        RemoveTree(tempPath_ + L"VORNIX.old-1");
        DeleteFileW(report_.c_str());
    }
}

// Another process holds the folder open for deletion (it could rename it away at any moment). The
// launcher never works in it: either the folder cannot be had at all, or it goes aside and the
// application starts from a new one.
TEST_F(PlantedFiles, FolderHeldForDeletionIsNeverWorkedIn) {
    MakeFolders(folder_);
    HANDLE held =
        CreateFileW(folder_.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    held_.push_back(held);
    BY_HANDLE_FILE_INFORMATION before;
    ASSERT_TRUE(GetFileInformationByHandle(held, &before));

    LaunchedProcess run = StartProcess(kAppLauncher, L"", workDir_);
    ASSERT_NE(run.process, nullptr);
    if (HWND box = WaitForMessageBox(run, 20000)) {
        EXPECT_EQ(ReadMessageBox(box).text, L"释放文件失败或文件被占用！");
        CloseMessageBox(box);
        EXPECT_FALSE(PathExists(report_));
    } else {
        ASSERT_TRUE(WaitForFile(report_, 20000));
        // The held folder is not the one the application runs from.
        HANDLE now = CreateFileW(folder_.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        BY_HANDLE_FILE_INFORMATION after;
        ASSERT_TRUE(GetFileInformationByHandle(now, &after));
        CloseHandle(now);
        EXPECT_NE(after.nFileIndexLow, before.nFileIndexLow);
        EXPECT_EQ(ListTree(folder_).size(), 3u);
    }
    EXPECT_EQ(WaitForExit(run, 20000), 0u);
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

// Links planted in the old folder, to a folder and to a file outside, go aside with it; removing
// it never touches what they lead to (Wine shows a link to a file as a plain file and opens what it
// leads to even when asked for the link itself).
TEST_F(PlantedFiles, RemovingTheOldFolderLeavesWhatItsLinksLeadTo) {
    const std::wstring outside = root_ + L"outside";
    MakeFolders(outside + L"\\inner");
    MakeFile(outside + L"\\precious.txt", "keep");
    MakeFile(outside + L"\\inner\\also.txt", "keep");
    MakeFolders(folder_ + L"\\sub");
    ASSERT_TRUE(StartUnixProgram(L"/bin/ln", {L"-s", UnixPath(outside + L"\\precious.txt"),
                                              UnixPath(folder_ + L"\\a.dll")}));
    ASSERT_TRUE(StartUnixProgram(
        L"/bin/ln", {L"-s", UnixPath(outside + L"\\inner"), UnixPath(folder_ + L"\\sub\\inner")}));
    ASSERT_TRUE(WaitForReparsePoint(folder_ + L"\\sub\\inner", true));
    ASSERT_TRUE(WaitForFile(folder_ + L"\\a.dll", 5000));

    ExpectStartedFromANewFolder();
    std::map<std::wstring, TreeEntry> tree = ListTree(outside);
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_EQ(ReadFileBytes(outside + L"\\precious.txt"), "keep");
    EXPECT_EQ(ReadFileBytes(outside + L"\\inner\\also.txt"), "keep");
}

}  // namespace
