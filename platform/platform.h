// The one seam between the portable core and the operating system.
//
// Every text crossing this interface is UTF-16 (char16_t). The Win32 implementation hands it to
// the wide ("W") calls unchanged; the POSIX implementation converts paths to UTF-8 and takes
// "\" as "/". The core never includes <windows.h>.
#pragma once

#include <cstdint>

// A Windows file time: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, low half first.
struct FileTime {
    uint32_t low;
    uint32_t high;
};

// A calendar time read as UTC.
struct CalendarTime {
    uint16_t year;
    uint16_t month;  // 1-12
    uint16_t day;    // 1-31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t millisecond;
};

// Handles are opaque integers; -1 is never a valid one.
using PlatformHandle = intptr_t;
constexpr PlatformHandle kInvalidPlatformHandle = -1;

// Windows file attribute bits, used on every platform.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// ---- Archive reader ------------------------------------------------------------------------

// GetCurrentDirectoryW: the length without terminator when it fits, else the size needed
// including the terminator; 0 on failure.
uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer);

// MultiByteToWideChar(CP_ACP, 0, text, -1, out, outUnits): converts a terminated 8-bit text in
// the ANSI code page (Windows-1252 on POSIX), terminator included. Returns the units written,
// 0 on failure (including a buffer too small, after which `out` may hold a partial text).
int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits);

// DosDateTimeToFileTime: no time-zone adjustment. False for a date or time it rejects.
bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out);

// SystemTimeToFileTime: the calendar time read as UTC. False for a time it rejects.
bool PlatformSystemTimeToFileTime(const CalendarTime* time, FileTime* out);

// ---- Extraction to disk --------------------------------------------------------------------

// CreateFileW(path, GENERIC_WRITE, share mode 0, no security, CREATE_ALWAYS, attributes, none).
// POSIX: read-only means no write permission bits; hidden, system and archive are dropped; an
// existing file without write permission is refused, as Windows refuses a read-only one.
// Returns kInvalidPlatformHandle on failure.
PlatformHandle PlatformCreateFile(const char16_t* path, uint32_t attributes);

// WriteFile of `size` bytes; true on success.
bool PlatformWriteFile(PlatformHandle file, const void* data, uint32_t size);

// GetFileType(file) == FILE_TYPE_DISK; on POSIX a regular file.
bool PlatformIsDiskFile(PlatformHandle file);

// SetFileTime. POSIX sets the last-access and last-write times; there is no creation time.
bool PlatformSetFileTimes(PlatformHandle file, const FileTime* creation, const FileTime* access,
                          const FileTime* write);

// CloseHandle.
void PlatformCloseFile(PlatformHandle file);

// CreateDirectoryW(path, default security): creates the last folder of the path.
bool PlatformCreateDirectory(const char16_t* path);

// DeleteFileW.
bool PlatformDeleteFile(const char16_t* path);

// GetFileAttributesW / SetFileAttributesW. kInvalidAttributes when the path cannot be read.
// POSIX reports the directory bit, the read-only bit (no write permission bits), the reparse-point
// bit for a symbolic link (with the directory bit when it leads to a folder) and otherwise 0x80.
uint32_t PlatformGetFileAttributes(const char16_t* path);
bool PlatformSetFileAttributes(const char16_t* path, uint32_t attributes);

// Test hook: when set, it is asked before every PlatformWriteFile with the byte count, and a false
// answer makes that write fail without writing (a full disk on demand). Null in the product.
using WriteFileProbe = bool (*)(uint32_t size);
void PlatformSetWriteProbe(WriteFileProbe probe);

// ---- Launcher ------------------------------------------------------------------------------
// Declared by the launcher's work; see launcher/.
