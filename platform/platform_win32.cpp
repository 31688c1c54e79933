// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>

#include <cstring>
#include <string>

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

// A folder held open, and its path, below which the calls form their paths: while the folder is
// held without FILE_SHARE_DELETE neither it nor a folder above it can be renamed, so the path
// keeps naming it.
struct HeldFolder {
    HANDLE handle;
    std::wstring path;
};

HeldFolder* ToHeld(PlatformHandle folder) { return reinterpret_cast<HeldFolder*>(folder); }

// `path` below a held folder, or as given for kNoFolder. Formed in one buffer kept for the run:
// each call needs it only until it returns.
const wchar_t* FullPath(PlatformHandle folder, const char16_t* path) {
    if (folder == kNoFolder) return Wide(path);
    static std::wstring full;
    full.assign(ToHeld(folder)->path);
    full += L'\\';
    full += Wide(path);
    return full.c_str();
}

FILETIME ToFiletime(const FileTime* time) {
    FILETIME out;
    out.dwLowDateTime = time->low;
    out.dwHighDateTime = time->high;
    return out;
}

PlatformHandle SystemCreateFile(PlatformHandle folder, const char16_t* path, uint32_t attributes) {
    // Inside a held folder a link at the path is opened itself, never followed.
    const DWORD flags = attributes | (folder != kNoFolder ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE file = CreateFileW(FullPath(folder, path), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, flags, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle
                                        : reinterpret_cast<PlatformHandle>(file);
}

bool SystemWriteFile(PlatformHandle file, const void* data, uint32_t size) {
    DWORD written = 0;
    // A write that takes fewer bytes than it was given would lose data silently.
    return WriteFile(ToHandle(file), data, size, &written, nullptr) != FALSE && written == size;
}

bool SystemIsDiskFile(PlatformHandle file) { return GetFileType(ToHandle(file)) == FILE_TYPE_DISK; }

bool SystemSetFileTimes(PlatformHandle file, const FileTime* creation, const FileTime* access,
                        const FileTime* write) {
    const FILETIME c = ToFiletime(creation);
    const FILETIME a = ToFiletime(access);
    const FILETIME w = ToFiletime(write);
    return SetFileTime(ToHandle(file), &c, &a, &w) != FALSE;
}

void SystemCloseFile(PlatformHandle file) { CloseHandle(ToHandle(file)); }

bool SystemCreateDirectory(PlatformHandle folder, const char16_t* path) {
    return CreateDirectoryW(FullPath(folder, path), nullptr) != FALSE;
}

bool SystemDeleteFile(PlatformHandle folder, const char16_t* path) {
    return DeleteFileW(FullPath(folder, path)) != FALSE;
}

uint32_t SystemGetFileAttributes(PlatformHandle folder, const char16_t* path) {
    return GetFileAttributesW(FullPath(folder, path));
}

bool SystemSetFileAttributes(PlatformHandle folder, const char16_t* path, uint32_t attributes) {
    return SetFileAttributesW(FullPath(folder, path), attributes) != FALSE;
}

// ---- Launcher ------------------------------------------------------------------------------

PlatformWindow SystemFindWindow(const char16_t* className, const char16_t* title) {
    return reinterpret_cast<PlatformWindow>(FindWindowW(Wide(className), Wide(title)));
}

void SystemSetForegroundWindow(PlatformWindow window) {
    SetForegroundWindow(reinterpret_cast<HWND>(window));
}

void SystemMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    MessageBoxW(nullptr, Wide(text), Wide(caption), style);
}

int SystemFormatInteger(char16_t* buffer, const char16_t* format, int32_t value) {
    return wsprintfW(Wide(buffer), Wide(format), static_cast<int>(value));
}

uint32_t SystemGetTempPath(uint32_t bufferUnits, char16_t* buffer) {
    return GetTempPathW(bufferUnits, Wide(buffer));
}

bool SystemFindResource(uint16_t id, const char16_t* type, const void** data, uint32_t* size) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), Wide(type));
    if (found == nullptr) return false;
    *size = SizeofResource(nullptr, found);
    if (*size == 0) return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (loaded == nullptr) return false;
    *data = LockResource(loaded);
    return *data != nullptr;
}

// The folder's protection: owner BUILTIN\Administrators; a protected DACL (nothing inherited from
// the temporary directory) with full control for Administrators and SYSTEM and read and execute
// for the user, each inherited by files and folders created inside.
PSECURITY_DESCRIPTOR NewFolderSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const BOOL known = GetTokenInformation(token, TokenUser, user, sizeof(user), &size);
    CloseHandle(token);
    LPWSTR sid = nullptr;
    if (!known || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid)) {
        return nullptr;
    }
    const std::wstring text =
        std::wstring(L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;") + sid + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &security, nullptr)) {
        return nullptr;
    }
    return security;
}

// Made once and kept for the run (the process's user does not change); none when it could not
// be made, and then nothing can be protected.
PSECURITY_DESCRIPTOR FolderSecurity() {
    static const PSECURITY_DESCRIPTOR security = NewFolderSecurity();
    return security;
}

bool SystemCreateProtectedFolder(const char16_t* path) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), FolderSecurity(), FALSE};
    return attributes.lpSecurityDescriptor != nullptr &&
           CreateDirectoryW(Wide(path), &attributes) != FALSE;
}

PlatformHandle SystemHoldFolder(PlatformHandle folder, const char16_t* path) {
    std::wstring full = FullPath(folder, path);
    // The access that PlatformProtectFolder needs; no FILE_SHARE_DELETE, and a reparse point is
    // opened itself, so that it shows as one.
    const HANDLE handle = CreateFileW(
        full.c_str(),
        FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidPlatformHandle;
    BY_HANDLE_FILE_INFORMATION info;
    // Wine opens what a Unix link leads to even so: the path, fixed now that the folder is held,
    // must not show a reparse point either.
    const DWORD pathAttributes = GetFileAttributesW(full.c_str());
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        ((info.dwFileAttributes | pathAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(handle);
        return kInvalidPlatformHandle;
    }
    return reinterpret_cast<PlatformHandle>(new HeldFolder{handle, std::move(full)});
}

bool SystemProtectFolder(PlatformHandle folder) {
    const PSECURITY_DESCRIPTOR security = FolderSecurity();
    // Set on the held handle itself, and without the walk through the folders below that
    // SetSecurityInfo would make: that walk could follow a link out of the folder.
    return security != nullptr &&
           SetKernelObjectSecurity(ToHeld(folder)->handle,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   security) != FALSE;
}

void SystemReleaseFolder(PlatformHandle folder) {
    CloseHandle(ToHeld(folder)->handle);
    delete ToHeld(folder);
}

// An enumeration: FindFirstFileW's entry is handed out by the first PlatformNextEntry.
struct FolderSearch {
    HANDLE handle;
    WIN32_FIND_DATAW first;
    bool firstPending;
};

void CopyFound(const WIN32_FIND_DATAW& data, PlatformFoundEntry* found) {
    static_assert(sizeof(found->name) == sizeof(data.cFileName), "MAX_PATH names");
    found->attributes = data.dwFileAttributes;
    std::memcpy(found->name, data.cFileName, sizeof(found->name));
    found->name[259] = 0;
}

PlatformHandle SystemOpenSearch(PlatformHandle folder) {
    auto* search = new FolderSearch{};
    search->handle = FindFirstFileW(FullPath(folder, u"*"), &search->first);
    if (search->handle == INVALID_HANDLE_VALUE) {
        delete search;
        return kInvalidPlatformHandle;
    }
    search->firstPending = true;
    return reinterpret_cast<PlatformHandle>(search);
}

int SystemNextEntry(PlatformHandle handle, PlatformFoundEntry* found) {
    auto* search = reinterpret_cast<FolderSearch*>(handle);
    if (search->firstPending) {
        search->firstPending = false;
        CopyFound(search->first, found);
        return 1;
    }
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(search->handle, &data))
        return GetLastError() == ERROR_NO_MORE_FILES ? 0 : -1;
    CopyFound(data, found);
    return 1;
}

void SystemCloseSearch(PlatformHandle handle) {
    auto* search = reinterpret_cast<FolderSearch*>(handle);
    FindClose(search->handle);
    delete search;
}

int SystemCompareText(const char16_t* a, const char16_t* b) { return lstrcmpW(Wide(a), Wide(b)); }

int SystemCompareFileNames(const char16_t* a, const char16_t* b) {
    // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN are 1, 2, 3; 0 is a failure, which no two
    // terminated texts give.
    return CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) - CSTR_EQUAL;
}

bool SystemRemoveDirectory(PlatformHandle folder, const char16_t* path) {
    return RemoveDirectoryW(FullPath(folder, path)) != FALSE;
}

void SystemLimitLibrarySearch() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

uint32_t SystemGetEnvironmentVariable(const char16_t* name, char16_t* buffer,
                                      uint32_t bufferUnits) {
    return GetEnvironmentVariableW(Wide(name), Wide(buffer), bufferUnits);
}

bool SystemSetEnvironmentVariable(const char16_t* name, const char16_t* value) {
    return SetEnvironmentVariableW(Wide(name), Wide(value)) != FALSE;
}

bool SystemCreateProcess(const char16_t* application, char16_t* commandLine,
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

void SystemCloseProcessHandle(PlatformHandle handle) { CloseHandle(ToHandle(handle)); }

constexpr PlatformCalls kSystemTable = {
#include "platform/system_calls.inc"
};

}  // namespace

const PlatformCalls kSystemCalls = kSystemTable;
PlatformCalls ActivePlatformCalls = kSystemTable;

uint32_t PlatformGetLastError() { return GetLastError(); }
