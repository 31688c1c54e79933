// A launch from start to child: the extraction folder is made anew, the old one removed, and the
// child sees its command line, search path and current directory as the launcher sets them.
#include <algorithm>
#include <cwctype>

#include "tests/e2e/e2e_fixture.h"

namespace {

using Unpacking = LauncherRun;

constexpr DWORD kKeptBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_DIRECTORY;

// Paths as the system resolves them: doubled separators count once, case does not count.
std::wstring Canonical(std::wstring path) {
    for (size_t at; (at = path.find(L"\\\\")) != std::wstring::npos;) path.erase(at, 1);
    std::transform(path.begin(), path.end(), path.begin(), [](wchar_t c) { return towlower(c); });
    return path;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void ExpectUnpackedApplication(const std::wstring& folder) {
    // Every entry of the payload was made by a DOS archiver (attributes 0x20) and stored with
    // 2021-06-15 10:30:24, which the files carry as UTC.
    const FILETIME stored = UtcFileTime(2021, 6, 15, 10, 30, 24);
    for (const wchar_t* name : {L"zandro.exe", L"zandrolib.dll", L"readme.txt"}) {
        SCOPED_TRACE(testing::Message() << "entry " << name);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(
            GetFileAttributesExW((folder + L"\\" + name).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.dwFileAttributes & kKeptBits,
                  static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
        EXPECT_TRUE(SameTime(data.ftLastWriteTime, stored));
        // Starting the application reads its program and library, which moves their access
        // times on; the text file is left alone until it is read below.
        if (std::wstring(name) == L"readme.txt") {
            EXPECT_TRUE(SameTime(data.ftLastAccessTime, stored));
        }
    }
    EXPECT_EQ(ReadFileBytes(folder + L"\\readme.txt"), "the demo application");
}

TEST_F(Unpacking, ReplacesTheOldFolderAndRemovesIt) {
    MakeFolders(folder_ + L"\\nested\\deeper");
    MakeFile(folder_ + L"\\stale.txt", "stale");
    MakeFile(folder_ + L"\\zandro.exe", "an old copy", FILE_ATTRIBUTE_READONLY);
    MakeFile(folder_ + L"\\nested\\other.txt", "other");
    MakeFile(folder_ + L"\\nested\\deeper\\locked.bin", "locked",
             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    Report report = RunUntilReport(kAppLauncher, L"--not-read \"by the launcher\"");

    std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
    std::vector<std::wstring> names;
    for (const auto& entry : tree) names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"readme.txt", L"zandro.exe", L"zandrolib.dll"}));
    ExpectUnpackedApplication(folder_);
    // Nothing of the old folder is left, aside or elsewhere.
    EXPECT_EQ(ListTree(tempPath_.substr(0, tempPath_.size() - 1)).size(), 4u);

    // The child path keeps the doubled separator and is not quoted; the launcher's own
    // arguments are not passed on.
    EXPECT_EQ(report["commandline"], commandLine_);
    EXPECT_EQ(Canonical(report["module"]), Canonical(folder_ + L"\\zandro.exe"));
    EXPECT_EQ(report["path"], folderText_ + L";" + path_);
    EXPECT_EQ(report["directory"], workDir_);
    EXPECT_EQ(Canonical(report["library"]),
              Canonical(L"zandrolib loaded from " + folder_ + L"\\zandrolib.dll"));
    EXPECT_TRUE(ListTree(workDir_).empty());
}

TEST_F(Unpacking, CreatesTheFolderAndReplacesItsOwnReadOnlyFilesNextTime) {
    ASSERT_FALSE(PathExists(folder_));
    Report first = RunUntilReport(kAppLauncher);
    EXPECT_FALSE(first.empty());
    ExpectUnpackedApplication(folder_);
    CloseApplicationWindows();

    const std::wstring readme = folder_ + L"\\readme.txt";
    ASSERT_TRUE(SetFileAttributesW(readme.c_str(), FILE_ATTRIBUTE_NORMAL));
    MakeFile(readme, "changed since", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(DeleteFileW(report_.c_str()));

    Report second = RunUntilReport(kAppLauncher);
    EXPECT_EQ(second["commandline"], commandLine_);
    ExpectUnpackedApplication(folder_);
}

// A run that ended before it removed the folder it had moved aside leaves it to the next one.
TEST_F(Unpacking, RemovesWhatAnInterruptedRunLeftAside) {
    MakeFolders(tempPath_ + L"VORNIX.old-1\\sub");
    MakeFile(tempPath_ + L"VORNIX.old-1\\sub\\old.dll", "old", FILE_ATTRIBUTE_READONLY);
    MakeFolders(tempPath_ + L"VORNIX.old-3");
    MakeFile(tempPath_ + L"VORNIX.older", "somebody else's");
    Report report = RunUntilReport(kAppLauncher);
    EXPECT_FALSE(report.empty());
    EXPECT_FALSE(PathExists(tempPath_ + L"VORNIX.old-1"));
    EXPECT_FALSE(PathExists(tempPath_ + L"VORNIX.old-3"));
    EXPECT_EQ(ReadFileBytes(tempPath_ + L"VORNIX.older"), "somebody else's");
}

// The temporary directory is reached through a link, which its user could point elsewhere at
// any time: the child is started, and finds its libraries, under the folder's final path.
TEST_F(Unpacking, ThroughALinkTheChildGetsTheFinalPath) {
    const std::wstring real = root_ + L"real temp";
    const std::wstring link = root_ + L"linked temp";
    MakeFolders(real);
    ASSERT_TRUE(StartUnixProgram(L"/bin/ln", {L"-s", UnixPath(real), UnixPath(link)}));
    ASSERT_TRUE(WaitForReparsePoint(link, true));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", (link + L"\\").c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", (link + L"\\").c_str()));

    Report report = RunUntilReport(kAppLauncher);
    const std::wstring finalFolder = real + L"\\VORNIX";
    EXPECT_EQ(Canonical(report["commandline"]),
              Canonical(L"\"" + finalFolder + L"\\zandro.exe\" \"\""));
    EXPECT_EQ(Canonical(report["path"]), Canonical(finalFolder + L";" + path_));
    EXPECT_EQ(Canonical(report["library"]),
              Canonical(L"zandrolib loaded from " + finalFolder + L"\\zandrolib.dll"));
    ExpectUnpackedApplication(real + L"\\VORNIX");
}

// The product itself, built around the demo payload.
TEST_F(Unpacking, ProductLauncherStartsTheDemoApplication) {
#ifndef E2E_PRODUCT_HAS_DEMO_PAYLOAD
    GTEST_SKIP() << "launcher.exe was built around another payload";
#endif
    Report report = RunUntilReport(kDemoLauncher);
    EXPECT_EQ(report["commandline"], commandLine_);
    EXPECT_EQ(Canonical(report["library"]),
              Canonical(L"zandrolib loaded from " + folder_ + L"\\zandrolib.dll"));
    std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[L"zandro.exe"].attributes & kKeptBits,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
}

}  // namespace
