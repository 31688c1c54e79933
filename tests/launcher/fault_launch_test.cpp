// The whole launch with each platform call on the way failing once, call by call: whatever fails,
// nothing is started unless the folder holds exactly what this run unpacked, and nothing outside
// the folder changes. The temporary directory, the payload, the
// boxes and the start of the child come from stand-ins, so that the same runs work natively and
// under Wine.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/platform_faults.h"
#include "tests/support/zip_builder.h"

namespace {

// Every file below a folder with its content; links as "-> link", folders left out.
std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = fs::relative(it->path(), folder).generic_string();
        if (it->is_symlink()) {
            files[name] = "-> link";
        } else if (it->is_regular_file()) {
            files[name] = ReadFileBytes(it->path());
        }
    }
    return files;
}

const std::map<std::string, std::string> kPayloadFiles = {
    {"zandro.exe", "the new program"},
    {"lib.dll", "the library"},
    {"data/readme.txt", "read me"},
};

// What the stand-ins saw during one launch.
struct LaunchRecord {
    std::u16string temp;  // what the temporary directory query answers
    Bytes payload;
    fs::path folder;
    std::vector<std::u16string> started;
    std::vector<std::u16string> boxes;
    std::vector<std::u16string> captions;
    std::map<std::string, std::string> filesAtStart;
    std::map<uint16_t, std::u16string> strings;  // the launcher's string table
    std::vector<std::u16string> locks;           // the locks it took
    bool waited = false;                         // whether it waited for one
};
LaunchRecord record;

uint32_t TempPath(uint32_t units, char16_t* buffer) {
    if (record.temp.size() + 1 > units) return static_cast<uint32_t>(record.temp.size() + 1);
    std::copy(record.temp.begin(), record.temp.end(), buffer);
    buffer[record.temp.size()] = 0;
    return static_cast<uint32_t>(record.temp.size());
}

bool Resource(uint16_t, const char16_t*, const void** data, uint32_t* size) {
    *data = record.payload.data();
    *size = static_cast<uint32_t>(record.payload.size());
    return true;
}

void Box(const char16_t* text, const char16_t* caption, uint32_t) {
    record.boxes.push_back(text);
    record.captions.push_back(caption);
}

bool Start(const char16_t* application, char16_t*, const char16_t*, PlatformHandle,
           PlatformHandle* process, PlatformHandle* thread) {
    record.started.push_back(application);
    record.filesAtStart = Files(record.folder);  // what the child would find
    *process = 0;
    *thread = 0;
    return true;
}

void CloseNothing(PlatformHandle) {}

bool TableString(uint16_t id, std::u16string* text) {
    const auto found = record.strings.find(id);
    if (found == record.strings.end()) return false;
    *text = found->second;
    return true;
}

PlatformHandle RecordedLock(const char16_t* name, uint32_t waitMs, bool* waited) {
    record.locks.push_back(name);
    const PlatformHandle lock = kSystemCalls.PlatformAcquireLock(name, waitMs, waited);
    record.waited = record.waited || *waited;
    return lock;
}

class FaultLaunch : public testing::Test {
  protected:
    ScratchFolder scratch;
    fs::path temp = scratch.path() / "tmp";
    fs::path folder = temp / "VORNIX";
    fs::path outside = scratch.path() / "outside";
    SystemCallsAgain restore;
    bool links = CanMakeFolderLinks(scratch.path());

    void SetUp() override {
        TestArchive archive;
        archive.entries = {MakeEntry("zandro.exe", "the new program", 8),
                           MakeEntry("lib.dll", "the library", 8),
                           MakeEntry("data/readme.txt", "read me", 8), MakeEntry("docs/", "")};
        archive.entries.back().externalAttributes = 0x10;
        record.payload = BuildZip(archive);
        record.temp = temp.u16string() + u'\\';
        record.folder = folder;
        record.strings.clear();
        fs::create_directories(outside / "inner");
        WriteFileBytes(outside / "precious.dll", "keep");
        MakeReadOnly(outside / "precious.dll");
        WriteFileBytes(outside / "inner" / "also.txt", "keep");
    }

    // An earlier run's folder, planted files and links to outside in it; or no folder at all.
    void Lay(bool withOldFolder) {
        std::error_code error;
        for (const auto& item : fs::recursive_directory_iterator(temp, error)) {
            if (!item.is_symlink())
                fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(temp);
        fs::create_directories(temp);
        if (!withOldFolder) return;
        fs::create_directories(folder / "sub" / "deeper");
        fs::create_directories(folder / "data");
        WriteFileBytes(folder / "zandro.exe", "an old copy");
        MakeReadOnly(folder / "zandro.exe");
        WriteFileBytes(folder / "version.dll", "planted");
        WriteFileBytes(folder / "data" / "readme.txt", "old");
        WriteFileBytes(folder / "sub" / "deeper" / "old.txt", "old");
        MakeReadOnly(folder / "sub" / "deeper" / "old.txt");
        if (links) {
            fs::create_directory_symlink(outside, folder / "to-outside");
            fs::create_symlink(outside / "precious.dll", folder / "sub" / "lib.dll");
        }
    }

    // One launch with the stand-ins in place, `more` of them when given, and the Nth call of
    // `point` failing when given. Returns whether that call was reached.
    bool Launch(const FaultPoint* point, int n, void (*more)() = nullptr) {
        record.started.clear();
        record.boxes.clear();
        record.captions.clear();
        record.filesAtStart.clear();
        record.locks.clear();
        record.waited = false;
        ActivePlatformCalls = kSystemCalls;
        ActivePlatformCalls.PlatformLoadString = TableString;
        ActivePlatformCalls.PlatformAcquireLock = RecordedLock;
        ActivePlatformCalls.PlatformGetTempPath = TempPath;
        ActivePlatformCalls.PlatformFindResource = Resource;
        ActivePlatformCalls.PlatformMessageBox = Box;
        ActivePlatformCalls.PlatformCreateProcess = Start;
        ActivePlatformCalls.PlatformCloseProcessHandle = CloseNothing;
        // Elevated over a user, on every system: every check of what the user could do is made.
        ActivePlatformCalls.PlatformTokenElevation = [] { return Elevation::OverUser; };
        if (more != nullptr) more();
        if (point != nullptr) point->failNth(n);
        EXPECT_EQ(RunLauncher(), 0);
        const bool reached = point != nullptr && point->reached();
        ActivePlatformCalls = kSystemCalls;
        return reached;
    }

    // Exactly one outcome; a start only of the new program, beside exactly the files of the
    // payload; nothing outside changed.
    void ExpectSound(const std::map<std::string, std::string>& outsideBefore) {
        EXPECT_EQ(record.started.size() + record.boxes.size(), 1u);
        if (!record.started.empty()) {
            EXPECT_EQ(record.started[0], record.temp + u"\\VORNIX\\zandro.exe");
            EXPECT_EQ(record.filesAtStart, kPayloadFiles);
        } else if (!record.boxes.empty()) {
            EXPECT_EQ(record.boxes[0], u"释放文件失败或文件被占用！");
        }
        EXPECT_EQ(Files(outside), outsideBefore);
        EXPECT_TRUE(IsReadOnly(outside / "precious.dll"));
    }
};

const FaultPoint kPoints[] = {
    MakeFaultPoint<&PlatformCalls::PlatformAcquireLock, kInvalidPlatformHandle>("AcquireLock"),
    MakeFaultPoint<&PlatformCalls::PlatformGetTempPath, 0u>("GetTempPath"),
    MakeFaultPoint<&PlatformCalls::PlatformFindResource, false>("FindResource"),
    MakeFaultPoint<&PlatformCalls::PlatformOpenFolder, kInvalidPlatformHandle>("OpenFolder"),
    MakeFaultPoint<&PlatformCalls::PlatformOpenSearch, kInvalidPlatformHandle>("OpenSearch"),
    MakeFaultPoint<&PlatformCalls::PlatformNextEntry, -1>("NextEntry"),
    MakeFaultPoint<&PlatformCalls::PlatformOpenSubFolder, kInvalidPlatformHandle>("OpenSubFolder"),
    MakeFaultPoint<&PlatformCalls::PlatformRemoveEntry, Removal::Failed>("RemoveEntry"),
    MakeFaultPoint<&PlatformCalls::PlatformRemoveEntry, Removal::InUse>("RemoveEntry in use"),
    MakeFaultPoint<&PlatformCalls::PlatformRemoveEntry, Removal::Refused>("RemoveEntry refused"),
    // Success reported, nothing done: a file that another process holds with delete sharing is
    // only marked for deletion and keeps its name until that process lets go.
    MakeFaultPoint<&PlatformCalls::PlatformRemoveEntry, Removal::Done>("RemoveEntry left in place"),
    MakeFaultPoint<&PlatformCalls::PlatformVolumeKeepsAccessLists, false>("VolumeKeepsAccessLists"),
    MakeFaultPoint<&PlatformCalls::PlatformUserMayAddFolder, false>("UserMayAddFolder"),
    MakeFaultPoint<&PlatformCalls::PlatformMadeByLauncher, true>("MadeByLauncher"),
    MakeFaultPoint<&PlatformCalls::PlatformRenameFolder, false>("RenameFolder"),
    MakeFaultPoint<&PlatformCalls::PlatformCreateFreshFolder, kInvalidPlatformHandle>(
        "CreateFreshFolder"),
    MakeFaultPoint<&PlatformCalls::PlatformFinalPath, false>("FinalPath"),
    MakeFaultPoint<&PlatformCalls::PlatformMakeSubFolder, kInvalidPlatformHandle>("MakeSubFolder"),
    MakeFaultPoint<&PlatformCalls::PlatformCreateFileIn, kInvalidPlatformHandle>("CreateFileIn"),
    MakeFaultPoint<&PlatformCalls::PlatformWriteFile, false>("WriteFile"),
    MakeFaultPoint<&PlatformCalls::PlatformSetFileTimes, false>("SetFileTimes"),
    MakeFaultPoint<&PlatformCalls::PlatformFileIdentity, false>("FileIdentity"),
    MakeFaultPoint<&PlatformCalls::PlatformOpenFileIn, kInvalidPlatformHandle>("OpenFileIn"),
    MakeFaultPoint<&PlatformCalls::PlatformPinFolder, kInvalidPlatformHandle>("PinFolder"),
};

}  // namespace

TEST_F(FaultLaunch, WithoutFaultsTheChildStartsOverExactlyThePayload) {
    for (bool withOldFolder : {true, false}) {
        SCOPED_TRACE(withOldFolder ? "old folder" : "no folder");
        Lay(withOldFolder);
        const auto outsideBefore = Files(outside);
        Launch(nullptr, 0);
        ASSERT_EQ(record.started.size(), 1u);
        EXPECT_EQ(record.filesAtStart, kPayloadFiles);
        // The old folder went aside and is gone now.
        EXPECT_EQ(std::distance(fs::directory_iterator(temp), fs::directory_iterator()), 1);
        for (const auto& file : kPayloadFiles) EXPECT_TRUE(IsReadOnly(folder / file.first));
        ExpectSound(outsideBefore);
    }
}

TEST_F(FaultLaunch, EachCallFailingOnceStartsNothingThisRunDidNotWrite) {
    for (const FaultPoint& point : kPoints) {
        bool everReached = false;
        for (bool withOldFolder : {true, false}) {
            for (int n = 1; n < 1000; ++n) {
                SCOPED_TRACE(testing::Message()
                             << point.name << " call " << n
                             << (withOldFolder ? ", old folder" : ", no folder"));
                Lay(withOldFolder);
                const auto outsideBefore = Files(outside);
                const bool reached = Launch(&point, n);
                ExpectSound(outsideBefore);
                if (HasFailure()) return;
                if (!reached) break;
                everReached = true;
            }
        }
        EXPECT_TRUE(everReached) << point.name << " is never called on this path";
    }
}

// Two applications with launchers of their own in one temporary directory: each launcher works in
// its own folder under its own lock, and removes only the folders it moved aside itself. The other
// folder's name begins with this one's, and this one's aside names begin with the other's.
TEST_F(FaultLaunch, LaunchersOfTwoFoldersLeaveEachOthersAlone) {
    Lay(true);
    const fs::path other = temp / "VORNIX.old";
    fs::create_directories(other);
    WriteFileBytes(other / "other.exe", "the other's old copy");
    WriteFileBytes(temp / "VORNIX.old.old-2" / "left.txt", "the other's, moved aside");
    fs::create_directories(temp / "VORNIX.old-7");
    WriteFileBytes(temp / "VORNIX.old-7" / "left.txt", "this one's, moved aside");
    const auto folderBefore = Files(folder);

    const Bytes thisPayload = record.payload;
    TestArchive archive;
    archive.entries = {MakeEntry("other.exe", "the other program", 8),
                       MakeEntry("other.dll", "the other library", 8)};
    record.payload = BuildZip(archive);
    record.folder = other;
    record.strings = {{LAUNCHER_STRING_MAIN_PROGRAM, u"other.exe"},
                      {LAUNCHER_STRING_FOLDER_NAME, u"VORNIX.old"}};
    const std::map<std::string, std::string> otherFiles = {{"other.exe", "the other program"},
                                                           {"other.dll", "the other library"}};
    {
        // This folder's launcher is at work meanwhile, from another thread (a Windows mutex is
        // its own thread's): the other launcher does not wait for it.
        std::promise<void> held;
        std::promise<void> done;
        std::thread busy([&] {
            bool waited = false;
            const PlatformHandle lock = PlatformAcquireLock(u"VORNIX.launcher", 0, &waited);
            held.set_value();
            done.get_future().wait();
            if (lock != kInvalidPlatformHandle) PlatformReleaseLock(lock);
        });
        held.get_future().wait();
        Launch(nullptr, 0);
        done.set_value();
        busy.join();
    }
    EXPECT_EQ(record.locks, std::vector<std::u16string>{u"VORNIX.old.launcher"});
    EXPECT_FALSE(record.waited);
    EXPECT_TRUE(record.boxes.empty());
    ASSERT_EQ(record.started.size(), 1u);
    EXPECT_EQ(record.started[0], record.temp + u"\\VORNIX.old\\other.exe");
    EXPECT_EQ(record.filesAtStart, otherFiles);
    EXPECT_EQ(Files(folder), folderBefore);
    EXPECT_EQ(ReadFileBytes(temp / "VORNIX.old-7" / "left.txt"), "this one's, moved aside");
    EXPECT_FALSE(fs::exists(temp / "VORNIX.old.old-1"));
    EXPECT_FALSE(fs::exists(temp / "VORNIX.old.old-2"));

    record.payload = thisPayload;
    record.folder = folder;
    record.strings.clear();
    Launch(nullptr, 0);
    EXPECT_EQ(record.locks, std::vector<std::u16string>{u"VORNIX.launcher"});
    ASSERT_EQ(record.started.size(), 1u);
    EXPECT_EQ(record.started[0], record.temp + u"\\VORNIX\\zandro.exe");
    EXPECT_EQ(record.filesAtStart, kPayloadFiles);
    EXPECT_EQ(Files(other), otherFiles);
    EXPECT_FALSE(fs::exists(temp / "VORNIX.old-1"));
    EXPECT_FALSE(fs::exists(temp / "VORNIX.old-7"));
}

TEST_F(FaultLaunch, TheBoxCarriesTheTextAndCaptionOfTheStringTable) {
    Lay(false);
    record.strings = {{LAUNCHER_STRING_TEXT_UNPACK_FAILED, u"Could not unpack.\r\nTry again."},
                      {LAUNCHER_STRING_CAPTION, u"Other App"}};
    record.payload.clear();
    Launch(nullptr, 0);
    EXPECT_EQ(record.boxes, std::vector<std::u16string>{u"Could not unpack.\r\nTry again."});
    EXPECT_EQ(record.captions, std::vector<std::u16string>{u"Other App"});
}

// A ";" in the temporary directory's path (":" on Linux) would put entries of the user's choosing
// in front of the search path: nothing is made there, nothing started.
TEST_F(FaultLaunch, ASearchPathSeparatorInTheTemporaryDirectoryStartsNothing) {
    Lay(false);
    const fs::path split = temp / (u"a" + std::u16string(kSearchPathSeparator) + u"b");
    fs::create_directories(split);
    record.temp = split.u16string() + u'\\';
    Launch(nullptr, 0);
    EXPECT_TRUE(record.started.empty());
    EXPECT_EQ(record.boxes, std::vector<std::u16string>{u"释放文件失败或文件被占用！"});
    EXPECT_TRUE(fs::is_empty(split));
}

namespace {

// Whether another launcher could take the lock while the folders moved aside were removed.
bool lockFreeDuringRemoval = false;
PlatformHandle OpenSubFolderTryingTheLock(PlatformHandle folder, const char16_t* name, bool hold) {
    if (std::u16string(name).rfind(u"VORNIX.old-", 0) == 0) {
        std::thread([] {
            bool waited = false;
            const PlatformHandle other = PlatformAcquireLock(u"VORNIX.launcher", 0, &waited);
            lockFreeDuringRemoval = other != kInvalidPlatformHandle;
            if (other != kInvalidPlatformHandle) PlatformReleaseLock(other);
        }).join();
    }
    return kSystemCalls.PlatformOpenSubFolder(folder, name, hold);
}

}  // namespace

// The removal of what earlier runs moved aside may take a while: the next launcher need not wait.
TEST_F(FaultLaunch, TheLockIsFreeBeforeTheFoldersMovedAsideAreRemoved) {
    Lay(true);
    lockFreeDuringRemoval = false;
    Launch(nullptr, 0,
           [] { ActivePlatformCalls.PlatformOpenSubFolder = OpenSubFolderTryingTheLock; });
    ASSERT_EQ(record.started.size(), 1u);
    EXPECT_FALSE(fs::exists(temp / "VORNIX.old-1"));
    EXPECT_TRUE(lockFreeDuringRemoval);
}
