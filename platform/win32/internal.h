// What the Win32 files of the platform share: the conversions between the seam's types and the
// system's, and the record of a held folder.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <winternl.h>

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

// A security descriptor from its SDDL text, to be released with LocalFree; null when refused.
PSECURITY_DESCRIPTOR FromSddl(const wchar_t* text);

// Whether the user the launcher was elevated from could have `access` to the object, by its
// security descriptor (the handle needs READ_CONTROL). True when the launcher was not elevated
// over such a user (folder_security.cpp).
bool UserCould(HANDLE object, ACCESS_MASK access);

// STATUS_SHARING_VIOLATION: what an open answers for an entry in use.
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043);

// NtCreateFile of `name` relative to a held folder, synchronous, the name resolved as Windows
// names are (without regard to case), never through a reparse point at its end, and never waiting
// on another process's oplock (an oplock break under way answers kStatusSharingViolation).
// `opened` tells whether an existing file was opened (rather than made); `objectFlags` are added
// to the object's attributes (OBJ_INHERIT, say).
NTSTATUS OpenRelative(HeldFolder* folder, const char16_t* name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes,
                      PSECURITY_DESCRIPTOR security, HANDLE* out, bool* opened = nullptr,
                      ULONG objectFlags = 0);

// A name of one step: not empty, not "." or "..", no separator, and no ":" (which would name a
// stream of a file instead of a file).
bool IsStepName(const char16_t* name);

// The attribute bits of an open file or folder; INVALID_FILE_ATTRIBUTES when they cannot be read.
DWORD AttributesOf(HANDLE handle);

// Whether what a name opened in a held folder is the entry of that name itself. With
// FILE_OPEN_REPARSE_POINT it is on Windows; Wine opens what a Unix link leads to even so, which
// would then be removed or entered in the link's place: its final path gives it away.
bool IsEntryItself(HeldFolder* folder, HANDLE entry, const char16_t* name);
