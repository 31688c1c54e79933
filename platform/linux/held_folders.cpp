// Folders held open: opening, making, renaming and pinning them, relative to their descriptors.
// Linux: renameat2 and /proc/self/fd.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/internal.h"
#include "platform/system_calls.h"
#include "platform/utf8.h"
#include "platform/windows_emulation.h"

namespace {

constexpr mode_t kFreshFolderMode = 0755;

}  // namespace

bool StepName(const char16_t* name, std::string* native) {
    *native = NativePath(name);
    return !native->empty() && *native != "." && *native != ".." &&
           native->find('/') == std::string::npos;
}

namespace {

// Opens the real folder `name` inside `folder`, never through a link.
PlatformHandle OpenFolderStep(PlatformHandle folder, const std::string& step) {
    const int fd = openat(FileDescriptor(folder), step.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

}  // namespace

PlatformHandle SystemOpenFolder(const char16_t* path) {
    const int fd = open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

// Linux has no share modes: a folder is held the same way whether or not it is to be removed.
PlatformHandle SystemOpenSubFolder(PlatformHandle folder, const char16_t* name, bool) {
    std::string step;
    if (!StepName(name, &step)) return kInvalidPlatformHandle;
    return OpenFolderStep(folder, step);
}

PlatformHandle SystemMakeSubFolder(PlatformHandle folder, const char16_t* name) {
    std::string step;
    if (!StepName(name, &step)) return kInvalidPlatformHandle;
    if (mkdirat(FileDescriptor(folder), step.c_str(), 0777) != 0 && errno != EEXIST) {
        return kInvalidPlatformHandle;
    }
    return OpenFolderStep(folder, step);
}

PlatformHandle SystemCreateFreshFolder(PlatformHandle folder, const char16_t* name) {
    std::string step;
    if (!StepName(name, &step) || mkdirat(FileDescriptor(folder), step.c_str(), 0700) != 0) {
        return kInvalidPlatformHandle;
    }
    const PlatformHandle fresh = OpenFolderStep(folder, step);
    // Made by this process, so owned by its user; readable by others only once it holds the mode
    // chosen here, whatever the umask.
    if (fresh != kInvalidPlatformHandle && fchmod(FileDescriptor(fresh), kFreshFolderMode) != 0) {
        close(FileDescriptor(fresh));
        return kInvalidPlatformHandle;
    }
    return fresh;
}

// Nobody to act for: a Linux launcher is never elevated over a user of its own.
bool SystemRenameFolder(PlatformHandle moved, PlatformHandle folder, const char16_t* name,
                        const char16_t* newName, ActingFor) {
    std::string from;
    std::string to;
    if (!StepName(name, &from) || !StepName(newName, &to)) return false;
    // Linux renames by name: the name must still lead to the held folder.
    struct stat held {};
    struct stat named {};
    if (fstat(FileDescriptor(moved), &held) != 0 ||
        fstatat(FileDescriptor(folder), from.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        return false;
    }
    return renameat2(FileDescriptor(folder), from.c_str(), FileDescriptor(folder), to.c_str(),
                     RENAME_NOREPLACE) == 0;
}

bool SystemFinalPath(PlatformHandle folder, std::u16string* path) {
    const std::string link = "/proc/self/fd/" + std::to_string(FileDescriptor(folder));
    std::vector<char> target(4096);
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return false;
    target[static_cast<size_t>(length)] = 0;
    *path = Utf8ToUtf16(target.data());
    return true;
}

void SystemReleaseFolder(PlatformHandle folder) { close(FileDescriptor(folder)); }

PlatformHandle SystemPinFolder(PlatformHandle folder) {
    const int fd = fcntl(FileDescriptor(folder), F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

bool SystemMadeByLauncher(PlatformHandle) { return false; }

bool SystemUserMayAddFolder(PlatformHandle) { return true; }

bool SystemVolumeKeepsAccessLists(PlatformHandle) { return true; }
