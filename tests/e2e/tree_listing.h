// A listing of a folder tree as the system reports it: attribute bits, times and sizes.
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
// a closing "\"). Links to folders are listed but not entered.
std::map<std::wstring, TreeEntry> ListTree(const std::wstring& folder);

// UTF-16 text as UTF-8, for messages and listings.
std::string Utf8(const std::wstring& text);
