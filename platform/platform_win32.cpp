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

// ---- Packing tool --------------------------------------------------------------------------

namespace {

FileTime FromFiletime(const FILETIME& time) {
    return FileTime{time.dwLowDateTime, time.dwHighDateTime};
}

// Runs `step` and keeps the last-error value of an earlier failure across it.
template <typename Step>
void KeepingLastError(Step step) {
    const DWORD saved = GetLastError();
    step();
    SetLastError(saved);
}

// Opens a path for its facts only, following links; INVALID_HANDLE_VALUE when it cannot.
HANDLE OpenForFacts(const char16_t* path) {
    return CreateFileW(Wide(path), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The facts of the file a link leads to; false when it leads nowhere.
bool DescribeLinkTarget(const std::u16string& path, PlatformListedEntry* entry) {
    const HANDLE target = OpenForFacts(path.c_str());
    if (target == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(target, &info) != FALSE;
    CloseHandle(target);
    if (!known) return false;
    entry->attributes = info.dwFileAttributes | kAttributeReparsePoint;
    entry->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    entry->creationTime = FromFiletime(info.ftCreationTime);
    entry->accessTime = FromFiletime(info.ftLastAccessTime);
    entry->writeTime = FromFiletime(info.ftLastWriteTime);
    return true;
}

}  // namespace

bool PlatformListFolder(const char16_t* folder, ListedEntryVisitor visit, void* context) {
    std::u16string base = folder;
    if (!base.empty() && base.back() != u'\\' && base.back() != u'/') base += u'\\';
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(Wide((base + u"*").c_str()), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool listed = true;
    for (bool more = true; more;) {
        const char16_t* name = reinterpret_cast<const char16_t*>(data.cFileName);
        const bool dots = std::char_traits<char16_t>::compare(name, u".", 2) == 0 ||
                          std::char_traits<char16_t>::compare(name, u"..", 3) == 0;
        if (!dots) {
            PlatformListedEntry entry{};
            std::memcpy(entry.name, data.cFileName, sizeof(entry.name));
            entry.name[259] = 0;
            entry.attributes = data.dwFileAttributes;
            entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            entry.creationTime = FromFiletime(data.ftCreationTime);
            entry.accessTime = FromFiletime(data.ftLastAccessTime);
            entry.writeTime = FromFiletime(data.ftLastWriteTime);
            entry.hasCreationTime = true;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                DescribeLinkTarget(base + name, &entry);
            }
            if (!visit(entry, context)) break;
        }
        if (!FindNextFileW(search, &data)) {
            listed = GetLastError() == ERROR_NO_MORE_FILES;
            more = false;
        }
    }
    KeepingLastError([&] { FindClose(search); });
    return listed;
}

bool PlatformReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* bytes) {
    const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool readOk = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) != FALSE;
    if (readOk && static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        readOk = false;
    }
    bytes->clear();
    if (readOk) bytes->reserve(static_cast<size_t>(size.QuadPart));
    uint8_t block[65536];
    while (readOk) {
        DWORD got = 0;
        if (!ReadFile(file, block, sizeof block, &got, nullptr)) readOk = false;
        if (!readOk || got == 0) break;
        if (bytes->size() + got > maxBytes) {  // grew while being read
            SetLastError(ERROR_FILE_TOO_LARGE);
            readOk = false;
            break;
        }
        bytes->insert(bytes->end(), block, block + got);
    }
    KeepingLastError([&] { CloseHandle(file); });
    return readOk;
}

bool PlatformSameFile(const char16_t* a, const char16_t* b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const char16_t* paths[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        const HANDLE file = OpenForFacts(paths[i]);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool known = GetFileInformationByHandle(file, &info[i]) != FALSE;
        CloseHandle(file);
        if (!known) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

PlatformHandle PlatformCreateFileBeside(const char16_t* path, std::u16string* created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::u16string candidate = path;
        candidate += u".part";
        if (attempt > 0) {
            wchar_t digits[12];
            wsprintfW(digits, L"%d", attempt);
            candidate += reinterpret_cast<const char16_t*>(digits);
        }
        const HANDLE file = CreateFileW(Wide(candidate.c_str()), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            *created = candidate;
            return reinterpret_cast<PlatformHandle>(file);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return kInvalidPlatformHandle;
}

bool PlatformFinishFile(PlatformHandle file) {
    const bool flushed = FlushFileBuffers(ToHandle(file)) != FALSE;
    bool closed = false;
    KeepingLastError([&] { closed = CloseHandle(ToHandle(file)) != FALSE; });
    return flushed && closed;
}

bool PlatformReplaceFile(const char16_t* from, const char16_t* to) {
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}

std::u16string PlatformLastErrorText() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string out;
    if (length > 0 && text != nullptr) out.assign(reinterpret_cast<const char16_t*>(text), length);
    LocalFree(text);
    while (!out.empty() && (out.back() == u'\n' || out.back() == u'\r' || out.back() == u'.' ||
                            out.back() == u' ')) {
        out.pop_back();
    }
    if (out.empty()) {
        wchar_t digits[32];
        wsprintfW(digits, L"system error %lu", static_cast<unsigned long>(error));
        out = reinterpret_cast<const char16_t*>(digits);
    }
    return out;
}

void PlatformWriteStream(bool toError, const char16_t* text) {
    const HANDLE stream = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
    const int units = static_cast<int>(std::char_traits<char16_t>::length(text));
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, Wide(text), static_cast<DWORD>(units), &written, nullptr);
        return;
    }
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, Wide(text), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide(text), units, &bytes[0], size, nullptr, nullptr);
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
