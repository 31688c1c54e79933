// The whole launch natively: the payload comes from this test, the temporary directory from
// TMPDIR, and the child is the stand-in program, which needs the library unpacked beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
const char kAlreadyOpenBox[] = "Kelmora: 程序已打开!\n";

ino_t Inode(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Holds the launchers' lock for a while from another thread, as a launcher at work would.
class OtherLauncher {
  public:
    explicit OtherLauncher(int holdMs) {
        std::promise<void> held;
        std::future<void> heldNow = held.get_future();
        thread_ = std::thread([holdMs, &held] {
            bool waited = false;
            const PlatformHandle lock = PlatformAcquireLock(u"VORNIX.launcher", 0, &waited);
            held.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            if (lock != kInvalidPlatformHandle) PlatformReleaseLock(lock);
        });
        heldNow.wait();
    }
    ~OtherLauncher() { thread_.join(); }
    OtherLauncher(const OtherLauncher&) = delete;
    OtherLauncher& operator=(const OtherLauncher&) = delete;

  private:
    std::thread thread_;
};

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

TEST_F(LaunchSequenceTest, ReplacesTheOldFolderByOneHoldingOnlyThePayload) {
    fs::create_directories(folder / "old" / "deeper");
    WriteFileBytes(folder / "stale.dll", "old");
    MakeReadOnly(folder / "stale.dll");
    WriteFileBytes(folder / "old" / "deeper" / "stale.txt", "old");
    Launch();
    EXPECT_FALSE(WaitForFile(report).empty());
    EXPECT_FALSE(fs::exists(folder / "stale.dll"));
    EXPECT_FALSE(fs::exists(folder / "old"));
    EXPECT_EQ(ReadFileBytes(folder / "data" / "readme.txt"), "read me");
    // What was moved aside is gone too.
    EXPECT_EQ(std::distance(fs::directory_iterator(temp), fs::directory_iterator()), 2);
    EXPECT_TRUE(fs::exists(temp / "VORNIX.launcher.lock"));
}

// The application runs (its window, had it one, is not found): its folder is left as it is,
// nothing starts, and the user is told that it runs.
TEST_F(LaunchSequenceTest, ARunningApplicationIsNeverTouched) {
    setenv("ZANDRO_LINGER_MS", "2000", 1);
    Launch();
    unsetenv("ZANDRO_LINGER_MS");
    ASSERT_FALSE(WaitForFile(report).empty());
    const ino_t dataFile = Inode(folder / "data" / "readme.txt");
    fs::remove(report);

    Launch();
    EXPECT_EQ(boxes, kAlreadyOpenBox);
    EXPECT_FALSE(fs::exists(report));
    EXPECT_EQ(ReadFileBytes(folder / "data" / "readme.txt"), "read me");
    EXPECT_EQ(Inode(folder / "data" / "readme.txt"), dataFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(temp), fs::directory_iterator()), 2);
}

// A launcher that had to wait for another finds the application that one started: it says so and
// touches nothing.
TEST_F(LaunchSequenceTest, ALauncherThatWaitedFindsTheApplicationOpen) {
    setenv("ZANDRO_LINGER_MS", "3000", 1);
    Launch();
    unsetenv("ZANDRO_LINGER_MS");
    ASSERT_FALSE(WaitForFile(report).empty());
    fs::remove(report);
    {
        OtherLauncher other(300);
        Launch();
    }
    EXPECT_EQ(boxes, kAlreadyOpenBox);
    EXPECT_FALSE(fs::exists(report));
}

// The other launcher ended without starting anything: this one does the whole job.
TEST_F(LaunchSequenceTest, ALauncherThatWaitedForNothingStartsTheApplicationItself) {
    {
        OtherLauncher other(300);
        Launch();
    }
    EXPECT_EQ(boxes, "");
    EXPECT_FALSE(WaitForFile(report).empty());
}

TEST_F(LaunchSequenceTest, ALockNotHadInTimeShowsTheBoxAndTouchesNothing) {
    fs::create_directories(folder);
    WriteFileBytes(folder / "old.txt", "old");
    ActivePlatformCalls.PlatformAcquireLock = [](const char16_t*, uint32_t, bool* waited) {
        *waited = true;
        return kInvalidPlatformHandle;
    };
    Launch();
    ActivePlatformCalls = kSystemCalls;
    EXPECT_EQ(boxes, kChildMissingBox);
    EXPECT_EQ(ReadFileBytes(folder / "old.txt"), "old");
    EXPECT_FALSE(fs::exists(report));
}

// Started together, however many: one application starts, from whole files. Every other launcher
// finds it running and says it is open, whether it waited for the first or came after it.
TEST_F(LaunchSequenceTest, LaunchersStartedTogetherStartTheApplicationOnce) {
    const fs::path starts = scratch.path() / "starts.txt";
    setenv("ZANDRO_STARTS", starts.c_str(), 1);
    setenv("ZANDRO_LINGER_MS", "4000", 1);
    constexpr int kLaunchers = 4;
    std::vector<pid_t> children;
    for (int i = 0; i < kLaunchers; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            const std::string boxFile = (scratch.path() / ("boxes" + std::to_string(i))).string();
            std::FILE* out = std::freopen(boxFile.c_str(), "w", stderr);
            const int exitValue = out != nullptr ? RunLauncher() : 1;
            std::fflush(stderr);
            _exit(exitValue);
        }
        ASSERT_GT(child, 0);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    unsetenv("ZANDRO_STARTS");
    unsetenv("ZANDRO_LINGER_MS");

    // The application runs on by itself: its report says it started; a second one, had it been
    // started, would have counted itself by now too.
    EXPECT_EQ(ReportValue(WaitForFile(report), "library"), "library loaded");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(ReadFileBytes(starts), "started\n");
    int quiet = 0;
    for (int i = 0; i < kLaunchers; ++i) {
        const std::string shown = ReadFileBytes(scratch.path() / ("boxes" + std::to_string(i)));
        quiet += shown.empty() ? 1 : 0;
        EXPECT_TRUE(shown.empty() || shown == kAlreadyOpenBox) << shown;
    }
    EXPECT_EQ(quiet, 1);
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

TEST_F(LaunchSequenceTest, TheStartFailureBoxTakesItsTextAndCaptionFromTheStringTable) {
    TestArchive archive = Application();
    archive.entries[0].data = "not a program";
    UsePayload(archive);
    ActivePlatformCalls.PlatformLoadString = [](uint16_t id, std::u16string* text) {
        if (id == LAUNCHER_STRING_TEXT_START_FAILED) *text = u"No start (%d).";
        if (id == LAUNCHER_STRING_ERROR_CAPTION) *text = u"Other App";
        return !text->empty();
    };
    Launch();
    ActivePlatformCalls = kSystemCalls;
    EXPECT_EQ(boxes, "Other App: No start (8).\n");
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

namespace {

const FolderNames kNames{u"VORNIX", u"zandro.exe"};

// What a launch does with the folders once the child has started: they are let go of.
void Finish(ExtractedPayload* payload) {
    if (payload->mainProgram != kInvalidPlatformHandle) PlatformCloseFile(payload->mainProgram);
    LauncherLock none{kInvalidPlatformHandle, false};
    FinishWithFolders(&payload->fresh, &none, kNames);
}

}  // namespace

TEST_F(LaunchSequenceTest, ExtractionHoldsTheFolderAndItsMainProgram) {
    ExtractedPayload payload = ExtractPayload(kNames);
    EXPECT_EQ(payload.state, PayloadState::Ready);
    // The temporary directory's closing separator and the joined one stay side by side.
    EXPECT_EQ(payload.folderText, temp.u16string() + u"/\\VORNIX");
    EXPECT_NE(payload.fresh.folder, kInvalidPlatformHandle);
    EXPECT_NE(payload.mainProgram, kInvalidPlatformHandle);
    Finish(&payload);
    EXPECT_EQ(payload.fresh.folder, kInvalidPlatformHandle);
    EXPECT_EQ(payload.fresh.temp, kInvalidPlatformHandle);
}

// An old copy is never started: only what this run wrote.
TEST_F(LaunchSequenceTest, NoPayloadLeavesTheFolderAloneAndStartsNothing) {
    ExtractedPayload first = ExtractPayload(kNames);
    ASSERT_EQ(first.state, PayloadState::Ready);
    Finish(&first);
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
    ExtractedPayload payload = ExtractPayload(kNames);
    EXPECT_TRUE(payload.folderText.empty());
    EXPECT_EQ(payload.state, PayloadState::Failed);
    Finish(&payload);
    Launch();
    EXPECT_EQ(boxes, kChildMissingBox);
    EXPECT_FALSE(fs::exists(report));
}
