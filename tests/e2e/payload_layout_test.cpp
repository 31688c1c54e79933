// Payloads with sub-folders, with names in other scripts, and with names that try to leave the
// extraction folder.
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace {

using PayloadLayout = LauncherRun;

std::vector<std::wstring> Names(const std::map<std::wstring, TreeEntry>& tree) {
    std::vector<std::wstring> names;
    for (const auto& entry : tree) names.push_back(entry.first);
    return names;
}

TEST_F(PayloadLayout, SubFoldersUnpackInsideTheExtractionFolder) {
    Report report = RunUntilReport(kSubFolderLauncher);
    EXPECT_FALSE(report.empty());

    std::map<std::wstring, TreeEntry> tree = ListTree(folder_);
    EXPECT_EQ(Names(tree),
              (std::vector<std::wstring>{L"data\\", L"data\\levels\\", L"data\\levels\\one.txt",
                                         L"docs\\", L"docs\\manual.txt", L"plugins\\",
                                         L"zandro.exe", L"zandrolib.dll"}));
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\data\\levels\\one.txt"), "level one");
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\docs\\manual.txt"), "a manual");
    EXPECT_TRUE(tree[L"plugins\\"].attributes & FILE_ATTRIBUTE_DIRECTORY);
    // Nothing lands in the current directory.
    EXPECT_TRUE(ListTree(workDir_).empty());
}

TEST_F(PayloadLayout, NamesInAnyScriptUnpackUnderTheirOwnNames) {
    Report report = RunUntilReport(kNamesLauncher);
    EXPECT_FALSE(report.empty());
    EXPECT_EQ(Names(ListTree(folder_)),
              (std::vector<std::wstring>{L"caf\u00E9.dll", L"zandro.exe", L"zandrolib.dll",
                                         L"\u6570\u636E\\", L"\u6570\u636E\\\u8BF4\u660E.txt"}));
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\\u6570\u636E\\\u8BF4\u660E.txt"), "notes");
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\caf\u00E9.dll"), "not a library");
}

TEST_F(PayloadLayout, EscapingNamesWriteNothingOutside) {
    BoxContents box = RunUntilBox(kEscapingLauncher);
    EXPECT_EQ(box.text, L"释放文件失败或文件被占用！");

    EXPECT_EQ(Names(ListTree(folder_)), (std::vector<std::wstring>{L"kept.txt"}));
    // Only the two folders the test made, the extraction folder and the one safe entry.
    EXPECT_EQ(Names(ListTree(root_)),
              (std::vector<std::wstring>{L"start here\\", L"temp dir\\", L"temp dir\\VORNIX\\",
                                         L"temp dir\\VORNIX\\kept.txt"}));
    for (const std::wstring& root : {workDir_.substr(0, 3), std::wstring(L"C:\\")}) {
        for (const wchar_t* name : {L"escape_root.txt", L"escape_backroot.txt", L"escape_drive.txt",
                                    L"escape_drive_root.txt"}) {
            EXPECT_FALSE(PathExists(root + name)) << "written at a drive root";
        }
    }
}

}  // namespace
