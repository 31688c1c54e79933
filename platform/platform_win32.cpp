// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>
// After windows.h, which it needs.
#include <shlwapi.h>

#include <cstring>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
HANDLE ToHandle(PlatformHandle handle) { return reinterpret_cast<HANDLE>(handle); }
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

PlatformWindow PlatformFindWindow(const char16_t* className, const char16_t* title) {
    return reinterpret_cast<PlatformWindow>(FindWindowW(Wide(className), Wide(title)));
}

void PlatformSetForegroundWindow(PlatformWindow window) {
    SetForegroundWindow(reinterpret_cast<HWND>(window));
}

void PlatformMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    MessageBoxW(nullptr, Wide(text), Wide(caption), style);
}

int PlatformFormatInteger(char16_t* buffer, const char16_t* format, int32_t value) {
    return wsprintfW(Wide(buffer), Wide(format), static_cast<int>(value));
}

bool PlatformPathExists(const char16_t* path) { return PathFileExistsW(Wide(path)) != FALSE; }

uint32_t PlatformGetTempPath(uint32_t bufferUnits, char16_t* buffer) {
    return GetTempPathW(bufferUnits, Wide(buffer));
}

bool PlatformFindResource(uint16_t id, const char16_t* type, const void** data, uint32_t* size) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), Wide(type));
    if (found == nullptr) return false;
    *size = SizeofResource(nullptr, found);
    if (*size == 0) return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (loaded == nullptr) return false;
    *data = LockResource(loaded);
    return *data != nullptr;
}

namespace {
void CopyFound(const WIN32_FIND_DATAW& data, PlatformFoundEntry* found) {
    static_assert(sizeof(found->name) == sizeof(data.cFileName), "MAX_PATH names");
    found->attributes = data.dwFileAttributes;
    std::memcpy(found->name, data.cFileName, sizeof(found->name));
    found->name[259] = 0;
}
}  // namespace

PlatformHandle PlatformFindFirstFile(const char16_t* pattern, PlatformFoundEntry* found) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(Wide(pattern), &data);
    if (search == INVALID_HANDLE_VALUE) return kInvalidPlatformHandle;
    CopyFound(data, found);
    return reinterpret_cast<PlatformHandle>(search);
}

bool PlatformFindNextFile(PlatformHandle search, PlatformFoundEntry* found) {
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(ToHandle(search), &data)) return false;
    CopyFound(data, found);
    return true;
}

void PlatformFindClose(PlatformHandle search) { FindClose(ToHandle(search)); }

int PlatformCompareText(const char16_t* a, const char16_t* b) { return lstrcmpW(Wide(a), Wide(b)); }

bool PlatformRemoveDirectory(const char16_t* path) { return RemoveDirectoryW(Wide(path)) != FALSE; }

uint32_t PlatformGetEnvironmentVariable(const char16_t* name, char16_t* buffer,
                                        uint32_t bufferUnits) {
    return GetEnvironmentVariableW(Wide(name), Wide(buffer), bufferUnits);
}

bool PlatformSetEnvironmentVariable(const char16_t* name, const char16_t* value) {
    return SetEnvironmentVariableW(Wide(name), Wide(value)) != FALSE;
}

bool PlatformCreateProcess(const char16_t* application, char16_t* commandLine,
                           PlatformHandle* process, PlatformHandle* thread) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(Wide(application), Wide(commandLine), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    *process = reinterpret_cast<PlatformHandle>(info.hProcess);
    *thread = reinterpret_cast<PlatformHandle>(info.hThread);
    return true;
}

void PlatformCloseProcessHandle(PlatformHandle handle) { CloseHandle(ToHandle(handle)); }

uint32_t PlatformGetLastError() { return GetLastError(); }
