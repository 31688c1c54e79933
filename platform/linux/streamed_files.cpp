// Files read and written in pieces: the packing tool's input and output.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/linux/internal.h"
#include "platform/system_calls.h"

namespace {

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

}  // namespace

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

bool SystemFileSize(PlatformHandle file, uint64_t* size) {
    struct stat info {};
    if (fstat(FileDescriptor(file), &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

namespace {

// Creates `path` new and takes the writer's lock on it; -1 with errno set otherwise.
int CreateLocked(const std::string& path) {
    // A program: executable as far as the umask allows, as a linker makes it.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        KeepingErrno([&] {
            close(fd);
            unlink(path.c_str());
        });
        return -1;
    }
    return fd;
}

// Whether another process holds the writer's lock on the file at `path`.
bool BeingWritten(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);  // and with it the lock, when it was had
    return held;
}

}  // namespace

PlatformHandle SystemCreateFileBeside(const char16_t* path, std::u16string* created, bool* inUse) {
    *created = path;
    *created += u".part";
    *inUse = false;
    const std::string native = NativePath(created->c_str());
    int fd = CreateLocked(native);
    if (fd < 0 && errno == EEXIST) {
        if (BeingWritten(native)) {
            *inUse = true;
            errno = EBUSY;
            return kInvalidPlatformHandle;
        }
        // Left by a process that ended without removing it: replaced (a link itself, never what
        // it leads to).
        if (unlink(native.c_str()) == 0 || errno == ENOENT) fd = CreateLocked(native);
    }
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

bool SystemFinishFile(PlatformHandle file) {
    const bool synced = fsync(FileDescriptor(file)) == 0;
    bool closed = false;
    KeepingErrno([&] { closed = close(FileDescriptor(file)) == 0; });
    return synced && closed;
}

void SystemNoteFileTooLarge() { errno = EFBIG; }
