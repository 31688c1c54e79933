// What the launcher does with the entries of a held folder: creating, opening, listing and
// removing them, relative to the folder's descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/internal.h"
#include "platform/system_calls.h"

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

Removal SystemRemoveEntry(PlatformHandle folder, const char16_t* name, ActingFor) {
    std::string step;
    if (!StepName(name, &step)) return Removal::Failed;
    const int dir = FileDescriptor(folder);
    struct stat info {};
    if (fstatat(dir, step.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Removal::Done : Removal::Failed;
    }
    if (S_ISREG(info.st_mode) && (info.st_mode & kExecuteBits) != 0) {
        const int file = openat(dir, step.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool running = file >= 0 && RunningProgram(file, info.st_mode);
        if (file >= 0) close(file);
        if (running) return Removal::Running;
    }
    // A link is removed itself: unlinkat never follows one.
    const int flags = S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0;
    return unlinkat(dir, step.c_str(), flags) == 0 || errno == ENOENT ? Removal::Done
                                                                      : Removal::Failed;
}
