#include "tests/e2e/tree_listing.h"

namespace {

void ListInto(const std::wstring& folder, const std::wstring& prefix,
              std::map<std::wstring, TreeEntry>& out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        TreeEntry entry;
        entry.attributes = found.dwFileAttributes;
        entry.creationTime = found.ftCreationTime;
        entry.accessTime = found.ftLastAccessTime;
        entry.writeTime = found.ftLastWriteTime;
        entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[prefix + name + L"\\"] = entry;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                ListInto(folder + L"\\" + name, prefix + name + L"\\", out);
            }
        } else {
            out[prefix + name] = entry;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::map<std::wstring, TreeEntry> ListTree(const std::wstring& folder) {
    std::map<std::wstring, TreeEntry> out;
    std::wstring root = folder;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    ListInto(root, L"", out);
    return out;
}

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}
