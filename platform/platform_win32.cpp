// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>
// After windows.h, which it needs.
#include <shlwapi.h>

#include <cstring>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {
[[maybe_unused]] const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
[[maybe_unused]] wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
}  // namespace

// ---- Archive reader ------------------------------------------------------------------------



// ---- Extraction to disk --------------------------------------------------------------------



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
    if (!FindNextFileW(reinterpret_cast<HANDLE>(search), &data)) return false;
    CopyFound(data, found);
    return true;
}

void PlatformFindClose(PlatformHandle search) { FindClose(reinterpret_cast<HANDLE>(search)); }

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

void PlatformCloseProcessHandle(PlatformHandle handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

uint32_t PlatformGetLastError() { return GetLastError(); }
