// The temporary directory as a boundary: the folder stays pinned for as long as the application
// runs, and a temporary directory that is not the user's to use gets nothing made, moved or
// removed.
#include <aclapi.h>

#include "tests/e2e/e2e_fixture.h"

namespace {

class TempBoundary : public LauncherRun {
  protected:
    void TearDown() override {
        for (const std::wstring& folder : locked_) SetUnixMode(folder, L"755");
        LauncherRun::TearDown();
    }

    // Wine judges a folder's access by its Unix mode: 555 leaves its owner no right to add to it
    // or to delete in it.
    void SetUnixMode(const std::wstring& folder, const wchar_t* mode) {
        ASSERT_TRUE(StartUnixProgram(L"/bin/chmod", {mode, UnixPath(folder)}));
        for (int i = 0; i < 50 && OwnerMayAddFolder(folder) != (mode[0] == L'7'); ++i) Sleep(100);
        ASSERT_EQ(OwnerMayAddFolder(folder), mode[0] == L'7') << "chmod " << Utf8(mode);
    }

    // Whether the folder's access list lets its owner make a folder in it.
    static bool OwnerMayAddFolder(const std::wstring& folder) {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR security = nullptr;
        if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                  nullptr, &dacl, nullptr, &security) != ERROR_SUCCESS) {
            return false;
        }
        bool may = false;
        for (WORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
                ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&ace->SidStart, owner) &&
                (ace->Mask & FILE_ADD_SUBDIRECTORY) != 0) {
                may = true;
            }
        }
        LocalFree(security);
        return may;
    }

    void UseTemp(const std::wstring& folder) {
        ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", (folder + L"\\").c_str()));
        ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", (folder + L"\\").c_str()));
    }

    void ExpectNothingStarted() {
        BoxContents box = RunUntilBox(kAppLauncher);
        EXPECT_EQ(box.text, L"释放文件失败或文件被占用！");
        EXPECT_EQ(box.icon, BoxIcon::Stop);
        EXPECT_FALSE(PathExists(report_)) << "an application was started";
    }

    std::vector<std::wstring> locked_;
};

// Once the launcher has ended, only the application holds the folder: as long as it runs the
// folder cannot be renamed (and so not swapped for one of somebody else's), afterwards it can.
// Wine lets a folder be renamed while files in it are open, as this application's data file is:
// the pin alone stops it here.
TEST_F(TempBoundary, TheFolderStaysPinnedWhileTheApplicationRuns) {
    const std::wstring stop = root_ + L"stop";
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_STOP", stop.c_str()));
    Report report = RunUntilReport(kHolderLauncher);
    ASSERT_EQ(report["holding"], L"yes");

    const std::wstring moved = folder_ + L" moved";
    EXPECT_FALSE(MoveFileW(folder_.c_str(), moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    MakeFile(stop, "stop");
    bool renamed = false;
    for (int i = 0; i < 200 && !renamed; ++i) {
        renamed = MoveFileW(folder_.c_str(), moved.c_str()) != FALSE;
        if (!renamed) Sleep(100);
    }
    EXPECT_TRUE(renamed) << "error " << GetLastError();
}

// A ";" in the temporary directory's path would put a folder of the user's choosing, and a
// relative one, in front of Path.
TEST_F(TempBoundary, ASearchPathSeparatorInTheTemporaryDirectoryStartsNothing) {
    const std::wstring split = root_ + L"a;b";
    MakeFolders(split);
    UseTemp(split);
    ExpectNothingStarted();
    EXPECT_TRUE(ListTree(split).empty());
}

// TMP pointed at a folder that is not the user's to change (here one its user may not add to):
// what lies there, the folder of the launcher's name and one moved aside by its name, stays
// exactly as it is.
TEST_F(TempBoundary, ATemporaryDirectoryNotTheUsersToChangeIsLeftUntouched) {
    const std::wstring victim = root_ + L"victim";
    MakeFolders(victim + L"\\VORNIX\\config");
    MakeFile(victim + L"\\VORNIX\\config\\licence.dat", "licence");
    MakeFolders(victim + L"\\VORNIX.old-7");
    MakeFile(victim + L"\\VORNIX.old-7\\backup.dat", "backup");
    const std::map<std::wstring, TreeEntry> before = ListTree(victim);
    locked_.push_back(victim);
    SetUnixMode(victim, L"555");
    UseTemp(victim);

    ExpectNothingStarted();
    const std::map<std::wstring, TreeEntry> after = ListTree(victim);
    EXPECT_EQ(after.size(), before.size());
    for (const auto& entry : before) EXPECT_EQ(after.count(entry.first), 1u) << Utf8(entry.first);
    EXPECT_EQ(ReadFileBytes(victim + L"\\VORNIX\\config\\licence.dat"), "licence");
    EXPECT_EQ(ReadFileBytes(victim + L"\\VORNIX.old-7\\backup.dat"), "backup");
}

}  // namespace
