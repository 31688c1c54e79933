// Folders held open: opening, making, renaming and pinning them, relative to their handles.
#include <windows.h>
// After windows.h, which it needs.
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

// STATUS_OPLOCK_BREAK_IN_PROGRESS: a success code of an open that FILE_COMPLETE_IF_OPLOCKED let
// through while another process's oplock is being broken.
constexpr NTSTATUS kStatusOplockBreakInProgress = static_cast<NTSTATUS>(0x00000108);
// IO_STATUS_BLOCK.Information of a create that opened an existing file.
constexpr ULONG_PTR kFileOpened = 1;
// FILE_FS_DEVICE_INFORMATION's characteristic of a network share.
constexpr ULONG kFileRemoteDevice = 0x10;

// NtCreateFile of `name`, relative to `root` when there is one, synchronous, without regard to
// case. It never waits on another process's oplock: an open that would, counts as a sharing
// violation (the entry is in use). `opened` tells whether an existing file was opened.
NTSTATUS OpenNt(HANDLE root, const wchar_t* name, USHORT nameBytes, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, ULONG attributes, PSECURITY_DESCRIPTOR security,
                ULONG objectFlags, HANDLE* out, bool* opened) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name);
    text.Length = nameBytes;
    text.MaximumLength = nameBytes;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE | objectFlags, root, security);
    IO_STATUS_BLOCK io{};
    NTSTATUS status = NtCreateFile(
        out, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share, disposition,
        options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED, nullptr, 0);
    if (status == kStatusOplockBreakInProgress) {
        CloseHandle(*out);
        status = kStatusSharingViolation;
    }
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

PlatformHandle NewHeld(HANDLE handle) {
    return reinterpret_cast<PlatformHandle>(new HeldFolder{handle, {}});
}

// Whether an opened folder is a real folder and the entry it was opened by.
bool IsRealFolder(HeldFolder* folder, HANDLE opened, const char16_t* name) {
    const DWORD attributes = AttributesOf(opened);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && IsEntryItself(folder, opened, name);
}

// Opens the sub-folder `name`, or makes it with `disposition`, and holds it when it is a real
// folder and the entry itself. `share` without FILE_SHARE_DELETE: it cannot be renamed or removed
// while held.
PlatformHandle HoldSubFolder(PlatformHandle parent, const char16_t* name, ACCESS_MASK access,
                             ULONG share, ULONG disposition) {
    if (parent == kInvalidPlatformHandle || !IsStepName(name)) return kInvalidPlatformHandle;
    HeldFolder* folder = ToHeld(parent);
    HANDLE handle = nullptr;
    bool opened = true;
    if (!NT_SUCCESS(OpenRelative(folder, name, access | FILE_READ_ATTRIBUTES | READ_CONTROL, share,
                                 disposition, FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, nullptr,
                                 &handle, &opened))) {
        return kInvalidPlatformHandle;
    }
    // One this call made inside a held folder is what it is; one that was there is looked at.
    if (opened && !IsRealFolder(folder, handle, name)) {
        CloseHandle(handle);
        return kInvalidPlatformHandle;
    }
    return NewHeld(handle);
}

// FILE_RENAME_INFORMATION with room for a name of one step.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[256];
};

}  // namespace

NTSTATUS OpenRelative(HeldFolder* folder, const char16_t* name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes,
                      PSECURITY_DESCRIPTOR security, HANDLE* out, bool* opened, ULONG objectFlags) {
    const size_t units = std::char_traits<char16_t>::length(name);
    return OpenNt(folder->handle, Wide(name), static_cast<USHORT>(units * sizeof(wchar_t)), access,
                  share, disposition, options | FILE_OPEN_REPARSE_POINT, attributes, security,
                  objectFlags, out, opened);
}

bool IsStepName(const char16_t* name) {
    const std::u16string text = name;
    return !text.empty() && text != u"." && text != u".." &&
           text.find_first_of(u"\\/:") == std::u16string::npos && text.size() <= 255;
}

DWORD AttributesOf(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))
               ? basic.FileAttributes
               : INVALID_FILE_ATTRIBUTES;
}

bool IsEntryItself(HeldFolder* folder, HANDLE entry, const char16_t* name) {
    const std::wstring* base = FolderFinalPath(folder);
    std::wstring path;
    if (base == nullptr || !FinalPathOf(entry, &path)) return false;
    std::wstring expected = *base;
    if (expected.back() != L'\\') expected += L'\\';
    expected += Wide(name);
    return CompareStringOrdinal(path.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

PlatformHandle SystemOpenFolder(const char16_t* path) {
    // The system's own form of the path, so that the open can be told not to wait on an oplock.
    UNICODE_STRING native{};
    if (!RtlDosPathNameToNtPathName_U(Wide(path), &native, nullptr, nullptr)) {
        return kInvalidPlatformHandle;
    }
    HANDLE handle = nullptr;
    const NTSTATUS status = OpenNt(
        nullptr, native.Buffer, native.Length, FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, FILE_DIRECTORY_FILE,
        FILE_ATTRIBUTE_NORMAL, nullptr, 0, &handle, nullptr);
    RtlFreeUnicodeString(&native);
    return NT_SUCCESS(status) ? NewHeld(handle) : kInvalidPlatformHandle;
}

PlatformHandle SystemOpenSubFolder(PlatformHandle folder, const char16_t* name, bool hold) {
    if (!hold) {
        return HoldSubFolder(folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN);
    }
    return HoldSubFolder(folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN);
}

PlatformHandle SystemMakeSubFolder(PlatformHandle folder, const char16_t* name) {
    return HoldSubFolder(
        folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF);
}

PlatformHandle SystemCreateFreshFolder(PlatformHandle parent, const char16_t* name) {
    if (parent == kInvalidPlatformHandle || !IsStepName(name) || FolderSecurity() == nullptr) {
        return kInvalidPlatformHandle;
    }
    HANDLE handle = nullptr;
    // Only reading is shared: no other handle may be opened on it to add to it (FILE_ADD_FILE is
    // a writing access), rename or delete it, while it is held.
    const NTSTATUS status =
        OpenRelative(ToHeld(parent), name,
                     FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                         FILE_READ_ATTRIBUTES | READ_CONTROL,
                     FILE_SHARE_READ, FILE_CREATE, FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL,
                     FolderSecurity(), &handle);
    return NT_SUCCESS(status) ? NewHeld(handle) : kInvalidPlatformHandle;
}

bool SystemRenameFolder(PlatformHandle moved, PlatformHandle folder, const char16_t*,
                        const char16_t* newName, ActingFor who) {
    if (moved == kInvalidPlatformHandle || folder == kInvalidPlatformHandle ||
        !IsStepName(newName)) {
        return false;
    }
    const HANDLE parent = ToHeld(folder)->handle;
    // The user could move it when allowed to delete it, or anything in the folder, and to add a
    // folder there.
    if (who == ActingFor::User &&
        !((UserCould(ToHeld(moved)->handle, DELETE) || UserCould(parent, FILE_DELETE_CHILD)) &&
          UserCould(parent, FILE_ADD_SUBDIRECTORY))) {
        return false;
    }
    RenameInformation rename{};
    rename.replaceIfExists = FALSE;
    rename.rootDirectory = parent;
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

bool SystemVolumeKeepsAccessLists(PlatformHandle folder) {
    if (folder == kInvalidPlatformHandle) return false;
    const HANDLE handle = ToHeld(folder)->handle;
    DWORD flags = 0;
    struct {
        ULONG deviceType;
        ULONG characteristics;
    } device{};  // FILE_FS_DEVICE_INFORMATION
    IO_STATUS_BLOCK io{};
    return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr,
                                         0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0 &&
           NT_SUCCESS(NtQueryVolumeInformationFile(handle, &io, &device, sizeof(device),
                                                   FileFsDeviceInformation)) &&
           (device.characteristics & kFileRemoteDevice) == 0;
}
