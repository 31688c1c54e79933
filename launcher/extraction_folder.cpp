// The folder operations of the unpacking driver: joining a folder and a name, emptying a held
// folder tree of its files, and checking that it holds only what this run wrote.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {

bool IsDotEntry(const char16_t* name) {
    return PlatformCompareText(name, u".") == 0 || PlatformCompareText(name, u"..") == 0;
}

// Calls `visit` for every entry of the held folder but "." and "..". True when the folder could
// be listed to its end and every visit returned true.
template <typename Visit>
bool ForEachEntry(PlatformHandle folder, Visit visit) {
    const PlatformHandle search = PlatformOpenSearch(folder);
    if (search == kInvalidPlatformHandle) return false;
    bool all = true;
    PlatformFoundEntry found;
    int next;
    while ((next = PlatformNextEntry(search, &found)) > 0) {
        if (!IsDotEntry(found.name)) all = visit(found) && all;
    }
    PlatformCloseSearch(search);
    return next == 0 && all;
}

// Calls `inside` with the sub-folder `name` of a held folder, held itself for the time: what the
// enumeration found, not whatever a path might lead to later. False when it cannot be held.
template <typename Inside>
bool InSubFolder(PlatformHandle folder, const char16_t* name, Inside inside) {
    const PlatformHandle sub = PlatformHoldFolder(folder, name);
    if (sub == kInvalidPlatformHandle) return false;
    const bool done = inside(sub);
    PlatformReleaseFolder(sub);
    return done;
}

// Removes one entry found in a folder being cleared. A link is removed itself: its target may lie
// anywhere, and the launcher may run with more rights than whoever placed the link.
bool ClearEntry(PlatformHandle folder, const PlatformFoundEntry& found) {
    if ((found.attributes & kAttributeReparsePoint) != 0) {
        return RemoveLink(folder, found.name, found.attributes);
    }
    if ((found.attributes & kAttributeDirectory) != 0) {
        // The sub-folder itself stays, made the launcher's own like the folder above it.
        return InSubFolder(folder, found.name, [](PlatformHandle sub) {
            const bool protectedNow = PlatformProtectFolder(sub);
            return ClearHeldFolder(sub) && protectedNow;
        });
    }
    // Deleted first: most files go at once, and their attributes are never read or changed. Where
    // the read-only bit keeps a file (Windows), it is cleared and the deletion tried again; files
    // held open elsewhere simply stay.
    if (PlatformDeleteFile(folder, found.name)) return true;
    if ((found.attributes & kAttributeReadOnly) == 0) return false;
    PlatformSetFileAttributes(folder, found.name, found.attributes & ~kAttributeReadOnly);
    return PlatformDeleteFile(folder, found.name);
}

// Each file below the held folder must be one of `unmatched`, which loses it; `prefix` is the
// folder's path relative to the extraction folder.
bool OnlyWrittenBelow(PlatformHandle folder, const std::u16string& prefix,
                      WrittenFiles* unmatched) {
    return ForEachEntry(folder, [&](const PlatformFoundEntry& found) {
        if ((found.attributes & kAttributeReparsePoint) != 0) return false;
        const std::u16string path = prefix.empty() ? found.name : prefix + u'\\' + found.name;
        if ((found.attributes & kAttributeDirectory) != 0) {
            return InSubFolder(folder, found.name, [&](PlatformHandle sub) {
                return OnlyWrittenBelow(sub, path, unmatched);
            });
        }
        // A file that another process keeps from being deleted (delete-pending ones included)
        // blocks the entry of its name, so it is never among the written ones.
        const auto match = unmatched->find(path);
        if (match == unmatched->end()) return false;
        unmatched->erase(match);
        return true;
    });
}

}  // namespace

bool RemoveLink(PlatformHandle folder, const char16_t* path, uint32_t attributes) {
    if ((attributes & kAttributeDirectory) != 0) return PlatformRemoveDirectory(folder, path);
    return PlatformDeleteFile(folder, path);
}

std::u16string JoinPath(const std::u16string& directory, const std::u16string& name) {
    if (!name.empty() && name[0] == u'\\') return directory + name;
    return directory + u'\\' + name;
}

bool ClearHeldFolder(PlatformHandle folder) {
    return ForEachEntry(
        folder, [folder](const PlatformFoundEntry& found) { return ClearEntry(folder, found); });
}

void ClearFolder(const char16_t* folder) {
    if (std::char_traits<char16_t>::length(folder) < 4) return;  // a drive root such as D:\ has 3
    InSubFolder(kNoFolder, folder, ClearHeldFolder);
}

bool HoldsOnlyWrittenFiles(PlatformHandle folder, WrittenFiles written) {
    return OnlyWrittenBelow(folder, u"", &written);
}
