// The extraction folder made anew: what stands in its place, what is moved aside and removed, the
// application that runs from the old one, what an elevated launcher may touch for its user, the
// path the child gets, and the launchers' lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "launcher/folder_policy.h"
#include "launcher/launcher.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/platform_faults.h"

namespace {

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::set<std::string> Tree(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(entry.path(), folder).generic_string() +
                     (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
    }
    return names;
}

// ---- Stand-ins for what the system judges of an elevated launcher's user ----

// Whom each removal and move acted for.
std::vector<ActingFor> acts;

// The user may remove and move nothing; the launcher all it could before.
Removal RemoveRefusingUser(PlatformHandle folder, const char16_t* name, ActingFor who) {
    acts.push_back(who);
    return who == ActingFor::User ? Removal::Refused
                                  : kSystemCalls.PlatformRemoveEntry(folder, name, who);
}
bool RenameRefusingUser(PlatformHandle moved, PlatformHandle folder, const char16_t* name,
                        const char16_t* newName, ActingFor who) {
    acts.push_back(who);
    return who != ActingFor::User &&
           kSystemCalls.PlatformRenameFolder(moved, folder, name, newName, who);
}

// The main program is in use (an oplock being broken, a handle without delete sharing) or runs;
// everything else goes as the system does it.
Removal programAnswer = Removal::Done;
Removal ProgramAnswers(PlatformHandle folder, const char16_t* name, ActingFor who) {
    if (std::u16string(name) == u"zandro.exe") return programAnswer;
    return kSystemCalls.PlatformRemoveEntry(folder, name, who);
}

// Another process pins the folder: it cannot be held for removal, only looked into.
PlatformHandle PinnedElsewhere(PlatformHandle folder, const char16_t* name, bool hold) {
    return hold && std::u16string(name) == u"VORNIX"
               ? kInvalidPlatformHandle
               : kSystemCalls.PlatformOpenSubFolder(folder, name, hold);
}

// A clock that runs a second per reading: every bound on time is met at once.
uint64_t now = 0;
uint64_t RacingClock() { return now += 1000; }

class FolderPolicyTest : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path temp = scratch.path() / "tmp";
    fs::path folder = temp / "VORNIX";
    fs::path outside = scratch.path() / "outside";
    SystemCallsAgain restore;
    const FolderNames names{u"VORNIX", u"zandro.exe"};
    FreshFolder fresh = NoFreshFolder();

    void SetUp() override {
        fs::create_directories(temp);
        fs::create_directories(outside / "inner");
        WriteFileBytes(outside / "precious.txt", "keep");
        MakeReadOnly(outside / "precious.txt");
        WriteFileBytes(outside / "inner" / "also.txt", "keep");
    }
    void TearDown() override { ReleaseFreshFolder(&fresh); }

    FolderState Prepare() {
        ReleaseFreshFolder(&fresh);
        fresh = PrepareFreshFolder(temp.u16string() + u"/", names);
        return fresh.state;
    }

    // Removes the folders moved aside, through the temporary directory held as the launcher holds
    // it.
    void RemoveAside() {
        const PlatformHandle held = PlatformOpenFolder(temp.u16string().c_str());
        ASSERT_NE(held, kInvalidPlatformHandle);
        RemoveFoldersMovedAside(held, names);
        PlatformReleaseFolder(held);
    }

    // An earlier run's folder with what an application keeps in it, and a folder an interrupted
    // run moved aside.
    void LayOldFolders() {
        fs::create_directories(folder / "config");
        WriteFileBytes(folder / "zandro.exe", "old program");
        WriteFileBytes(folder / "config" / "licence.dat", "licence");
        fs::create_directories(temp / "VORNIX.old-7");
        WriteFileBytes(temp / "VORNIX.old-7" / "backup.dat", "backup");
    }

    // The launcher elevated as `elevation`, the system's answers otherwise.
    void Elevate(Elevation elevation) {
        static Elevation current;
        current = elevation;
        ActivePlatformCalls.PlatformTokenElevation = [] { return current; };
        acts.clear();
    }

    void ExpectOutsideUntouched() {
        EXPECT_EQ(Tree(outside),
                  (std::set<std::string>{"inner/", "inner/also.txt", "precious.txt"}));
        EXPECT_EQ(ReadFileBytes(outside / "precious.txt"), "keep");
        EXPECT_TRUE(IsReadOnly(outside / "precious.txt"));
    }
};

}  // namespace

TEST_F(FolderPolicyTest, MakesANewEmptyFolderHeldByThisRun) {
    ASSERT_EQ(Prepare(), FolderState::Ready);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
#ifdef _WIN32
    // Held exclusively: no other handle may add to it, rename or delete it.
    const HANDLE writer = CreateFileW(folder.wstring().c_str(), FILE_ADD_FILE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileW(folder.wstring().c_str(), (temp / "moved").wstring().c_str()));
#else
    EXPECT_EQ(fs::status(folder).permissions(), static_cast<fs::perms>(0755));
#endif
    // Made only where nothing stands: a second one cannot be made over it.
    EXPECT_EQ(PlatformCreateFreshFolder(fresh.temp, u"VORNIX"), kInvalidPlatformHandle);
}

TEST_F(FolderPolicyTest, MovesAnOldFolderAsideWholeAndRemovesItLater) {
    fs::create_directories(folder / "sub" / "deeper");
    fs::create_directories(folder / "empty");
    WriteFileBytes(folder / "zandro.exe", "old program");
    MakeReadOnly(folder / "zandro.exe");
    WriteFileBytes(folder / "sub" / "deeper" / "data.bin", "old");
    MakeReadOnly(folder / "sub" / "deeper" / "data.bin");
    WriteFileBytes(folder / "planted.dll", "planted");

    ASSERT_EQ(Prepare(), FolderState::Ready);
    EXPECT_TRUE(fs::is_empty(folder));
    // The old folder as it was, but for its main program, which went first.
    EXPECT_EQ(Tree(temp / "VORNIX.old-1"),
              (std::set<std::string>{"empty/", "planted.dll", "sub/", "sub/deeper/",
                                     "sub/deeper/data.bin"}));
    ReleaseFreshFolder(&fresh);

    RemoveAside();
    EXPECT_EQ(Names(temp), (std::set<std::string>{"VORNIX"}));
    ExpectOutsideUntouched();
}

TEST_F(FolderPolicyTest, NumbersPastTheFoldersLeftAsideAndRemovesOnlyThose) {
    fs::create_directories(folder);
    fs::create_directories(temp / "VORNIX.old-1" / "left");
    WriteFileBytes(temp / "VORNIX.old-1" / "left" / "file.txt", "left by an interrupted run");
    // Names of others that merely look alike.
    fs::create_directories(temp / "VORNIX.older");
    fs::create_directories(temp / "VORNIX.old-x1");
    WriteFileBytes(temp / "VORNIX.old-7", "a file, not a folder moved aside");

    ASSERT_EQ(Prepare(), FolderState::Ready);
    EXPECT_TRUE(fs::is_directory(temp / "VORNIX.old-2"));
    ReleaseFreshFolder(&fresh);
    RemoveAside();
    EXPECT_EQ(Names(temp),
              (std::set<std::string>{"VORNIX", "VORNIX.old-7", "VORNIX.old-x1", "VORNIX.older"}));
}

// Nothing that the launcher may not own stands in the folder's place: a file stays where it is,
// and nothing can be made.
TEST_F(FolderPolicyTest, AFileInTheFolderPlaceLeavesNoFolder) {
    WriteFileBytes(folder, "somebody's file");
    EXPECT_EQ(Prepare(), FolderState::Unavailable);
    EXPECT_EQ(ReadFileBytes(folder), "somebody's file");
    EXPECT_EQ(fresh.folder, kInvalidPlatformHandle);
}

// The application runs from the old folder: nothing of it is touched, nothing is made.
TEST_F(FolderPolicyTest, AFolderWhoseMainProgramRunsIsLeftAsItIs) {
    fs::create_directories(folder);
    fs::copy_file(PROBE_PROGRAM, folder / "zandro.exe");
    fs::copy_file(PROBE_LIBRARY, folder / fs::path(PROBE_LIBRARY).filename());
    MakeReadOnly(folder / "zandro.exe");
    WriteFileBytes(folder / "data.bin", "in use");
    const fs::path report = scratch.path() / "report.txt";
    ASSERT_TRUE(PlatformSetEnvironmentVariable(u"ZANDRO_REPORT", report.u16string().c_str()));
    ASSERT_TRUE(PlatformSetEnvironmentVariable(u"ZANDRO_LINGER_MS", u"1500"));
#ifndef _WIN32
    ASSERT_TRUE(PrependToPath(folder.u16string()));  // where the POSIX loader finds the library
#endif
    uint32_t error = 0;
    const bool started = CreateChildProcess(
        PlanChildStart(folder.u16string(), DefaultSettings(), u""), kInvalidPlatformHandle, &error);
    PlatformSetEnvironmentVariable(u"ZANDRO_LINGER_MS", u"0");
    ASSERT_TRUE(started) << error;
    ASSERT_FALSE(WaitForFile(report).empty());
    const std::set<std::string> before = Tree(temp);

    EXPECT_EQ(Prepare(), FolderState::ApplicationRunning);
    EXPECT_EQ(Tree(temp), before);
    EXPECT_TRUE(IsReadOnly(folder / "zandro.exe"));
    EXPECT_EQ(ReadFileBytes(folder / "data.bin"), "in use");

    // Once the application has ended, the folder goes aside as any other.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Prepare() == FolderState::ApplicationRunning &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(fresh.state, FolderState::Ready);
    EXPECT_EQ(ReadFileBytes(temp / "VORNIX.old-1" / "data.bin"), "in use");
}

TEST_F(FolderPolicyTest, ALinkInTheFolderPlaceIsRemovedItselfOrLeavesNoFolder) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    fs::create_directory_symlink(outside, folder);
    MakeFaultPoint<&PlatformCalls::PlatformRemoveEntry, Removal::Failed>("RemoveEntry").failNth(1);
    EXPECT_EQ(Prepare(), FolderState::Unavailable);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder)));

    ASSERT_EQ(Prepare(), FolderState::Ready);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::is_empty(folder));
    ExpectOutsideUntouched();
}

// Whatever another process left in a folder moved aside, its removal stays inside it.
TEST_F(FolderPolicyTest, RemovalNeverFollowsALink) {
    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    fs::create_directories(folder / "sub");
    fs::create_directory_symlink(outside, folder / "to-folder");
    fs::create_symlink(outside / "precious.txt", folder / "to-file");
    fs::create_directory_symlink(outside / "inner", folder / "sub" / "nested");
    ASSERT_EQ(Prepare(), FolderState::Ready);
    ReleaseFreshFolder(&fresh);
    RemoveAside();
    EXPECT_EQ(Names(temp), (std::set<std::string>{"VORNIX"}));
    ExpectOutsideUntouched();
}

// What cannot be removed now (a file in use, say) stays with its folders for a later run.
TEST_F(FolderPolicyTest, WhatCannotBeRemovedWaitsForALaterRun) {
    fs::create_directories(folder / "sub");
    WriteFileBytes(folder / "sub" / "held.dll", "x");
    WriteFileBytes(folder / "gone.dll", "x");
    ASSERT_EQ(Prepare(), FolderState::Ready);
    ReleaseFreshFolder(&fresh);
    // The first removal after the main program (already gone) fails, whichever entry it meets.
    MakeFaultPoint<&PlatformCalls::PlatformRemoveEntry, Removal::Failed>("RemoveEntry").failNth(1);
    RemoveAside();
    ActivePlatformCalls = kSystemCalls;
    EXPECT_TRUE(fs::exists(temp / "VORNIX.old-1"));
    RemoveAside();
    EXPECT_EQ(Names(temp), (std::set<std::string>{"VORNIX"}));
}

// An elevated launcher acts for its user on what it did not make: whatever the user could not do
// stops the start, with everything where it was. A launcher that is not elevated over a user has
// nobody to act for.
TEST_F(FolderPolicyTest, AnElevatedLauncherTouchesNothingItsUserCouldNot) {
    struct Case {
        const char* what;
        Elevation elevation;
        std::function<void()> judge;
        FolderState expected;
    };
    const Case cases[] = {
        {"a volume without access lists", Elevation::OverUser,
         [] {
             ActivePlatformCalls.PlatformVolumeKeepsAccessLists = [](PlatformHandle) {
                 return false;
             };
         },
         FolderState::Unavailable},
        {"the same, elevated alone", Elevation::Alone,
         [] {
             ActivePlatformCalls.PlatformVolumeKeepsAccessLists = [](PlatformHandle) {
                 return false;
             };
         },
         FolderState::Unavailable},
        {"a temporary directory the user could not make a folder in", Elevation::OverUser,
         [] {
             ActivePlatformCalls.PlatformUserMayAddFolder = [](PlatformHandle) { return false; };
         },
         FolderState::Unavailable},
        {"an old folder the user could not remove", Elevation::OverUser,
         [] {
             ActivePlatformCalls.PlatformRemoveEntry = RemoveRefusingUser;
             ActivePlatformCalls.PlatformRenameFolder = RenameRefusingUser;
         },
         FolderState::Unavailable},
        {"nobody to act for: not elevated", Elevation::None,
         [] {
             ActivePlatformCalls.PlatformVolumeKeepsAccessLists = [](PlatformHandle) {
                 return false;
             };
             ActivePlatformCalls.PlatformUserMayAddFolder = [](PlatformHandle) { return false; };
             ActivePlatformCalls.PlatformRemoveEntry = RemoveRefusingUser;
             ActivePlatformCalls.PlatformRenameFolder = RenameRefusingUser;
         },
         FolderState::Ready},
        {"nobody to act for: elevated alone", Elevation::Alone,
         [] {
             ActivePlatformCalls.PlatformUserMayAddFolder = [](PlatformHandle) { return false; };
             ActivePlatformCalls.PlatformRemoveEntry = RemoveRefusingUser;
             ActivePlatformCalls.PlatformRenameFolder = RenameRefusingUser;
         },
         FolderState::Ready},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseFreshFolder(&fresh);
        fs::remove_all(temp);
        fs::create_directories(temp);
        LayOldFolders();
        const std::set<std::string> before = Tree(temp);
        ActivePlatformCalls = kSystemCalls;
        Elevate(c.elevation);
        c.judge();
        EXPECT_EQ(Prepare(), c.expected);
        LauncherLock none{kInvalidPlatformHandle, false};
        FinishWithFolders(&fresh, &none, names);
        if (c.expected == FolderState::Unavailable) {
            EXPECT_EQ(Tree(temp), before);
            EXPECT_EQ(ReadFileBytes(folder / "config" / "licence.dat"), "licence");
            EXPECT_EQ(ReadFileBytes(temp / "VORNIX.old-7" / "backup.dat"), "backup");
        } else {
            EXPECT_EQ(Names(temp), (std::set<std::string>{"VORNIX"}));
            for (ActingFor who : acts) EXPECT_EQ(who, ActingFor::Launcher);
        }
    }
}

// Folders that a launcher made (owned by Administrators, its protected access list) are its own:
// moved aside and removed, whatever the user could do.
TEST_F(FolderPolicyTest, WhatALauncherMadeItMovesAsideAndRemovesItself) {
    LayOldFolders();
    Elevate(Elevation::OverUser);
    ActivePlatformCalls.PlatformMadeByLauncher = [](PlatformHandle) { return true; };
    ActivePlatformCalls.PlatformRemoveEntry = RemoveRefusingUser;
    ActivePlatformCalls.PlatformRenameFolder = RenameRefusingUser;
    ASSERT_EQ(Prepare(), FolderState::Ready);
    ReleaseFreshFolder(&fresh);
    RemoveAside();
    EXPECT_EQ(Names(temp), (std::set<std::string>{"VORNIX"}));
    ASSERT_FALSE(acts.empty());
    for (ActingFor who : acts) EXPECT_EQ(who, ActingFor::Launcher);

    // The user's own folder is removed for the user, as far as the user could.
    fs::create_directories(temp / "VORNIX.old-3" / "sub");
    WriteFileBytes(temp / "VORNIX.old-3" / "sub" / "kept.dat", "the user's");
    ActivePlatformCalls.PlatformMadeByLauncher = [](PlatformHandle) { return false; };
    acts.clear();
    RemoveAside();
    EXPECT_EQ(ReadFileBytes(temp / "VORNIX.old-3" / "sub" / "kept.dat"), "the user's");
    ASSERT_FALSE(acts.empty());
    for (ActingFor who : acts) EXPECT_EQ(who, ActingFor::User);
}

// The old folder's main program tells whether to go on: removed, the folder goes aside; running,
// the application is reported; in use in any other way (an oplock being broken, a handle without
// delete sharing), nothing more is touched. A folder pinned by another process is only looked
// into.
TEST_F(FolderPolicyTest, TheOldMainProgramDecidesAndAPinnedFolderIsOnlyLookedInto) {
    struct Case {
        Removal program;
        bool pinned;
        FolderState expected;
    };
    const Case cases[] = {
        {Removal::Done, false, FolderState::Ready},
        {Removal::Running, false, FolderState::ApplicationRunning},
        {Removal::InUse, false, FolderState::Unavailable},
        {Removal::Failed, false, FolderState::Unavailable},
        {Removal::Running, true, FolderState::ApplicationRunning},
        {Removal::Done, true, FolderState::Unavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "program " << static_cast<int>(c.program) << (c.pinned ? ", pinned" : ""));
        ReleaseFreshFolder(&fresh);
        fs::remove_all(temp);
        fs::create_directories(temp);
        LayOldFolders();
        ActivePlatformCalls = kSystemCalls;
        programAnswer = c.program;
        ActivePlatformCalls.PlatformRemoveEntry = ProgramAnswers;
        if (c.pinned) ActivePlatformCalls.PlatformOpenSubFolder = PinnedElsewhere;
        EXPECT_EQ(Prepare(), c.expected);
        EXPECT_EQ(
            ReadFileBytes((c.expected == FolderState::Ready ? temp / "VORNIX.old-1" : folder) /
                          "config" / "licence.dat"),
            "licence");
        EXPECT_EQ(fs::exists(temp / "VORNIX.old-1"), c.expected == FolderState::Ready);
    }
}

// A removal that would take too long (a folder somebody keeps adding to, say) stops within its
// bounds; the next run goes on where it stopped.
TEST_F(FolderPolicyTest, RemovalStopsWithinItsBoundsAndALaterRunFinishes) {
    fs::create_directories(temp / "VORNIX.old-1");
    for (int i = 0; i < 40; ++i) {
        WriteFileBytes(temp / "VORNIX.old-1" / ("file" + std::to_string(i)), "x");
    }
    ActivePlatformCalls.PlatformMilliseconds = RacingClock;
    RemoveAside();
    ASSERT_TRUE(fs::exists(temp / "VORNIX.old-1"));
    const auto left =
        std::distance(fs::directory_iterator(temp / "VORNIX.old-1"), fs::directory_iterator());
    EXPECT_GT(left, 30);
    ActivePlatformCalls = kSystemCalls;
    RemoveAside();
    EXPECT_FALSE(fs::exists(temp / "VORNIX.old-1"));
}

TEST_F(FolderPolicyTest, TheChildGetsTheFolderTextUnlessALinkLeadsThere) {
    ASSERT_EQ(Prepare(), FolderState::Ready);
    // The text as formed, with its doubled separator, when it leads there through no link.
    const std::u16string text = temp.u16string() + u"\\\\VORNIX";
    EXPECT_EQ(ChildFolderText(fresh.folder, text), text);
    ReleaseFreshFolder(&fresh);

    if (!CanMakeFolderLinks(scratch.path())) GTEST_SKIP() << "no symbolic links here";
    const fs::path linked = scratch.path() / "linked-temp";
    fs::create_directory_symlink(temp, linked);
    fresh = PrepareFreshFolder(linked.u16string() + u"/", names);
    ASSERT_EQ(fresh.state, FolderState::Ready);
    const std::u16string childText =
        ChildFolderText(fresh.folder, linked.u16string() + u"\\\\VORNIX");
    EXPECT_TRUE(fs::equivalent(fs::path(childText), folder));
    EXPECT_EQ(fs::path(childText).parent_path(), fs::canonical(temp));
}

// A second holder waits for the first, and gets the lock once it is let go; in time or not at all.
TEST(LauncherLock, OneHolderAtATimeAndTheOtherWaitsInBounds) {
    ScratchFolder scratch;
    const std::u16string name = u"VORNIX.test-" + scratch.path().filename().u16string();
    bool waited = true;
    const PlatformHandle first = PlatformAcquireLock(name.c_str(), 0, &waited);
    ASSERT_NE(first, kInvalidPlatformHandle);
    EXPECT_FALSE(waited);

    // Another thread stands for another launcher (a Windows mutex is its own thread's).
    std::atomic<bool> gotInTime{true};
    std::atomic<bool> waitedInTime{false};
    std::thread([&] {
        bool otherWaited = false;
        const PlatformHandle second = PlatformAcquireLock(name.c_str(), 200, &otherWaited);
        gotInTime = second != kInvalidPlatformHandle;
        waitedInTime = otherWaited;
        if (second != kInvalidPlatformHandle) PlatformReleaseLock(second);
    }).join();
    EXPECT_FALSE(gotInTime);
    EXPECT_TRUE(waitedInTime);

    std::atomic<bool> gotLater{false};
    std::atomic<bool> waitedLater{false};
    std::thread other([&] {
        bool otherWaited = false;
        const PlatformHandle second = PlatformAcquireLock(name.c_str(), 20000, &otherWaited);
        gotLater = second != kInvalidPlatformHandle;
        waitedLater = otherWaited;
        if (second != kInvalidPlatformHandle) PlatformReleaseLock(second);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    PlatformReleaseLock(first);
    other.join();
    EXPECT_TRUE(gotLater);
    EXPECT_TRUE(waitedLater);
}

#ifdef _WIN32
// Launchers of "App" and "APP" work in one folder, which Windows finds by either name: they take
// one lock.
TEST(LauncherLock, NamesThatDifferOnlyInCaseAreOneLockOnWindows) {
    ScratchFolder scratch;
    const std::u16string name = u"Vornix.case-" + scratch.path().filename().u16string();
    std::u16string upper = name;
    for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    bool waited = false;
    const PlatformHandle first = PlatformAcquireLock(name.c_str(), 0, &waited);
    ASSERT_NE(first, kInvalidPlatformHandle);
    std::atomic<bool> got{true};
    std::thread([&] {
        bool otherWaited = false;
        const PlatformHandle second = PlatformAcquireLock(upper.c_str(), 100, &otherWaited);
        got = second != kInvalidPlatformHandle;
        if (second != kInvalidPlatformHandle) PlatformReleaseLock(second);
    }).join();
    EXPECT_FALSE(got);
    PlatformReleaseLock(first);
}
#endif
