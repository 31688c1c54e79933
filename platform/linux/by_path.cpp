// Files and folders by path: the extraction of an entry to a path, and the packing tool's walk.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_time.h"
#include "platform/linux/internal.h"
#include "platform/system_calls.h"
#include "platform/utf8.h"
#include "platform/windows_emulation.h"

namespace {

timespec ToTimespec(const FileTime* time) {
    timespec out{};
    out.tv_sec = static_cast<time_t>(UnixSecondsOf(*time));
    out.tv_nsec = static_cast<long>(UnixNanosecondsOf(*time));
    return out;
}

// Opens an existing file for writing the way CREATE_ALWAYS replaces one: a file without write
// permission is refused (even for root, whom open() would let through), a regular file is
// emptied, and a FIFO without a reader fails at once instead of waiting for one. `noFollow`: a
// link is refused rather than followed.
int OpenExisting(int dir, const char* leaf, bool readOnly, bool noFollow) {
    struct stat info {};
    if (fstatat(dir, leaf, &info, noFollow ? AT_SYMLINK_NOFOLLOW : 0) != 0) return -1;
    if ((ModeAttributes(info.st_mode) & kAttributeReadOnly) != 0 || S_ISLNK(info.st_mode)) {
        errno = EACCES;
        return -1;
    }
    const int fd = openat(dir, leaf,
                          O_WRONLY | O_NONBLOCK | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0) |
                              (S_ISREG(info.st_mode) ? O_TRUNC : 0));
    if (fd < 0) return -1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (readOnly && S_ISREG(info.st_mode)) fchmod(fd, ModeWithReadOnly(info.st_mode, true));
    return fd;
}

FileTime FileTimeFromTimespec(const timespec& time) {
    return UnixTimeToFileTime(static_cast<int64_t>(time.tv_sec), time.tv_nsec);
}

bool DescribeEntry(const std::string& full, PlatformListedEntry* entry) {
    struct stat own {};
    if (lstat(full.c_str(), &own) != 0) return false;
    struct stat facts = own;
    uint32_t attributes = 0;
    if (S_ISLNK(own.st_mode)) {
        attributes |= kAttributeReparsePoint;
        if (stat(full.c_str(), &facts) != 0) facts = own;  // leads nowhere
    }
    // A link that leads nowhere shows no more than that it is one.
    if (!S_ISLNK(facts.st_mode)) attributes |= ModeAttributes(facts.st_mode);
    entry->attributes = NormalWhenNone(attributes);
    entry->size = S_ISREG(facts.st_mode) ? static_cast<uint64_t>(facts.st_size) : 0;
    entry->accessTime = FileTimeFromTimespec(facts.st_atim);
    entry->writeTime = FileTimeFromTimespec(facts.st_mtim);
    entry->creationTime = entry->writeTime;
    entry->hasCreationTime = false;
    return true;
}

}  // namespace

PlatformHandle CreateAt(int dir, const char* leaf, uint32_t attributes, bool noFollow) {
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    // Creation mode only: the new descriptor may write even when the file is read-only.
    const mode_t mode = readOnly ? 0444 : 0666;
    int fd = openat(dir, leaf, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) fd = OpenExisting(dir, leaf, readOnly, noFollow);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

uint32_t AttributesOf(int dir, const char* name, const struct stat& info) {
    if (!S_ISLNK(info.st_mode)) return NormalWhenNone(ModeAttributes(info.st_mode));
    struct stat target {};
    const bool toFolder = fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    return kAttributeReparsePoint | (toFolder ? kAttributeDirectory : 0);
}

PlatformHandle SystemCreateFile(const char16_t* path, uint32_t attributes) {
    return CreateAt(AT_FDCWD, NativePath(path).c_str(), attributes, false);
}

bool SystemWriteFile(PlatformHandle file, const void* data, uint32_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(FileDescriptor(file), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<uint32_t>(n);
    }
    return true;
}

bool SystemIsDiskFile(PlatformHandle file) {
    struct stat info {};
    return fstat(FileDescriptor(file), &info) == 0 && S_ISREG(info.st_mode);
}

bool SystemSetFileTimes(PlatformHandle file, const FileTime*, const FileTime* access,
                        const FileTime* write) {
    const timespec times[2] = {ToTimespec(access), ToTimespec(write)};
    return futimens(FileDescriptor(file), times) == 0;
}

void SystemCloseFile(PlatformHandle file) { close(FileDescriptor(file)); }

bool SystemCreateDirectory(const char16_t* path) {
    return mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool SystemDeleteFile(const char16_t* path) {
    // Never a folder, as DeleteFileW removes none.
    return unlink(NativePath(path).c_str()) == 0;
}

uint32_t SystemGetFileAttributes(const char16_t* path) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0) return kInvalidAttributes;
    return AttributesOf(AT_FDCWD, native.c_str(), info);
}

bool SystemSetFileAttributes(const char16_t* path, uint32_t attributes) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0) return false;
    // A link carries no permissions of its own; the attributes it could take have no meaning.
    if (S_ISLNK(info.st_mode)) return true;
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    return chmod(native.c_str(), ModeWithReadOnly(info.st_mode, readOnly)) == 0;
}

bool SystemListFolder(const char16_t* folder, ListedEntryVisitor visit, void* context) {
    std::string path = NativePath(folder);
    DIR* listing = opendir(path.c_str());
    if (listing == nullptr) return false;
    if (path.empty() || path.back() != '/') path += '/';
    bool listed = true;
    errno = 0;
    while (dirent* found = readdir(listing)) {
        const std::string name = found->d_name;
        if (name == "." || name == "..") continue;
        PlatformListedEntry entry{};
        const std::u16string wide = Utf8ToUtf16(name.c_str());
        if (Utf16ToUtf8(wide.c_str()) != name || wide.size() >= 260) {
            errno = EILSEQ;
            listed = false;
            break;
        }
        std::memcpy(entry.name, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
        if (!DescribeEntry(path + name, &entry)) {
            listed = false;
            break;
        }
        if (!visit(entry, context)) break;
        errno = 0;
    }
    if (listed && errno != 0) listed = false;  // readdir failed
    KeepingErrno([&] { closedir(listing); });
    return listed;
}

bool SystemSameFile(const char16_t* a, const char16_t* b) {
    struct stat first {};
    struct stat second {};
    return stat(NativePath(a).c_str(), &first) == 0 && stat(NativePath(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SystemReplaceFile(const char16_t* from, const char16_t* to) {
    return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}
