// Files and folders as the end-to-end tests prepare and inspect them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/tree_listing.h"

// Removes `path` and everything below it, read-only files included; nothing when it is absent.
// Links are removed themselves, never what they lead to (on drive Z:, where tests make them).
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

// The Unix path of a path on drive Z:, which Wine maps to the Unix root.
std::wstring UnixPath(const std::wstring& path);

// Starts a Unix program (Wine starts those too) with the arguments, each passed whole. Wine runs
// it on its own, with nothing to wait for: check what it made. Links made so show to Win32 code
// as folders with the reparse-point bit.
bool StartUnixProgram(const std::wstring& program, const std::vector<std::wstring>& arguments);

// Waits up to five seconds until a reparse point is at `path` (or, with `present` false, none
// is); false when that did not happen.
bool WaitForReparsePoint(const std::wstring& path, bool present);
