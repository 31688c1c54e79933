// POSIX implementation of the platform seam. Paths arrive as UTF-16 and are handed to the system
// as UTF-8, with "\" taken as "/".
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_time.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/windows_emulation.h"

namespace {

// A path for the system: UTF-8, with "\" taken as "/".
std::string NativePath(const char16_t* path) { return Utf16ToUtf8(path, true); }

// UTF-8 to UTF-16 into `out` of `outUnits` units, terminated. Returns the units written without
// the terminator, or the units needed including the terminator when they do not fit (the
// convention of the Win32 "get" calls).
uint32_t FromUtf8(const char* text, char16_t* out, uint32_t outUnits) {
    const std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() + 1 > outUnits) return static_cast<uint32_t>(wide.size() + 1);
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

// $TMPDIR, else /tmp, followed by "/".
std::string TempFolder() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string folder =
        fromEnvironment != nullptr && *fromEnvironment != 0 ? fromEnvironment : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

// ---- Archive reader ------------------------------------------------------------------------

uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer) {
    std::vector<char> path(256);
    while (getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE) return 0;
        path.resize(path.size() * 2);
    }
    return FromUtf8(path.data(), buffer, bufferUnits);
}

int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits) {
    return Windows1252ToWide(text, out, outUnits);
}

bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    return DosDateTimeToFileTimeUtc(dosDate, dosTime, out);
}

// ---- Files and folders by path ------------------------------------------------------------

namespace {

constexpr mode_t kExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

int FileDescriptor(PlatformHandle file) { return static_cast<int>(file); }

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

PlatformHandle CreateAt(int dir, const char* leaf, uint32_t attributes, bool noFollow) {
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    // Creation mode only: the new descriptor may write even when the file is read-only.
    const mode_t mode = readOnly ? 0444 : 0666;
    int fd = openat(dir, leaf, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) fd = OpenExisting(dir, leaf, readOnly, noFollow);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

// The attribute bits of the entry `name` in the folder `dir`, whose own status is `info`.
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

// ---- Folders held open ---------------------------------------------------------------------

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

struct FolderSearch {
    DIR* folder;
    std::string prefix;
};

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

// ---- One launcher at a time ----------------------------------------------------------------

constexpr int kLockPollMs = 10;

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

PlatformHandle SystemAcquireLock(const char16_t* name, uint32_t waitMs, bool* waited) {
    const std::string path = TempFolder() + Utf16ToUtf8(name) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return kInvalidPlatformHandle;
    *waited = false;
    const int64_t deadline = MonotonicMs() + waitMs;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || MonotonicMs() >= deadline) {
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

// ---- Launcher ------------------------------------------------------------------------------

}  // namespace

extern "C" {
__attribute__((weak)) const unsigned char* LauncherPayloadData = nullptr;
__attribute__((weak)) uint32_t LauncherPayloadSize = 0;
}

namespace {

// The error number of the last failed spawn, for PlatformGetLastError.
uint32_t lastSpawnError = 0;

PlatformWindow SystemFindWindow(const char16_t*, const char16_t*) { return 0; }

void SystemSetForegroundWindow(PlatformWindow) {}

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

bool SystemCreateProcess(const char16_t* application, char16_t* commandLine,
                         PlatformHandle* process, PlatformHandle* thread) {
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

// Opens a regular file of at most `maxBytes` bytes for reading; -1 with errno set otherwise.
int OpenRegularToRead(const char16_t* path, uint64_t maxBytes, uint64_t* size) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd = open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    int failure = 0;
    if (fstat(fd, &info) != 0) {
        failure = errno;
    } else if (!S_ISREG(info.st_mode)) {
        failure = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        failure = EFBIG;
    }
    if (failure != 0) {
        close(fd);
        errno = failure;
        return -1;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return fd;
}

PlatformHandle SystemOpenFileToRead(const char16_t* path, uint64_t maxBytes) {
    uint64_t size = 0;
    const int fd = OpenRegularToRead(path, maxBytes, &size);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

bool SystemReadFile(PlatformHandle file, void* buffer, uint32_t size, uint32_t* got) {
    for (;;) {
        const ssize_t n = read(FileDescriptor(file), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        *got = static_cast<uint32_t>(n);
        return true;
    }
}

bool SystemSeekFile(PlatformHandle file, uint64_t offset) {
    return lseek(FileDescriptor(file), static_cast<off_t>(offset), SEEK_SET) ==
           static_cast<off_t>(offset);
}

bool SystemSetFileSize(PlatformHandle file, uint64_t size) {
    return ftruncate(FileDescriptor(file), static_cast<off_t>(size)) == 0;
}

bool SystemMapFile(const char16_t* path, uint64_t maxBytes, const uint8_t** view, uint64_t* size) {
    *view = nullptr;
    *size = 0;
    uint64_t length = 0;
    const int fd = OpenRegularToRead(path, maxBytes, &length);
    if (fd < 0) return false;
    void* mapped = nullptr;
    if (length != 0) {
        mapped = mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE, fd, 0);
    }
    const int failure = mapped == MAP_FAILED ? errno : 0;
    close(fd);  // the mapping keeps the file
    if (failure != 0) {
        errno = failure;
        return false;
    }
    *view = static_cast<const uint8_t*>(mapped);
    *size = length;
    return true;
}

void SystemUnmapFile(const uint8_t* view, uint64_t size) {
    if (view != nullptr) munmap(const_cast<uint8_t*>(view), static_cast<size_t>(size));
}

constexpr PlatformCalls kSystemTable = {
#define PLATFORM_CALL(Result, Name, Parameters) System##Name,
#include "platform/call_list.inc"
#undef PLATFORM_CALL
};

}  // namespace

const PlatformCalls kSystemCalls = kSystemTable;
PlatformCalls ActivePlatformCalls = kSystemTable;

uint32_t PlatformGetLastError() { return lastSpawnError; }

// ---- Packing tool --------------------------------------------------------------------------

namespace {

FileTime FileTimeFromTimespec(const timespec& time) {
    return UnixTimeToFileTime(static_cast<int64_t>(time.tv_sec), time.tv_nsec);
}

// Runs `step` and keeps the errno of an earlier failure across it.
template <typename Step>
void KeepingErrno(Step step) {
    const int saved = errno;
    step();
    errno = saved;
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

bool PlatformListFolder(const char16_t* folder, ListedEntryVisitor visit, void* context) {
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

bool PlatformReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* bytes) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd = open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool readOk = fstat(fd, &info) == 0;
    if (readOk && !S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        readOk = false;
    }
    if (readOk && static_cast<uint64_t>(info.st_size) > maxBytes) {
        errno = EFBIG;
        readOk = false;
    }
    bytes->clear();
    if (readOk) bytes->reserve(static_cast<size_t>(info.st_size));
    uint8_t block[65536];
    while (readOk) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readOk = false;
        if (n <= 0) break;
        if (bytes->size() + static_cast<size_t>(n) > maxBytes) {  // grew while being read
            errno = EFBIG;
            readOk = false;
            break;
        }
        bytes->insert(bytes->end(), block, block + n);
    }
    KeepingErrno([&] { close(fd); });
    return readOk;
}

bool PlatformSameFile(const char16_t* a, const char16_t* b) {
    struct stat first {};
    struct stat second {};
    return stat(NativePath(a).c_str(), &first) == 0 && stat(NativePath(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

PlatformHandle PlatformCreateFileBeside(const char16_t* path, std::u16string* created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::u16string candidate = path;
        candidate += u".part";
        if (attempt > 0) {
            for (char digit : std::to_string(attempt)) candidate += static_cast<char16_t>(digit);
        }
        // A program: executable as far as the umask allows, as a linker makes it.
        const int fd = open(NativePath(candidate.c_str()).c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
        if (fd >= 0) {
            *created = candidate;
            return static_cast<PlatformHandle>(fd);
        }
        if (errno != EEXIST) break;
    }
    return kInvalidPlatformHandle;
}

bool PlatformFinishFile(PlatformHandle file) {
    const bool synced = fsync(FileDescriptor(file)) == 0;
    bool closed = false;
    KeepingErrno([&] { closed = close(FileDescriptor(file)) == 0; });
    return synced && closed;
}

bool PlatformReplaceFile(const char16_t* from, const char16_t* to) {
    return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

std::u16string PlatformLastErrorText() { return Utf8ToUtf16(std::strerror(errno)); }

void PlatformWriteStream(bool toError, const char16_t* text) {
    const std::string bytes = Utf16ToUtf8(text);
    const int fd = toError ? STDERR_FILENO : STDOUT_FILENO;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}
