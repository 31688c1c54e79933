// Files and folders as the end-to-end tests prepare and inspect them.
#pragma once

#include <windows.h>

#include <string>

#include "tests/e2e/tree_listing.h"

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
