// Folders held open, and everything the launcher does inside them, relative to their handles.
#include <windows.h>
// After windows.h, which it needs.
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

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
                      PSECURITY_DESCRIPTOR security, HANDLE* out, bool* opened = nullptr,
                      ULONG objectFlags = 0) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(Wide(name));
    text.Length = static_cast<USHORT>(std::char_traits<char16_t>::length(name) * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE | objectFlags, folder->handle,
                               security);
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

}  // namespace

PlatformHandle SystemOpenFolder(const char16_t* path) {
    const HANDLE handle = CreateFileW(Wide(path), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle : NewHeld(handle);
}

namespace {

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

}  // namespace

PlatformHandle SystemOpenSubFolder(PlatformHandle folder, const char16_t* name) {
    return HoldSubFolder(folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | DELETE, FILE_OPEN);
}

PlatformHandle SystemMakeSubFolder(PlatformHandle folder, const char16_t* name) {
    return HoldSubFolder(
        folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
        FILE_OPEN_IF);
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

namespace {

// FILE_RENAME_INFORMATION with room for a name of one step.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[256];
};

}  // namespace

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

PlatformHandle SystemPinFolder(PlatformHandle folder) {
    if (folder == kInvalidPlatformHandle) return kInvalidPlatformHandle;
    // Listing is a reading access, so the share mode counts (an open for attributes only would
    // stop nothing); writing stays shared, as the launcher's own handle still adds files.
    HANDLE handle = nullptr;
    const NTSTATUS status =
        OpenRelative(ToHeld(folder), u"", FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_DIRECTORY_FILE,
                     FILE_ATTRIBUTE_NORMAL, nullptr, &handle, nullptr, OBJ_INHERIT);
    return NT_SUCCESS(status) ? FromHandle(handle) : kInvalidPlatformHandle;
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

namespace {

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

}  // namespace

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

namespace {

bool SetAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

}  // namespace

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
