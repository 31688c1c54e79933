// Files read and written in pieces: the packing tool's input and output.
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

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

}  // namespace

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

bool SystemFileSize(PlatformHandle file, uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(ToHandle(file), &length)) return false;
    *size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

PlatformHandle SystemCreateFileBeside(const char16_t* path, std::u16string* created, bool* inUse) {
    *created = path;
    *created += u".part";
    *inUse = false;
    const wchar_t* name = Wide(created->c_str());
    // No sharing: while it is written, nobody else may open or delete it.
    auto create = [name] {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE file = create();
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        // Left by a process that ended without removing it: replaced. The one that another
        // process is writing cannot be deleted.
        if (DeleteFileW(name)) {
            file = create();
        } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
            *inUse = true;
        }
    }
    return file == INVALID_HANDLE_VALUE ? kInvalidPlatformHandle
                                        : reinterpret_cast<PlatformHandle>(file);
}

bool SystemFinishFile(PlatformHandle file) {
    const bool flushed = FlushFileBuffers(ToHandle(file)) != FALSE;
    bool closed = false;
    KeepingLastError([&] { closed = CloseHandle(ToHandle(file)) != FALSE; });
    return flushed && closed;
}

void SystemNoteFileTooLarge() { SetLastError(ERROR_FILE_TOO_LARGE); }
