// A launcher built with settings of its own (tests/e2e/CMakeLists.txt): its own folder, main
// program, arguments, working folder, window and boxes, beside what a launcher with the defaults
// leaves.
#include "tests/e2e/e2e_fixture.h"

namespace {

class NamedLauncher : public LauncherRun {
  protected:
    void SetUp() override {
        LauncherRun::SetUp();
        namedFolder_ = tempPath_ + L"Zorvex Data";
    }

    std::wstring namedFolder_;
};

TEST_F(NamedLauncher, UnpacksIntoItsOwnFolderAndStartsItsOwnProgram) {
    MakeFolders(folder_);
    MakeFile(folder_ + L"\\left by the default launcher.txt", "theirs");
    MakeFolders(folder_ + L".old-3");

    // Its arguments, and its own folder as its working folder (the launcher's arguments, which it
    // forwards, are none).
    Report report = RunUntilReport(kNamedLauncher);
    EXPECT_EQ(report["commandline"],
              L"\"" + tempPath_ + L"\\Zorvex Data\\Zorvex.exe\" --open \"a b\"");
    EXPECT_EQ(report["directory"], namedFolder_);
    EXPECT_EQ(ReadFileBytes(namedFolder_ + L"\\readme.txt"), "the named application");
    EXPECT_TRUE(PathExists(namedFolder_ + L"\\zandrolib.dll"));
    // The default launcher's folder and what it moved aside are not this launcher's.
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\left by the default launcher.txt"), "theirs");
    EXPECT_TRUE(PathExists(folder_ + L".old-3"));
}

TEST_F(NamedLauncher, UnavailableFolderShowsItsOwnTextOverTwoLines) {
    MakeFile(namedFolder_, "a file where the folder goes");
    BoxContents box = RunUntilBox(kNamedLauncher);
    EXPECT_EQ(box.text, L"Zorvex could not be unpacked.\nClose it and try again.");
    EXPECT_EQ(box.caption, L"Zorvex \u542F\u52A8\u5668");
    EXPECT_EQ(box.icon, BoxIcon::Stop);
    EXPECT_EQ(ReadFileBytes(namedFolder_), "a file where the folder goes");
}

}  // namespace
