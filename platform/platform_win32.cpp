// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {
[[maybe_unused]] const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
[[maybe_unused]] wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
}  // namespace

// ---- Archive reader ------------------------------------------------------------------------

uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer) {
    return GetCurrentDirectoryW(bufferUnits, Wide(buffer));
}

int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, Wide(out), outUnits);
}

bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    FILETIME converted;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &converted)) return false;
    out->low = converted.dwLowDateTime;
    out->high = converted.dwHighDateTime;
    return true;
}

bool PlatformSystemTimeToFileTime(const CalendarTime* time, FileTime* out) {
    SYSTEMTIME calendar{};
    calendar.wYear = time->year;
    calendar.wMonth = time->month;
    calendar.wDay = time->day;
    calendar.wHour = time->hour;
    calendar.wMinute = time->minute;
    calendar.wSecond = time->second;
    calendar.wMilliseconds = time->millisecond;
    FILETIME converted;
    if (!SystemTimeToFileTime(&calendar, &converted)) return false;
    out->low = converted.dwLowDateTime;
    out->high = converted.dwHighDateTime;
    return true;
}

// ---- Extraction to disk --------------------------------------------------------------------

namespace {

WriteFileProbe writeProbe = nullptr;

HANDLE ToHandle(PlatformHandle file) { return reinterpret_cast<HANDLE>(file); }

FILETIME ToFiletime(const FileTime* time) {
    FILETIME out;
    out.dwLowDateTime = time->low;
    out.dwHighDateTime = time->high;
    return out;
}

}  // namespace

void PlatformSetWriteProbe(WriteFileProbe probe) { writeProbe = probe; }

PlatformHandle PlatformCreateFile(const char16_t* path, uint32_t attributes) {
    const HANDLE file =
        CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle
                                        : reinterpret_cast<PlatformHandle>(file);
}

bool PlatformWriteFile(PlatformHandle file, const void* data, uint32_t size) {
    if (writeProbe != nullptr && !writeProbe(size)) return false;
    DWORD written = 0;
    // A write that takes fewer bytes than it was given would lose data silently.
    return WriteFile(ToHandle(file), data, size, &written, nullptr) != FALSE && written == size;
}

bool PlatformIsDiskFile(PlatformHandle file) {
    return GetFileType(ToHandle(file)) == FILE_TYPE_DISK;
}

bool PlatformSetFileTimes(PlatformHandle file, const FileTime* creation, const FileTime* access,
                          const FileTime* write) {
    const FILETIME c = ToFiletime(creation);
    const FILETIME a = ToFiletime(access);
    const FILETIME w = ToFiletime(write);
    return SetFileTime(ToHandle(file), &c, &a, &w) != FALSE;
}

void PlatformCloseFile(PlatformHandle file) { CloseHandle(ToHandle(file)); }

bool PlatformCreateDirectory(const char16_t* path) {
    return CreateDirectoryW(Wide(path), nullptr) != FALSE;
}

bool PlatformDeleteFile(const char16_t* path) { return DeleteFileW(Wide(path)) != FALSE; }

uint32_t PlatformGetFileAttributes(const char16_t* path) { return GetFileAttributesW(Wide(path)); }

bool PlatformSetFileAttributes(const char16_t* path, uint32_t attributes) {
    return SetFileAttributesW(Wide(path), attributes) != FALSE;
}

// ---- Launcher ------------------------------------------------------------------------------
