// POSIX implementation of the platform seam. Paths arrive as UTF-16 and are handed to the system
// as UTF-8, with "\" taken as "/".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// UTF-16 to UTF-8; "\" becomes "/" when `isPath`. Unpaired surrogates become U+FFFD.
std::string ToUtf8(const char16_t* text, bool isPath) {
    std::string out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (isPath && c == '\\') c = '/';
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

[[maybe_unused]] std::string NativePath(const char16_t* path) { return ToUtf8(path, true); }

// UTF-8 to UTF-16 into `out` of `outUnits` units, terminated. Returns the units written without
// the terminator, or the units needed including the terminator when they do not fit (the
// convention of the Win32 "get" calls). Malformed bytes become U+FFFD.
[[maybe_unused]] uint32_t FromUtf8(const char* text, char16_t* out, uint32_t outUnits) {
    std::u16string wide;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; s[i] != 0;) {
        uint32_t c = s[i];
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0) {
            wide += u'\uFFFD';
            ++i;
            continue;
        }
        c &= extra == 0 ? 0x7F : (0x3F >> extra);
        int k = 1;
        for (; k <= extra && (s[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (s[i + k] & 0x3F);
        i += static_cast<size_t>(k);
        if (k <= extra || c > 0x10FFFF) {
            wide += u'\uFFFD';
        } else if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
    }
    if (wide.size() + 1 > outUnits) return static_cast<uint32_t>(wide.size() + 1);
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

}  // namespace

// ---- Archive reader ------------------------------------------------------------------------

namespace {

bool IsLeapYear(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
    static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date of the proleptic Gregorian calendar.
uint64_t DaysSince1601(uint32_t year, uint32_t month, uint32_t day) {
    const uint64_t y = year - 1601;
    uint64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (uint32_t m = 1; m < month; ++m) days += DaysInMonth(year, m);
    return days + day - 1;
}

// The calendar time read as UTC, with the range checks of the Windows time conversions.
bool CalendarToFileTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                        uint32_t second, uint32_t millisecond, FileTime* out) {
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
        millisecond > 999) {
        return false;
    }
    const uint64_t seconds =
        DaysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    const uint64_t ticks = (seconds * 1000 + millisecond) * 10000;
    out->low = static_cast<uint32_t>(ticks);
    out->high = static_cast<uint32_t>(ticks >> 32);
    return true;
}

// Windows-1252 for 0x80-0x9F; the five bytes it leaves undefined map to the same code points,
// as Windows and Wine map them. Every other byte is its own code point.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer) {
    std::vector<char> path(256);
    while (getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE) return 0;
        path.resize(path.size() * 2);
    }
    return FromUtf8(path.data(), buffer, bufferUnits);
}

int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t needed = std::strlen(text) + 1;
    if (outUnits == 0) return static_cast<int>(needed);  // the size query of the Win32 call
    // As the Win32 call does, a text that does not fit fills the buffer and fails.
    for (size_t i = 0; i < needed && i < static_cast<size_t>(outUnits); ++i) {
        const unsigned char c = bytes[i];
        out[i] = c >= 0x80 && c <= 0x9F ? kWindows1252High[c - 0x80] : c;
    }
    return needed <= static_cast<size_t>(outUnits) ? static_cast<int>(needed) : 0;
}

bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    return CalendarToFileTime(1980 + (dosDate >> 9), (dosDate >> 5) & 0x0F, dosDate & 0x1F,
                              dosTime >> 11, (dosTime >> 5) & 0x3F, (dosTime & 0x1F) * 2, 0, out);
}

bool PlatformSystemTimeToFileTime(const CalendarTime* time, FileTime* out) {
    return CalendarToFileTime(time->year, time->month, time->day, time->hour, time->minute,
                              time->second, time->millisecond, out);
}

// ---- Extraction to disk --------------------------------------------------------------------

namespace {

WriteFileProbe writeProbe = nullptr;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int FileDescriptor(PlatformHandle file) { return static_cast<int>(file); }

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

timespec ToTimespec(const FileTime* time) {
    const int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(time->high) << 32) | time->low) -
        kUnixEpochAsFileTime;
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    timespec out{};
    out.tv_sec = static_cast<time_t>(seconds);
    out.tv_nsec = static_cast<long>(rest * 100);
    return out;
}

// Opens an existing file for writing the way CREATE_ALWAYS replaces one: a file without write
// permission is refused (even for root, whom open() would let through), a regular file is
// emptied, and a FIFO without a reader fails at once instead of waiting for one.
int OpenExisting(const std::string& native, bool readOnly) {
    struct stat info {};
    if (stat(native.c_str(), &info) != 0) return -1;
    if ((info.st_mode & kWriteBits) == 0) {
        errno = EACCES;
        return -1;
    }
    const int fd = open(native.c_str(),
                        O_WRONLY | O_NONBLOCK | O_CLOEXEC | (S_ISREG(info.st_mode) ? O_TRUNC : 0));
    if (fd < 0) return -1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (readOnly && S_ISREG(info.st_mode)) fchmod(fd, info.st_mode & ~kWriteBits & 07777);
    return fd;
}

}  // namespace

void PlatformSetWriteProbe(WriteFileProbe probe) { writeProbe = probe; }

PlatformHandle PlatformCreateFile(const char16_t* path, uint32_t attributes) {
    const std::string native = NativePath(path);
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    // Creation mode only: the new descriptor may write even when the file is read-only.
    const mode_t mode = readOnly ? 0444 : 0666;
    int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) fd = OpenExisting(native, readOnly);
    return fd < 0 ? kInvalidPlatformHandle : static_cast<PlatformHandle>(fd);
}

bool PlatformWriteFile(PlatformHandle file, const void* data, uint32_t size) {
    if (writeProbe != nullptr && !writeProbe(size)) return false;
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

bool PlatformIsDiskFile(PlatformHandle file) {
    struct stat info {};
    return fstat(FileDescriptor(file), &info) == 0 && S_ISREG(info.st_mode);
}

bool PlatformSetFileTimes(PlatformHandle file, const FileTime*, const FileTime* access,
                          const FileTime* write) {
    const timespec times[2] = {ToTimespec(access), ToTimespec(write)};
    return futimens(FileDescriptor(file), times) == 0;
}

void PlatformCloseFile(PlatformHandle file) { close(FileDescriptor(file)); }

bool PlatformCreateDirectory(const char16_t* path) {
    return mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool PlatformDeleteFile(const char16_t* path) {
    const std::string native = NativePath(path);
    struct stat info {};
    // DeleteFileW removes no folder.
    if (lstat(native.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    return unlink(native.c_str()) == 0;
}

uint32_t PlatformGetFileAttributes(const char16_t* path) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0) return kInvalidAttributes;
    uint32_t attributes = 0;
    if (S_ISLNK(info.st_mode)) {
        attributes |= kAttributeReparsePoint;
        struct stat target {};
        if (stat(native.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
            attributes |= kAttributeDirectory;
        }
    } else {
        if (S_ISDIR(info.st_mode)) attributes |= kAttributeDirectory;
        if ((info.st_mode & kWriteBits) == 0) attributes |= kAttributeReadOnly;
    }
    return attributes == 0 ? kAttributeNormal : attributes;
}

bool PlatformSetFileAttributes(const char16_t* path, uint32_t attributes) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0) return false;
    // A link carries no permissions of its own; the attributes it could take have no meaning.
    if (S_ISLNK(info.st_mode)) return true;
    mode_t mode = info.st_mode & 07777;
    if ((attributes & kAttributeReadOnly) != 0) {
        mode &= ~kWriteBits;
    } else if ((mode & kWriteBits) == 0) {
        mode |= S_IWUSR;
    }
    return chmod(native.c_str(), mode) == 0;
}

// ---- Launcher ------------------------------------------------------------------------------
