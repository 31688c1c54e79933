// Folders held open, and everything the launcher does inside them, relative to their descriptors.
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

// A name of one step, for the system: false for an empty one, "." and "..", and one that holds a
// separator.
bool StepName(const char16_t* name, std::string* native) {
    *native = NativePath(name);
    return !native->empty() && *native != "." && *native != ".." &&
           native->find('/') == std::string::npos;
}

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

PlatformHandle SystemOpenSubFolder(PlatformHandle folder, const char16_t* name) {
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

bool SystemRenameFolder(PlatformHandle moved, PlatformHandle folder, const char16_t* name,
                        const char16_t* newName) {
    std::string from;
    std::string to;
    if (!StepName(name, &from) || !StepName(newName, &to)) return false;
    // POSIX renames by name: the name must still lead to the held folder.
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

PlatformHandle SystemCreateFileIn(PlatformHandle folder, const char16_t* name,
                                  uint32_t attributes) {
    std::string step;
    if (!StepName(name, &step)) return kInvalidPlatformHandle;
    return CreateAt(FileDescriptor(folder), step.c_str(), attributes, true);
}

PlatformHandle SystemOpenFileIn(PlatformHandle folder, const char16_t* name) {
    std::string step;
    if (!StepName(name, &step)) return kInvalidPlatformHandle;
    // Non-blocking, so that a FIFO does not wait for a writer; only a regular file is taken.
    const int fd = openat(FileDescriptor(folder), step.c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        return kInvalidPlatformHandle;
    }
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

bool SystemFileIdentity(PlatformHandle file, FileIdentity* identity) {
    struct stat info {};
    if (fstat(FileDescriptor(file), &info) != 0) return false;
    identity->index = static_cast<uint64_t>(info.st_ino);
    identity->links = static_cast<uint32_t>(info.st_nlink);
    return true;
}

namespace {

struct FolderSearch {
    DIR* folder;
    std::string prefix;
};

}  // namespace

PlatformHandle SystemOpenSearch(PlatformHandle folder, const char16_t* prefix) {
    // A descriptor of its own, so that the held one keeps its position and stays open.
    const int fd = openat(FileDescriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return kInvalidPlatformHandle;
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        close(fd);
        return kInvalidPlatformHandle;
    }
    return reinterpret_cast<PlatformHandle>(
        new FolderSearch{listing, prefix != nullptr ? NativePath(prefix) : std::string()});
}

int SystemNextEntry(PlatformHandle handle, PlatformFoundEntry* found) {
    auto* search = reinterpret_cast<FolderSearch*>(handle);
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(search->folder);
        if (entry == nullptr) return errno == 0 ? 0 : -1;
        if (std::strncmp(entry->d_name, search->prefix.c_str(), search->prefix.size()) != 0) {
            continue;
        }
        constexpr uint32_t kUnits = sizeof(found->name) / sizeof(char16_t);
        // A name that does not fit cannot happen with 255-byte names; never hand out a cut one.
        if (FromUtf8(entry->d_name, found->name, kUnits) >= kUnits) return -1;
        found->index = static_cast<uint64_t>(entry->d_ino);
        // The listing's own type saves a call per entry; only a link (whose target decides the
        // directory bit) or an entry of unknown type is looked at.
        if (entry->d_type == DT_DIR || entry->d_type == DT_REG) {
            found->attributes = entry->d_type == DT_DIR ? kAttributeDirectory : kAttributeNormal;
            return 1;
        }
        struct stat info {};
        const int dir = dirfd(search->folder);
        if (fstatat(dir, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone since it was listed
            return -1;
        }
        found->attributes = AttributesOf(dir, entry->d_name, info) & ~kAttributeReadOnly;
        return 1;
    }
}

void SystemCloseSearch(PlatformHandle handle) {
    auto* search = reinterpret_cast<FolderSearch*>(handle);
    closedir(search->folder);
    delete search;
}

namespace {

// Whether a program runs from the open file: such a file cannot be opened for writing (ETXTBSY),
// as on Windows. A file without write permission is given it for the probe, through the same
// descriptor, and then has it taken back.
bool RunningProgram(int file, mode_t mode) {
    const std::string again = "/proc/self/fd/" + std::to_string(file);
    int probe = open(again.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0 && errno == EACCES && fchmod(file, (mode | S_IWUSR) & 07777) == 0) {
        probe = open(again.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const int saved = errno;
        fchmod(file, mode & 07777);
        errno = saved;
    }
    if (probe >= 0) close(probe);
    return probe < 0 && errno == ETXTBSY;
}

}  // namespace

bool SystemRemoveEntry(PlatformHandle folder, const char16_t* name) {
    std::string step;
    if (!StepName(name, &step)) return false;
    const int dir = FileDescriptor(folder);
    struct stat info {};
    if (fstatat(dir, step.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (S_ISREG(info.st_mode) && (info.st_mode & kExecuteBits) != 0) {
        const int file = openat(dir, step.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool running = file >= 0 && RunningProgram(file, info.st_mode);
        if (file >= 0) close(file);
        if (running) return false;
    }
    // A link is removed itself: unlinkat never follows one.
    const int flags = S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0;
    return unlinkat(dir, step.c_str(), flags) == 0 || errno == ENOENT;
}
