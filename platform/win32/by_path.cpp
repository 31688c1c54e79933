// Files and folders by path: the extraction of an entry to a path, and the packing tool's walk.
#include <cstring>
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

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

bool SystemListFolder(const char16_t* folder, ListedEntryVisitor visit, void* context) {
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

bool SystemSameFile(const char16_t* a, const char16_t* b) {
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

bool SystemReplaceFile(const char16_t* from, const char16_t* to) {
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}
