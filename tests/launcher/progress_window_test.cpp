// The progress window in the whole launch, with a clock, a window and a child of the test's own:
// it opens only once the unpacking has lasted half a second, its bar only moves on, and it is gone
// when the child starts or before a box.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/platform_faults.h"
#include "tests/support/zip_builder.h"

namespace {

// What the launch did, in order: "open <caption>", "bar <permille>", "close", "start", "box".
std::vector<std::string> events;
uint64_t clockMs = 0;
uint32_t clockStepMs = 0;  // how far the clock moves at each look
bool startSucceeds = true;
std::u16string progressSetting;

bool Table(uint16_t id, std::u16string* text) {
    if (id == LAUNCHER_STRING_PROGRESS) *text = progressSetting;
    if (id == LAUNCHER_STRING_CAPTION) *text = u"App";
    return !text->empty();
}

uint64_t Clock() { return clockMs += clockStepMs; }

PlatformWindow Open(const char16_t* caption) {
    events.push_back("open " +
                     std::string(caption, caption + std::char_traits<char16_t>::length(caption)));
    return 7;
}

void Bar(PlatformWindow window, uint32_t permille) {
    EXPECT_EQ(window, 7);
    events.push_back("bar " + std::to_string(permille));
}

void Close(PlatformWindow window) {
    EXPECT_EQ(window, 7);
    events.push_back("close");
}

bool Start(const char16_t*, char16_t*, const char16_t*, PlatformHandle, PlatformHandle* process,
           PlatformHandle* thread) {
    events.push_back("start");
    *process = 0;
    *thread = 0;
    return startSucceeds;
}

void Box(const char16_t*, const char16_t*, uint32_t) { events.push_back("box"); }

class ProgressWindowTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    SystemCallsAgain restore;
    Bytes payload;
    // TMPDIR as it was before the scratch folder was made, unset when it was.
    std::optional<std::string> savedTemp = std::getenv("TMPDIR") != nullptr
                                               ? std::optional<std::string>(std::getenv("TMPDIR"))
                                               : std::nullopt;

    void SetUp() override {
        TestArchive archive;
        archive.entries.push_back(MakeEntry("zandro.exe", "the program", 8));
        for (int i = 0; i < 20; ++i) {
            archive.entries.push_back(
                MakeEntry("data/" + std::to_string(i), std::string(999, 'd')));
        }
        payload = BuildZip(archive);
        LauncherPayloadData = payload.data();
        LauncherPayloadSize = static_cast<uint32_t>(payload.size());
        setenv("TMPDIR", scratch.path().c_str(), 1);
        events.clear();
        clockMs = 1000;
        startSucceeds = true;
        progressSetting = u"on";
        ActivePlatformCalls.PlatformLoadString = Table;
        ActivePlatformCalls.PlatformMilliseconds = Clock;
        ActivePlatformCalls.PlatformOpenProgressWindow = Open;
        ActivePlatformCalls.PlatformShowProgress = Bar;
        ActivePlatformCalls.PlatformCloseProgressWindow = Close;
        ActivePlatformCalls.PlatformCreateProcess = Start;
        ActivePlatformCalls.PlatformMessageBox = Box;
    }
    void TearDown() override {
        if (savedTemp) {
            setenv("TMPDIR", savedTemp->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        LauncherPayloadData = nullptr;
        LauncherPayloadSize = 0;
    }
};

TEST_F(ProgressWindowTest, ALongUnpackingShowsItUntilTheChildHasStarted) {
    clockStepMs = 100;  // each entry takes a tenth of a second
    EXPECT_EQ(RunLauncher(), 0);
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front(), "open App");
    EXPECT_EQ(events[events.size() - 2], "start");
    EXPECT_EQ(events.back(), "close");
    int last = -1;
    for (const std::string& event : events) {
        if (event.rfind("bar ", 0) != 0) continue;
        const int permille = std::stoi(event.substr(4));
        EXPECT_GE(permille, last);
        EXPECT_LE(permille, 1000);
        last = permille;
    }
    EXPECT_GT(last, 500) << "the bar did not get far";
    // Half a second's worth of entries went by before the window came.
    ASSERT_EQ(events[1].rfind("bar ", 0), 0u);
    EXPECT_GT(std::stoi(events[1].substr(4)), 100);
}

TEST_F(ProgressWindowTest, AFailedStartClosesItBeforeTheBox) {
    clockStepMs = 100;
    startSucceeds = false;
    EXPECT_EQ(RunLauncher(), 0);
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front(), "open App");
    const std::vector<std::string> end(events.end() - 3, events.end());
    EXPECT_EQ(end, (std::vector<std::string>{"start", "close", "box"}));
}

TEST_F(ProgressWindowTest, NothingIsShownWhenQuickOrNotAskedFor) {
    clockStepMs = 10;  // a fifth of a second in all
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(events, std::vector<std::string>{"start"});
    events.clear();
    clockStepMs = 100;
    progressSetting = u"off";
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(events, std::vector<std::string>{"start"});
}

}  // namespace
