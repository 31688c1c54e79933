// The folder operations of the unpacking driver: joining a folder and a name, and emptying a
// folder tree of its files.
#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "zip/path_rules.h"

namespace {

// Writes the parts one after another into the zero-filled buffer. False when they need more than
// its 259 characters: a cut path would name some other file or folder, so it must not be used.
bool FormatPath(char16_t (&buffer)[kPathUnits], std::initializer_list<const char16_t*> parts) {
    std::fill(std::begin(buffer), std::end(buffer), u'\0');
    size_t used = 0;
    for (const char16_t* part : parts) {
        for (; *part != 0; ++part) {
            if (used == kPathUnits - 1) return false;
            buffer[used++] = *part;
        }
    }
    return true;
}

// Removes one entry found in a folder being cleared. A link is removed itself: its target may lie
// anywhere, and the launcher may run with more rights than whoever placed the link.
void ClearEntry(const char16_t* path, uint32_t foundAttributes) {
    if ((foundAttributes & kAttributeReparsePoint) != 0) {
        RemoveLink(path, foundAttributes);
    } else if ((foundAttributes & kAttributeDirectory) != 0) {
        ClearFolder(path);  // the sub-folder itself stays
    } else {
        // A read-only file cannot be deleted; files held open elsewhere simply stay.
        const uint32_t attributes = PlatformGetFileAttributes(path);
        if (attributes != kInvalidAttributes) {
            PlatformSetFileAttributes(path, attributes & ~kAttributeReadOnly);
        }
        PlatformDeleteFile(path);
    }
}

}  // namespace

bool RemoveLink(const char16_t* path, uint32_t attributes) {
    if ((attributes & kAttributeDirectory) != 0) return PlatformRemoveDirectory(path);
    return PlatformDeleteFile(path);
}

std::u16string JoinPath(const std::u16string& directory, const std::u16string& name) {
    if (!name.empty() && name[0] == u'\\') return directory + name;
    return directory + u'\\' + name;
}

void ClearFolder(const char16_t* folder) {
    if (std::char_traits<char16_t>::length(folder) < 4) return;  // a drive root such as D:\ has 3
    char16_t pattern[kPathUnits];
    if (!FormatPath(pattern, {folder, u"\\*"})) return;
    PlatformFoundEntry found;
    PlatformHandle search = PlatformFindFirstFile(pattern, &found);
    if (search == kInvalidPlatformHandle) return;
    do {
        if (PlatformCompareText(found.name, u".") == 0 ||
            PlatformCompareText(found.name, u"..") == 0) {
            continue;
        }
        char16_t entryPath[kPathUnits];
        if (FormatPath(entryPath, {folder, u"\\", found.name})) {
            ClearEntry(entryPath, found.attributes);
        }
    } while (PlatformFindNextFile(search, &found));
    PlatformFindClose(search);
}
