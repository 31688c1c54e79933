// What the launcher does with the entries of a held folder: creating, opening, listing and
// removing them, relative to the folder's handle.
#include <windows.h>
// After windows.h, which it needs.
#include <winternl.h>

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
// The attribute bits a new file may be given (FILE_ATTRIBUTE_VALID_SET_FLAGS).
constexpr ULONG kSettableAttributes = 0x31A7;

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

bool SetAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// Whether the user the launcher acts for could delete the open `entry` of `folder`: either DELETE
// on it or FILE_DELETE_CHILD on the folder suffices. The read-only bit does not count: the user
// may delete past it (FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE) as the launcher does.
bool UserCouldDelete(HANDLE folder, HANDLE entry) {
    return UserCould(entry, DELETE) || UserCould(folder, FILE_DELETE_CHILD);
}

// Marks the open entry for deletion. The read-only bit keeps a file from deletion: it is taken
// off only from a file of one name (another name could lie outside the folder), and put back when
// the file stays.
Removal Delete(HANDLE entry, DWORD attributes, DWORD links) {
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const bool cleared =
        readOnly && links == 1 && SetAttributes(entry, attributes & ~FILE_ATTRIBUTE_READONLY);
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof(disposition))) {
        return Removal::Done;
    }
    // The file of a running program: the system refuses it (STATUS_CANNOT_DELETE).
    const Removal result =
        GetLastError() == ERROR_ACCESS_DENIED ? Removal::Running : Removal::Failed;
    if (cleared) SetAttributes(entry, attributes);
    return result;
}

}  // namespace

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

Removal SystemRemoveEntry(PlatformHandle folder, const char16_t* name, ActingFor who) {
    if (folder == kInvalidPlatformHandle || !IsStepName(name)) return Removal::Failed;
    HeldFolder* held = ToHeld(folder);
    HANDLE entry = nullptr;
    const NTSTATUS status = OpenRelative(
        held, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, FILE_ATTRIBUTE_NORMAL,
        nullptr, &entry);
    if (status == kStatusObjectNameNotFound || status == kStatusObjectPathNotFound) {
        return Removal::Done;
    }
    if (status == kStatusSharingViolation) return Removal::InUse;
    if (!NT_SUCCESS(status)) return Removal::Failed;
    const DWORD attributes = AttributesOf(entry);
    FILE_STANDARD_INFO standard{};
    Removal result = Removal::Failed;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof(standard)) &&
        IsEntryItself(held, entry, name)) {
        result = who == ActingFor::User && !UserCouldDelete(held->handle, entry)
                     ? Removal::Refused
                     : Delete(entry, attributes, standard.NumberOfLinks);
    }
    CloseHandle(entry);
    return result;
}
