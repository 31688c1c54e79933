// What the Win32 files of the platform share: the conversions between the seam's types and the
// system's, and the record of a held folder.
#pragma once

#include <windows.h>

#include <string>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline HANDLE ToHandle(PlatformHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline PlatformHandle FromHandle(HANDLE handle) { return reinterpret_cast<PlatformHandle>(handle); }

inline FILETIME ToFiletime(const FileTime* time) {
    FILETIME out;
    out.dwLowDateTime = time->low;
    out.dwHighDateTime = time->high;
    return out;
}

inline FileTime FromFiletime(const FILETIME& time) {
    return FileTime{time.dwLowDateTime, time.dwHighDateTime};
}

// Runs `step` and keeps the last-error value of an earlier failure across it.
template <typename Step>
void KeepingLastError(Step step) {
    const DWORD saved = GetLastError();
    step();
    SetLastError(saved);
}

// A folder held open, and its final path once a check has asked for it.
struct HeldFolder {
    HANDLE handle;
    std::wstring finalPath;
};

inline HeldFolder* ToHeld(PlatformHandle folder) { return reinterpret_cast<HeldFolder*>(folder); }

// The protection of a new extraction folder (folder_security.cpp); null when it could not be
// made, and then no folder is made.
PSECURITY_DESCRIPTOR FolderSecurity();
