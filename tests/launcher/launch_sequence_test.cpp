// The whole launch natively: the payload comes from this test, the temporary directory from
// TMPDIR, and the child is the stand-in program, which needs the library unpacked beside it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/zip_builder.h"

extern "C" {
const unsigned char* LauncherPayloadData = nullptr;
uint32_t LauncherPayloadSize = 0;
}

namespace {

constexpr uint32_t kUnixExecutable = 0100755u << 16;

TestEntry Entry(const std::string& name, const std::string& data, uint32_t attributes = 0x20) {
    TestEntry entry;
    entry.name = name;
    entry.data = data;
    entry.method = 8;
    entry.externalAttributes = attributes;
    return entry;
}

// The application as a payload: the program, its library, a data file in a sub-folder.
TestArchive Application() {
    TestArchive archive;
    archive.entries = {
        Entry("zandro.exe", ReadFileBytes(PROBE_PROGRAM), kUnixExecutable | 0x20),
        Entry(fs::path(PROBE_LIBRARY).filename().string(), ReadFileBytes(PROBE_LIBRARY)),
        Entry("data/readme.txt", "read me"),
    };
    return archive;
}

void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

std::optional<std::string> Saved(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

class LaunchSequenceTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path temp = scratch.path() / "tmp";
    fs::path folder = temp / "VORNIX";
    fs::path report = scratch.path() / "report.txt";
    std::optional<std::string> savedTemp = Saved("TMPDIR");
    std::optional<std::string> savedSearch = Saved("LD_LIBRARY_PATH");
    Bytes payload;
    std::string boxes;

    void SetUp() override {
        fs::create_directory(temp);
        setenv("TMPDIR", temp.c_str(), 1);
        unsetenv("LD_LIBRARY_PATH");
        setenv("ZANDRO_REPORT", report.c_str(), 1);
        UsePayload(Application());
    }

    void TearDown() override {
        Restore("TMPDIR", savedTemp);
        Restore("LD_LIBRARY_PATH", savedSearch);
        LauncherPayloadData = nullptr;
        LauncherPayloadSize = 0;
    }

    void UsePayload(const TestArchive& archive) {
        payload = BuildZip(archive);
        LauncherPayloadData = payload.data();
        LauncherPayloadSize = static_cast<uint32_t>(payload.size());
    }

    // Runs the launch; the message boxes it showed land in `boxes`.
    void Launch() {
        testing::internal::CaptureStderr();
        const int exitValue = RunLauncher();
        boxes = testing::internal::GetCapturedStderr();
        EXPECT_EQ(exitValue, 0);
    }
};

const char kChildMissingBox[] = "Kelmora: 释放文件失败或文件被占用！\n";

}  // namespace

TEST_F(LaunchSequenceTest, StartsTheChildWhichFindsItsLibraryThroughTheSearchPath) {
    Launch();
    EXPECT_EQ(boxes, "");

    const std::string content = WaitForFile(report);
    ASSERT_FALSE(content.empty()) << "the child did not report";
    const std::string folderNative = temp.string() + "//VORNIX";
    EXPECT_EQ(ReportValue(content, "library"), "library loaded");
    EXPECT_EQ(ReportValue(content, "argc"), "2");
    EXPECT_EQ(ReportValue(content, "argv0"), "[" + folderNative + "/zandro.exe]");
    EXPECT_EQ(ReportValue(content, "argv1"), "[]");
    EXPECT_EQ(ReportValue(content, "search"), folderNative);  // missing before: the folder alone
    EXPECT_EQ(fs::path(ReportValue(content, "cwd")), fs::current_path());
    EXPECT_EQ(ReadFileBytes(folder / "data" / "readme.txt"), "read me");
}

TEST_F(LaunchSequenceTest, PutsTheFolderInFrontOfAnExistingSearchPath) {
    setenv("LD_LIBRARY_PATH", "/opt/one:/opt/two", 1);
    Launch();
    const std::string content = WaitForFile(report);
    EXPECT_EQ(ReportValue(content, "search"), temp.string() + "//VORNIX:/opt/one:/opt/two");
}

TEST_F(LaunchSequenceTest, EmptiesTheFolderOfOldFilesAndKeepsItsFolders) {
    fs::create_directories(folder / "old" / "deeper");
    WriteFileBytes(folder / "stale.dll", "old");
    MakeReadOnly(folder / "stale.dll");
    WriteFileBytes(folder / "old" / "deeper" / "stale.txt", "old");
    Launch();
    EXPECT_FALSE(WaitForFile(report).empty());
    EXPECT_FALSE(fs::exists(folder / "stale.dll"));
    EXPECT_FALSE(fs::exists(folder / "old" / "deeper" / "stale.txt"));
    EXPECT_TRUE(fs::is_directory(folder / "old" / "deeper"));
}

TEST_F(LaunchSequenceTest, PayloadWithoutTheMainProgramShowsTheBox) {
    TestArchive archive = Application();
    archive.entries.erase(archive.entries.begin());
    UsePayload(archive);
    Launch();
    EXPECT_EQ(boxes, kChildMissingBox);
    EXPECT_TRUE(fs::exists(folder / "data" / "readme.txt"));
    EXPECT_FALSE(fs::exists(report));
}

TEST_F(LaunchSequenceTest, MainProgramThatCannotRunShowsItsErrorCode) {
    TestArchive archive = Application();
    archive.entries[0].data = "not a program";
    UsePayload(archive);
    Launch();
    EXPECT_EQ(boxes, "错误提示: 启动主程序失败，错误码:(8)。\n");  // ENOEXEC
}

TEST_F(LaunchSequenceTest, EscapingEntriesAreSkippedAndTheRestIsUnpacked) {
    TestArchive archive = Application();
    archive.entries.push_back(Entry("../escaped.txt", "x"));
    archive.entries.push_back(Entry("data/../../../escaped2.txt", "x"));
    archive.entries.push_back(Entry(temp.string() + "/absolute.txt", "x"));
    UsePayload(archive);
    Launch();
    EXPECT_FALSE(WaitForFile(report).empty());
    EXPECT_FALSE(fs::exists(temp / "escaped.txt"));
    EXPECT_FALSE(fs::exists(scratch.path() / "escaped2.txt"));
    EXPECT_FALSE(fs::exists(temp / "absolute.txt"));
}

TEST_F(LaunchSequenceTest, ExtractionFolderThatIsALinkIsReplacedByARealFolder) {
    const fs::path outside = scratch.path() / "outside";
    fs::create_directory(outside);
    WriteFileBytes(outside / "precious.txt", "keep");
    fs::create_directory_symlink(outside, folder);
    Launch();
    EXPECT_FALSE(WaitForFile(report).empty());
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::exists(folder / "zandro.exe"));
    EXPECT_EQ(ReadFileBytes(outside / "precious.txt"), "keep");
    EXPECT_FALSE(fs::exists(outside / "zandro.exe"));
}

TEST_F(LaunchSequenceTest, ExtractionHoldsTheFolderAndTellsWhatItWrote) {
    const ExtractedPayload payload = ExtractPayload();
    // The temporary directory's closing separator and the joined one stay side by side.
    EXPECT_EQ(payload.folderText, temp.u16string() + u"/\\VORNIX");
    ASSERT_NE(payload.folder, kNoFolder);
    EXPECT_TRUE(payload.mainProgramWritten);
    EXPECT_FALSE(payload.leftBehind);
    PlatformReleaseFolder(payload.folder);
}

// An old copy is never started: only what this run wrote.
TEST_F(LaunchSequenceTest, NoPayloadLeavesTheFolderAloneAndStartsNothing) {
    const ExtractedPayload first = ExtractPayload();
    ASSERT_TRUE(first.mainProgramWritten);
    PlatformReleaseFolder(first.folder);
    WriteFileBytes(folder / "left-over.txt", "x");
    LauncherPayloadData = nullptr;
    LauncherPayloadSize = 0;
    Launch();
    EXPECT_EQ(boxes, kChildMissingBox);
    EXPECT_TRUE(fs::exists(folder / "left-over.txt"));
    EXPECT_TRUE(fs::exists(folder / "zandro.exe"));
    EXPECT_FALSE(fs::exists(report));
}

TEST_F(LaunchSequenceTest, WithoutATemporaryDirectoryNothingIsStarted) {
    // A temporary directory too long for its buffer: the folder text stays empty.
    setenv("TMPDIR", ("/" + std::string(2100, 't')).c_str(), 1);
    EXPECT_TRUE(ExtractPayload().folderText.empty());
    Launch();
    EXPECT_EQ(boxes, kChildMissingBox);
    EXPECT_FALSE(fs::exists(report));
}
