// The launcher's own calls: its lock, windows and boxes, its temporary directory, resources and
// environment, and the start of the child.
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux/internal.h"
#include "platform/system_calls.h"
#include "platform/utf8.h"
#include "platform/windows_emulation.h"

namespace {

constexpr int kLockPollMs = 10;

}  // namespace

PlatformHandle SystemAcquireLock(const char16_t* name, uint32_t waitMs, bool* waited) {
    const std::string path = TempFolder() + Utf16ToUtf8(name) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return kInvalidPlatformHandle;
    *waited = false;
    const uint64_t deadline = SystemMilliseconds() + waitMs;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || SystemMilliseconds() >= deadline) {
            close(fd);
            return kInvalidPlatformHandle;
        }
        *waited = true;
        usleep(kLockPollMs * 1000);
    }
    return static_cast<PlatformHandle>(fd);
}

void SystemReleaseLock(PlatformHandle lock) {
    flock(FileDescriptor(lock), LOCK_UN);
    close(FileDescriptor(lock));
}

Elevation SystemTokenElevation() { return Elevation::None; }

uint64_t SystemMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

extern "C" {
__attribute__((weak)) const unsigned char* LauncherPayloadData = nullptr;
__attribute__((weak)) uint32_t LauncherPayloadSize = 0;
}

namespace {

// The error number of the last failed spawn, for PlatformGetLastError.
uint32_t lastSpawnError = 0;

}  // namespace

PlatformWindow SystemFindWindow(const char16_t*, const char16_t*) { return 0; }

void SystemSetForegroundWindow(PlatformWindow) {}

PlatformWindow SystemOpenProgressWindow(const char16_t*) { return 0; }

void SystemShowProgress(PlatformWindow, uint32_t) {}

void SystemCloseProgressWindow(PlatformWindow) {}

void SystemMessageBox(const char16_t* text, const char16_t* caption, uint32_t) {
    std::fprintf(stderr, "%s: %s\n", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str());
}

int SystemFormatInteger(char16_t* buffer, const char16_t* format, int32_t value) {
    return FormatOneInteger(buffer, format, value);
}

uint32_t SystemGetTempPath(uint32_t bufferUnits, char16_t* buffer) {
    return FromUtf8(TempFolder().c_str(), buffer, bufferUnits);
}

bool SystemFindResource(uint16_t, const char16_t*, const void** data, uint32_t* size) {
    if (LauncherPayloadData == nullptr || LauncherPayloadSize == 0) return false;
    *data = LauncherPayloadData;
    *size = LauncherPayloadSize;
    return true;
}

bool SystemLoadString(uint16_t, std::u16string*) { return false; }

int SystemCompareText(const char16_t* a, const char16_t* b) { return CompareUnits(a, b); }

// Unit by unit, as the file system compares names.
int SystemCompareFileNames(const char16_t* a, const char16_t* b) { return CompareUnits(a, b); }

void SystemLimitLibrarySearch() {}

uint32_t SystemGetEnvironmentVariable(const char16_t* name, char16_t* buffer,
                                      uint32_t bufferUnits) {
    const char* value = std::getenv(Utf16ToUtf8(name).c_str());
    if (value == nullptr) return 0;
    return FromUtf8(value, buffer, bufferUnits);
}

bool SystemSetEnvironmentVariable(const char16_t* name, const char16_t* value) {
    return setenv(Utf16ToUtf8(name).c_str(), NativePath(value).c_str(), 1) == 0;
}

std::u16string SystemGetCommandLine() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string line;
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        if (start != 0) line += ' ';
        line += QuotedArgument(all.substr(start, end - start));
        start = end + 1;
    }
    return Utf8ToUtf16(line.c_str());
}

bool SystemCreateProcess(const char16_t* application, char16_t* commandLine,
                         const char16_t* directory, PlatformHandle, PlatformHandle* process,
                         PlatformHandle* thread) {
    const std::string path = NativePath(application);
    // Files unpacked here carry Windows attributes and so no execute permission.
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const mode_t runnable = RunnableMode(info.st_mode);
        if (runnable != (info.st_mode & 07777)) chmod(path.c_str(), runnable);
    }
    std::vector<std::string> arguments = ArgumentsAfterProgram(application, commandLine);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    // Like a child created without handle inheritance, it gets only the three standard streams.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    const std::string workingFolder = directory != nullptr ? NativePath(directory) : std::string();
    if (directory != nullptr) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    pid_t child = 0;
    int error = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        lastSpawnError = static_cast<uint32_t>(error);
        return false;
    }
    *process = static_cast<PlatformHandle>(child);
    *thread = 0;
    return true;
}

void SystemCloseProcessHandle(PlatformHandle) {}

uint32_t PlatformGetLastError() { return lastSpawnError; }
