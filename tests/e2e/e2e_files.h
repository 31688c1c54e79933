// Files and folders as the end-to-end tests prepare and inspect them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

struct TreeEntry {
    DWORD attributes = 0;
    FILETIME creationTime = {};
    FILETIME accessTime = {};
    FILETIME writeTime = {};
    uint64_t size = 0;
};

// Every file and folder below `folder`, by path relative to it ("\" between steps, folders with
// a closing "\").
std::map<std::wstring, TreeEntry> ListTree(const std::wstring& folder);

// Removes `path` and everything below it, read-only files included; nothing when it is absent.
void RemoveTree(const std::wstring& path);

// Creates the folder and any missing parents.
void MakeFolders(const std::wstring& path);

// Writes `content` to a new file at `path` and then gives it `attributes`.
void MakeFile(const std::wstring& path, const std::string& content,
              DWORD attributes = FILE_ATTRIBUTE_NORMAL);

std::string ReadFileBytes(const std::wstring& path);

bool PathExists(const std::wstring& path);

// The FILETIME of a calendar time read as UTC.
FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);
