// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

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

// ---- Files and folders by path ------------------------------------------------------------

namespace {

FILETIME ToFiletime(const FileTime* time) {
    FILETIME out;
    out.dwLowDateTime = time->low;
    out.dwHighDateTime = time->high;
    return out;
}

PlatformHandle FromHandle(HANDLE handle) { return reinterpret_cast<PlatformHandle>(handle); }

PlatformHandle SystemCreateFile(const char16_t* path, uint32_t attributes) {
    const HANDLE file =
        CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle : FromHandle(file);
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

bool SystemCreateDirectory(const char16_t* path) {
    return CreateDirectoryW(Wide(path), nullptr) != FALSE;
}

bool SystemDeleteFile(const char16_t* path) { return DeleteFileW(Wide(path)) != FALSE; }

uint32_t SystemGetFileAttributes(const char16_t* path) { return GetFileAttributesW(Wide(path)); }

bool SystemSetFileAttributes(const char16_t* path, uint32_t attributes) {
    return SetFileAttributesW(Wide(path), attributes) != FALSE;
}

// ---- Folders held open ---------------------------------------------------------------------

// Not declared by the headers at hand: lists a folder through its handle.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK ioStatus,
                                               PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass,
                                               BOOLEAN singleEntry, PUNICODE_STRING fileName,
                                               BOOLEAN restartScan);

constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
// IO_STATUS_BLOCK.Information of a create that opened an existing file.
constexpr ULONG_PTR kFileOpened = 1;
// The attribute bits a new file may be given (FILE_ATTRIBUTE_VALID_SET_FLAGS).
constexpr ULONG kSettableAttributes = 0x31A7;

// A folder held open, and its final path once a check has asked for it.
struct HeldFolder {
    HANDLE handle;
    std::wstring finalPath;
};

HeldFolder* ToHeld(PlatformHandle folder) { return reinterpret_cast<HeldFolder*>(folder); }

PlatformHandle NewHeld(HANDLE handle) {
    return reinterpret_cast<PlatformHandle>(new HeldFolder{handle, {}});
}

// A name of one step: not empty, not "." or "..", no separator, and no ":" (which would name a
// stream of a file instead of a file).
bool IsStepName(const char16_t* name) {
    const std::u16string text = name;
    return !text.empty() && text != u"." && text != u".." &&
           text.find_first_of(u"\\/:") == std::u16string::npos && text.size() <= 255;
}

// NtCreateFile of `name` relative to a held folder, synchronous, the name resolved as Windows
// names are (without regard to case), never through a reparse point at its end. `opened` tells
// whether an existing file was opened (rather than made).
NTSTATUS OpenRelative(const HeldFolder* folder, const char16_t* name, ACCESS_MASK access,
                      ULONG share, ULONG disposition, ULONG options, ULONG attributes,
                      PSECURITY_DESCRIPTOR security, HANDLE* out, bool* opened = nullptr) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(Wide(name));
    text.Length = static_cast<USHORT>(std::char_traits<char16_t>::length(name) * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder->handle, security);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = NtCreateFile(
        out, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (opened != nullptr) *opened = io.Information == kFileOpened;
    return status;
}

// The path of an open file or folder as the system finally resolves it, with its "\\?\" prefix.
bool FinalPathOf(HANDLE handle, std::wstring* path) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, &buffer[0], static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            *path = std::move(buffer);
            return true;
        }
        buffer.assign(length + 1, L'\0');
    }
    return false;
}

const std::wstring* FolderFinalPath(HeldFolder* folder) {
    if (folder->finalPath.empty() && !FinalPathOf(folder->handle, &folder->finalPath)) {
        return nullptr;
    }
    return &folder->finalPath;
}

// Whether what a name opened is the entry of that name itself. With FILE_OPEN_REPARSE_POINT it is
// on Windows; Wine opens what a Unix link leads to even so, which would then be removed or entered
// in the link's place: its final path gives it away.
bool IsEntryItself(HeldFolder* folder, HANDLE entry, const char16_t* name) {
    const std::wstring* base = FolderFinalPath(folder);
    std::wstring path;
    if (base == nullptr || !FinalPathOf(entry, &path)) return false;
    std::wstring expected = *base;
    if (expected.back() != L'\\') expected += L'\\';
    expected += Wide(name);
    return CompareStringOrdinal(path.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The attribute bits of an open file or folder; kInvalidAttributes when they cannot be read.
DWORD AttributesOf(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))
               ? basic.FileAttributes
               : INVALID_FILE_ATTRIBUTES;
}

// Whether an opened folder is a real folder and the entry it was opened by.
bool IsRealFolder(HeldFolder* folder, HANDLE opened, const char16_t* name) {
    const DWORD attributes = AttributesOf(opened);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && IsEntryItself(folder, opened, name);
}

PlatformHandle SystemOpenFolder(const char16_t* path) {
    const HANDLE handle = CreateFileW(Wide(path), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle : NewHeld(handle);
}

// Opens the sub-folder `name`, or makes it with `disposition`, and holds it when it is a real
// folder and the entry itself. Without FILE_SHARE_DELETE: it cannot be renamed or removed while
// held.
PlatformHandle HoldSubFolder(PlatformHandle parent, const char16_t* name, ACCESS_MASK access,
                             ULONG disposition) {
    if (parent == kInvalidPlatformHandle || !IsStepName(name)) return kInvalidPlatformHandle;
    HeldFolder* folder = ToHeld(parent);
    HANDLE handle = nullptr;
    bool opened = true;
    if (!NT_SUCCESS(OpenRelative(
            folder, name, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
            disposition, FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, nullptr, &handle, &opened))) {
        return kInvalidPlatformHandle;
    }
    // One this call made inside a held folder is what it is; one that was there is looked at.
    if (opened && !IsRealFolder(folder, handle, name)) {
        CloseHandle(handle);
        return kInvalidPlatformHandle;
    }
    return NewHeld(handle);
}

PlatformHandle SystemOpenSubFolder(PlatformHandle folder, const char16_t* name) {
    return HoldSubFolder(folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | DELETE, FILE_OPEN);
}

PlatformHandle SystemMakeSubFolder(PlatformHandle folder, const char16_t* name) {
    return HoldSubFolder(
        folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
        FILE_OPEN_IF);
}

// The SID of the process's user as SDDL text, and whether its token may make BUILTIN\Administrators
// the owner of what it creates (an elevated administrator's token may; a standard user's may not).
bool DescribeToken(std::wstring* user, bool* administratorsOwn) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(TOKEN_USER) BYTE userBuffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    bool known = GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &size);
    *administratorsOwn = false;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> groupBuffer(size + sizeof(TOKEN_GROUPS));
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (known &&
        GetTokenInformation(token, TokenGroups, groupBuffer.data(),
                            static_cast<DWORD>(groupBuffer.size()), &size) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBuffer.data());
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            if (EqualSid(groups->Groups[i].Sid, administrators) &&
                (groups->Groups[i].Attributes & SE_GROUP_OWNER) != 0) {
                *administratorsOwn = true;
            }
        }
    }
    CloseHandle(token);
    LPWSTR sid = nullptr;
    if (!known ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, &sid)) {
        return false;
    }
    *user = sid;
    LocalFree(sid);
    return true;
}

// The new folder's protection, inherited by everything made inside: a protected DACL (nothing
// inherited from the temporary directory) with full control for Administrators and SYSTEM, and
// read and execute for OWNER RIGHTS, so that owning a file gives no right to change its DACL.
// With an administrator's token, Administrators own the folder and the user may read and run
// only; without one the user owns it and needs full control to unpack, and no elevation has to be
// guarded.
PSECURITY_DESCRIPTOR NewFolderSecurity() {
    std::wstring user;
    bool administratorsOwn = false;
    if (!DescribeToken(&user, &administratorsOwn)) return nullptr;
    const std::wstring text = (administratorsOwn ? L"O:BA" : L"O:" + user) +
                              L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;" +
                              (administratorsOwn ? L"FRFX" : L"FA") + L";;;" + user +
                              L")(A;OICI;FRFX;;;OW)";
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &security, nullptr)) {
        return nullptr;
    }
    return security;
}

// Made once and kept for the run (the process's token does not change); none when it could not
// be made, and then no folder is made.
PSECURITY_DESCRIPTOR FolderSecurity() {
    static const PSECURITY_DESCRIPTOR security = NewFolderSecurity();
    return security;
}

PlatformHandle SystemCreateFreshFolder(PlatformHandle parent, const char16_t* name) {
    if (parent == kInvalidPlatformHandle || !IsStepName(name) || FolderSecurity() == nullptr) {
        return kInvalidPlatformHandle;
    }
    HANDLE handle = nullptr;
    // Only reading is shared: no other handle may add to it (FILE_ADD_FILE is a writing access),
    // and none may rename or delete it, while it is held.
    const NTSTATUS status = OpenRelative(ToHeld(parent), name,
                                         FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE |
                                             FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ, FILE_CREATE, FILE_DIRECTORY_FILE,
                                         FILE_ATTRIBUTE_NORMAL, FolderSecurity(), &handle);
    return NT_SUCCESS(status) ? NewHeld(handle) : kInvalidPlatformHandle;
}

// FILE_RENAME_INFORMATION with room for a name of one step.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[256];
};

bool SystemRenameFolder(PlatformHandle moved, PlatformHandle folder, const char16_t*,
                        const char16_t* newName) {
    if (moved == kInvalidPlatformHandle || folder == kInvalidPlatformHandle ||
        !IsStepName(newName)) {
        return false;
    }
    RenameInformation rename{};
    rename.replaceIfExists = FALSE;
    rename.rootDirectory = ToHeld(folder)->handle;
    const size_t units = std::char_traits<char16_t>::length(newName);
    std::memcpy(rename.fileName, newName, units * sizeof(wchar_t));
    rename.fileNameLength = static_cast<ULONG>(units * sizeof(wchar_t));
    IO_STATUS_BLOCK io{};
    const ULONG length =
        static_cast<ULONG>(offsetof(RenameInformation, fileName) + rename.fileNameLength);
    return NT_SUCCESS(
        NtSetInformationFile(ToHeld(moved)->handle, &io, &rename, length, FileRenameInformation));
}

bool SystemFinalPath(PlatformHandle folder, std::u16string* path) {
    std::wstring full;
    if (folder == kInvalidPlatformHandle || !FinalPathOf(ToHeld(folder)->handle, &full)) {
        return false;
    }
    // "\\?\C:\..." is "C:\...", "\\?\UNC\server\share\..." is "\\server\share\...".
    if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        full = L"\\\\" + full.substr(8);
    } else if (full.compare(0, 4, L"\\\\?\\") == 0 && full.size() >= 6 && full[5] == L':') {
        full = full.substr(4);
    }
    path->assign(reinterpret_cast<const char16_t*>(full.c_str()), full.size());
    return true;
}

void SystemReleaseFolder(PlatformHandle folder) {
    if (folder == kInvalidPlatformHandle) return;
    CloseHandle(ToHeld(folder)->handle);
    delete ToHeld(folder);
}

PlatformHandle SystemCreateFileIn(PlatformHandle folder, const char16_t* name,
                                  uint32_t attributes) {
    if (folder == kInvalidPlatformHandle || !IsStepName(name)) return kInvalidPlatformHandle;
    HANDLE file = nullptr;
    // CreateFileW's CREATE_ALWAYS, with the attribute bits a file may be given.
    const ULONG settable = attributes & kSettableAttributes;
    const NTSTATUS status =
        OpenRelative(ToHeld(folder), name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                     FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE,
                     settable != 0 ? settable : FILE_ATTRIBUTE_NORMAL, nullptr, &file);
    return NT_SUCCESS(status) ? FromHandle(file) : kInvalidPlatformHandle;
}

PlatformHandle SystemOpenFileIn(PlatformHandle folder, const char16_t* name) {
    if (folder == kInvalidPlatformHandle || !IsStepName(name)) return kInvalidPlatformHandle;
    HANDLE file = nullptr;
    // Only reading is shared: no other handle may write, rename or delete it meanwhile.
    const NTSTATUS status = OpenRelative(
        ToHeld(folder), name, FILE_READ_DATA | FILE_EXECUTE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
        FILE_OPEN, FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, nullptr, &file);
    return NT_SUCCESS(status) ? FromHandle(file) : kInvalidPlatformHandle;
}

bool SystemFileIdentity(PlatformHandle file, FileIdentity* identity) {
    // The two cheapest questions, not GetFileInformationByHandle: that one also asks the volume
    // for its serial number, which costs Wine a file system lookup each time.
    IO_STATUS_BLOCK io{};
    FILE_INTERNAL_INFORMATION internal{};
    FILE_STANDARD_INFO standard{};
    if (!NT_SUCCESS(NtQueryInformationFile(ToHandle(file), &io, &internal, sizeof(internal),
                                           FileInternalInformation)) ||
        !GetFileInformationByHandleEx(ToHandle(file), FileStandardInfo, &standard,
                                      sizeof(standard))) {
        return false;
    }
    identity->index = static_cast<uint64_t>(internal.IndexNumber.QuadPart);
    identity->links = standard.NumberOfLinks;
    return true;
}

// A listing on a handle of its own (the mask and position of a listing live with its handle),
// read a buffer of entries at a time.
struct FolderSearch {
    HANDLE handle;
    std::wstring mask;  // empty: every name
    bool started;
    ULONG next;  // offset of the next entry in the buffer, or the buffer's size when used up
    ULONG filled;
    alignas(8) BYTE buffer[16384];
};

PlatformHandle SystemOpenSearch(PlatformHandle folder, const char16_t* prefix) {
    if (folder == kInvalidPlatformHandle) return kInvalidPlatformHandle;
    // The held folder itself, opened anew through its handle (an empty name relative to it).
    HANDLE handle = nullptr;
    if (!NT_SUCCESS(OpenRelative(ToHeld(folder), u"", FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                 FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, nullptr, &handle))) {
        return kInvalidPlatformHandle;
    }
    auto* search = new FolderSearch;
    search->handle = handle;
    if (prefix != nullptr) search->mask = std::wstring(Wide(prefix)) + L"*";
    search->started = false;
    search->next = 0;
    search->filled = 0;
    return reinterpret_cast<PlatformHandle>(search);
}

int SystemNextEntry(PlatformHandle handle, PlatformFoundEntry* found) {
    auto* search = reinterpret_cast<FolderSearch*>(handle);
    if (search->next >= search->filled) {
        UNICODE_STRING mask;
        mask.Buffer = const_cast<PWSTR>(search->mask.c_str());
        mask.Length = static_cast<USHORT>(search->mask.size() * sizeof(wchar_t));
        mask.MaximumLength = mask.Length;
        const bool first = !search->started;
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = NtQueryDirectoryFile(
            search->handle, nullptr, nullptr, nullptr, &io, search->buffer, sizeof(search->buffer),
            FileIdBothDirectoryInformation, FALSE, first && !search->mask.empty() ? &mask : nullptr,
            first ? TRUE : FALSE);
        search->started = true;
        if (status == kStatusNoMoreFiles || (first && status == kStatusNoSuchFile)) return 0;
        if (!NT_SUCCESS(status) || io.Information == 0) return -1;
        search->filled = static_cast<ULONG>(io.Information);
        search->next = 0;
    }
    const auto* entry =
        reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(search->buffer + search->next);
    const size_t units = entry->FileNameLength / sizeof(wchar_t);
    if (units >= sizeof(found->name) / sizeof(char16_t)) return -1;  // no file system names more
    std::memcpy(found->name, entry->FileName, units * sizeof(wchar_t));
    found->name[units] = 0;
    found->attributes = entry->FileAttributes;
    found->index = static_cast<uint64_t>(entry->FileId.QuadPart);
    search->next =
        entry->NextEntryOffset != 0 ? search->next + entry->NextEntryOffset : search->filled;
    return 1;
}

void SystemCloseSearch(PlatformHandle handle) {
    auto* search = reinterpret_cast<FolderSearch*>(handle);
    CloseHandle(search->handle);
    delete search;
}

bool SetAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

bool SystemRemoveEntry(PlatformHandle folder, const char16_t* name) {
    if (folder == kInvalidPlatformHandle || !IsStepName(name)) return false;
    HeldFolder* held = ToHeld(folder);
    HANDLE entry = nullptr;
    const NTSTATUS status =
        OpenRelative(held, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0,
                     FILE_ATTRIBUTE_NORMAL, nullptr, &entry);
    if (status == kStatusObjectNameNotFound || status == kStatusObjectPathNotFound) return true;
    if (!NT_SUCCESS(status)) return false;
    const DWORD attributes = AttributesOf(entry);
    FILE_STANDARD_INFO standard{};
    bool removed = false;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof(standard)) &&
        IsEntryItself(held, entry, name)) {
        // The read-only bit keeps a file from deletion. It is taken off only from a file of one
        // name (another name could lie outside the folder), and put back when the file stays:
        // the file of a running program, say.
        const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        const bool cleared = readOnly && standard.NumberOfLinks == 1 &&
                             SetAttributes(entry, attributes & ~FILE_ATTRIBUTE_READONLY);
        FILE_DISPOSITION_INFO disposition{TRUE};
        removed = SetFileInformationByHandle(entry, FileDispositionInfo, &disposition,
                                             sizeof(disposition)) != FALSE;
        if (!removed && cleared) SetAttributes(entry, attributes);
    }
    CloseHandle(entry);
    return removed;
}

// ---- One launcher at a time ----------------------------------------------------------------

PlatformHandle SystemAcquireLock(const char16_t* name, uint32_t waitMs, bool* waited) {
    // Object names tell case apart while file names do not: launchers of "App" and "APP" work in
    // one folder and must share one lock. The namespace prefix keeps its own spelling.
    std::wstring upper = Wide(name);
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    const std::wstring full = L"Local\\" + upper;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, full.c_str());
    if (mutex == nullptr) return kInvalidPlatformHandle;
    // An abandoned mutex is had all the same: its holder ended without finishing.
    DWORD waitResult = WaitForSingleObject(mutex, 0);
    *waited = waitResult == WAIT_TIMEOUT;
    if (*waited) waitResult = WaitForSingleObject(mutex, waitMs);
    if (waitResult != WAIT_OBJECT_0 && waitResult != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return kInvalidPlatformHandle;
    }
    return FromHandle(mutex);
}

void SystemReleaseLock(PlatformHandle lock) {
    ReleaseMutex(ToHandle(lock));
    CloseHandle(ToHandle(lock));
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

bool SystemLoadString(uint16_t id, std::u16string* text) {
    // With no buffer, LoadStringW gives the address of the text inside the loaded resource.
    const wchar_t* found = nullptr;
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&found), 0);
    if (length <= 0 || found == nullptr) return false;
    text->assign(reinterpret_cast<const char16_t*>(found), static_cast<size_t>(length));
    return true;
}

int SystemCompareText(const char16_t* a, const char16_t* b) { return lstrcmpW(Wide(a), Wide(b)); }

int SystemCompareFileNames(const char16_t* a, const char16_t* b) {
    // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN are 1, 2, 3; 0 is a failure, which no two
    // terminated texts give.
    return CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) - CSTR_EQUAL;
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

// Opens a disk file of at most `maxBytes` bytes for reading; INVALID_HANDLE_VALUE with the
// last error set otherwise.
HANDLE OpenDiskFileToRead(const char16_t* path, uint64_t maxBytes, uint64_t* size) {
    const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER length;
    DWORD failure = ERROR_SUCCESS;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        failure = ERROR_INVALID_FUNCTION;
    } else if (!GetFileSizeEx(file, &length)) {
        failure = GetLastError();
    } else if (static_cast<uint64_t>(length.QuadPart) > maxBytes) {
        failure = ERROR_FILE_TOO_LARGE;
    }
    if (failure != ERROR_SUCCESS) {
        CloseHandle(file);
        SetLastError(failure);
        return INVALID_HANDLE_VALUE;
    }
    *size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

PlatformHandle SystemOpenFileToRead(const char16_t* path, uint64_t maxBytes) {
    uint64_t size = 0;
    const HANDLE file = OpenDiskFileToRead(path, maxBytes, &size);
    return file == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle
                                        : reinterpret_cast<PlatformHandle>(file);
}

bool SystemReadFile(PlatformHandle file, void* buffer, uint32_t size, uint32_t* got) {
    DWORD read = 0;
    if (!ReadFile(ToHandle(file), buffer, size, &read, nullptr)) return false;
    *got = read;
    return true;
}

bool SystemSeekFile(PlatformHandle file, uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(ToHandle(file), to, nullptr, FILE_BEGIN) != FALSE;
}

bool SystemSetFileSize(PlatformHandle file, uint64_t size) {
    return SystemSeekFile(file, size) && SetEndOfFile(ToHandle(file)) != FALSE;
}

bool SystemMapFile(const char16_t* path, uint64_t maxBytes, const uint8_t** view, uint64_t* size) {
    *view = nullptr;
    *size = 0;
    uint64_t length = 0;
    const HANDLE file = OpenDiskFileToRead(path, maxBytes, &length);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (length == 0) {  // an empty file cannot be mapped
        CloseHandle(file);
        return true;
    }
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* mapped =
        mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    const DWORD failure = mapped == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (mapping != nullptr) CloseHandle(mapping);  // the view keeps the mapping and the file
    CloseHandle(file);
    if (mapped == nullptr) {
        SetLastError(failure);
        return false;
    }
    *view = static_cast<const uint8_t*>(mapped);
    *size = length;
    return true;
}

void SystemUnmapFile(const uint8_t* view, uint64_t) {
    if (view != nullptr) UnmapViewOfFile(view);
}

constexpr PlatformCalls kSystemTable = {
#define PLATFORM_CALL(Result, Name, Parameters) System##Name,
#include "platform/call_list.inc"
#undef PLATFORM_CALL
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
        const HANDLE file = CreateFileW(Wide(candidate.c_str()), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
