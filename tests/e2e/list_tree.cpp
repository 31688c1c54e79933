// list_tree FOLDER: prints every file and folder below FOLDER with the attribute bits, last write
// time (UTC) and size that the system reports, one line each. Used by the main job's Wine run.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/e2e/tree_listing.h"

namespace {

struct AttributeLetter {
    DWORD bit;
    char letter;
};

// Letters as the system's own tools show them.
constexpr AttributeLetter kLetters[] = {
    {FILE_ATTRIBUTE_DIRECTORY, 'D'}, {FILE_ATTRIBUTE_ARCHIVE, 'A'},
    {FILE_ATTRIBUTE_READONLY, 'R'},  {FILE_ATTRIBUTE_HIDDEN, 'H'},
    {FILE_ATTRIBUTE_SYSTEM, 'S'},    {FILE_ATTRIBUTE_REPARSE_POINT, 'L'},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_tree FOLDER\n");
        return 2;
    }
    const DWORD attributes = GetFileAttributesW(argv[1]);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "list_tree: %s is not a folder\n", Utf8(argv[1]).c_str());
        return 1;
    }
    for (const auto& [name, entry] : ListTree(argv[1])) {
        char letters[sizeof(kLetters) + 1] = {};
        size_t count = 0;
        for (const AttributeLetter& letter : kLetters) {
            letters[count++] = (entry.attributes & letter.bit) ? letter.letter : '-';
        }
        SYSTEMTIME time = {};
        FileTimeToSystemTime(&entry.writeTime, &time);
        std::printf("0x%04lx %s %04u-%02u-%02u %02u:%02u:%02u UTC %10llu  %s\n",
                    static_cast<unsigned long>(entry.attributes), letters, time.wYear, time.wMonth,
                    time.wDay, time.wHour, time.wMinute, time.wSecond,
                    static_cast<unsigned long long>(entry.size), Utf8(name).c_str());
    }
    return 0;
}
