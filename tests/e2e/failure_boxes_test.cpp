// The two error boxes: a main program missing after unpacking, and one that cannot be started.
#include "tests/e2e/e2e_fixture.h"

namespace {

using FailureBoxes = LauncherRun;

TEST_F(FailureBoxes, PayloadWithoutMainProgram) {
    BoxContents box = RunUntilBox(kNoMainLauncher);
    EXPECT_EQ(box.text, L"释放文件失败或文件被占用！");
    EXPECT_EQ(box.caption, L"Kelmora");
    EXPECT_EQ(box.icon, BoxIcon::Stop);

    std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\readme.txt"), "no main program here");
    EXPECT_TRUE(PathExists(folder_ + L"\\zandrolib.dll"));
}

TEST_F(FailureBoxes, MainProgramThatIsNotAProgram) {
    BoxContents box = RunUntilBox(kNotProgramLauncher);
    EXPECT_EQ(box.text, L"启动主程序失败，错误码:(193)。");
    EXPECT_EQ(box.caption, L"错误提示");
    EXPECT_EQ(box.icon, BoxIcon::Stop);
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\zandro.exe"), "this is only text");
}

// A temporary directory too long for the launcher's buffer leaves it without an extraction
// folder: it must then start nothing, in particular no "\zandro.exe" at the root of the current
// drive, and say that the main program is missing.
TEST_F(FailureBoxes, NoExtractionFolderStartsNothingAtTheDriveRoot) {
    const std::wstring tooLong = root_ + std::wstring(2100, L'x') + L"\\";
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", tooLong.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", tooLong.c_str()));
    // The launcher's query must fail or ask for more room (Wine fails, Windows asks).
    wchar_t probe[2046] = {};
    const DWORD length = GetTempPathW(2045, probe);
    ASSERT_TRUE(length == 0 || length >= 2046) << "the temporary directory came back shortened";

    const std::wstring rootProgram = L"C:\\zandro.exe";
    if (PathExists(rootProgram)) GTEST_SKIP() << "C:\\zandro.exe exists already";
    HANDLE file = CreateFileW(rootProgram.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) GTEST_SKIP() << "cannot write to C:\\";
    CloseHandle(file);  // an empty file: starting it would fail with a box of its own
    workDir_ = L"C:\\vornix e2e start";
    MakeFolders(workDir_);

    BoxContents box = RunUntilBox(kAppLauncher);
    DeleteFileW(rootProgram.c_str());
    RemoveTree(workDir_);
    EXPECT_EQ(box.text, L"释放文件失败或文件被占用！");
    EXPECT_EQ(box.caption, L"Kelmora");
    EXPECT_FALSE(PathExists(report_));
}

}  // namespace
