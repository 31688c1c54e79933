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

// A file that another process holds open (readers welcome, no writing or deleting) cannot be
// replaced: the old copy stays, the rest is unpacked and the launch goes on with the old copy.
TEST_F(FailureBoxes, FileHeldOpenKeepsItsOldCopy) {
    MakeFolders(folder_);
    MakeFile(folder_ + L"\\zandro.exe", "an old copy");
    HANDLE held = CreateFileW((folder_ + L"\\zandro.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    BoxContents box = RunUntilBox(kNotProgramLauncher);
    CloseHandle(held);
    EXPECT_EQ(box.text, L"启动主程序失败，错误码:(193)。");
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\zandro.exe"), "an old copy");
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\notes.txt"), "unpacked beside it");
}

}  // namespace
