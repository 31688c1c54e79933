#include "tests/e2e/e2e_files.h"

#include <gtest/gtest.h>

void RemoveTree(const std::wstring& path) {
    std::wstring root = path;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    if (GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    // On drive Z: (the Unix root) the Unix way: Wine's own calls act on what a Unix link leads to.
    if (root.size() > 3 && (root.compare(0, 3, L"Z:\\") == 0 || root.compare(0, 3, L"z:\\") == 0)) {
        StartUnixProgram(L"/bin/rm", {L"-rf", UnixPath(root)});
        for (int i = 0; i < 200 && GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
             ++i) {
            Sleep(50);
        }
        return;
    }
    const DWORD attributes = GetFileAttributesW(root.c_str());
    SetFileAttributesW(root.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(root.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveTree(root + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(root.c_str());
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
    ASSERT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeFile(const std::wstring& path, const std::string& content, DWORD attributes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, content.size());
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string content;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return content;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0) {
        content.append(block, got);
    }
    CloseHandle(file);
    return content;
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    FILETIME out = {};
    SystemTimeToFileTime(&time, &out);
    return out;
}

std::wstring UnixPath(const std::wstring& path) {
    std::wstring converted = path.substr(path.size() >= 2 && path[1] == L':' ? 2 : 0);
    for (wchar_t& c : converted) {
        if (c == L'\\') c = L'/';
    }
    return converted;
}

bool StartUnixProgram(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) commandLine += L" \"" + argument + L"\"";
    const std::wstring application = L"Z:" + program;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    // Wine gives no handle to wait on for a Unix process.
    if (info.hThread != nullptr) CloseHandle(info.hThread);
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    return true;
}

bool WaitForReparsePoint(const std::wstring& path, bool present) {
    for (int i = 0; i < 100; ++i) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool is = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (is == present) return true;
        Sleep(50);
    }
    return false;
}
