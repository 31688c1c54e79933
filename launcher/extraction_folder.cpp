// The folder operations of the unpacking driver: joining a folder and a name, emptying a held
// folder tree of its files, and checking that it holds only what this run wrote.
#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

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
    // The listing tells which files the read-only bit would keep (Windows): that bit is cleared
    // first, so a file costs one call or two and its attributes are never read. Files held open
    // elsewhere simply stay.
    if ((found.attributes & kAttributeReadOnly) != 0) {
        PlatformSetFileAttributes(folder, found.name, found.attributes & ~kAttributeReadOnly);
    }
    return PlatformDeleteFile(folder, found.name);
}

// The written files found so far in the final check.
struct Matches {
    const WrittenFiles& written;
    std::vector<const std::u16string*> found;
    WrittenFiles::const_iterator last;  // the latest match, or written.end()
};

bool SameName(const std::u16string& a, const std::u16string& b) {
    return PlatformCompareFileNames(a.c_str(), b.c_str()) == 0;
}

// Takes the written file of that path as found; false when there is none. A folder lists its files
// in the file system's order or its reverse on most systems, so the neighbours of the latest match
// are looked at first.
bool MatchWritten(const std::u16string& path, Matches* matches) {
    const WrittenFiles& written = matches->written;
    auto match = written.end();
    if (matches->last != written.end()) {
        const auto after = std::next(matches->last);
        if (after != written.end() && SameName(*after, path)) {
            match = after;
        } else if (matches->last != written.begin() && SameName(*std::prev(matches->last), path)) {
            match = std::prev(matches->last);
        }
    }
    if (match == written.end()) match = written.find(path);
    if (match == written.end()) return false;
    matches->found.push_back(&*match);
    matches->last = match;
    return true;
}

// Each file below the held folder must be one of the written ones. `path` holds the folder's path
// relative to the extraction folder (and gets back to it).
bool OnlyWrittenBelow(PlatformHandle folder, std::u16string* path, Matches* matches) {
    const size_t folderLength = path->size();
    return ForEachEntry(folder, [&](const PlatformFoundEntry& found) {
        if ((found.attributes & kAttributeReparsePoint) != 0) return false;
        if (folderLength != 0) *path += u'\\';
        *path += found.name;
        // A file that another process keeps from being deleted (delete-pending ones included)
        // blocks the entry of its name, so it is never among the written ones.
        const bool fine = (found.attributes & kAttributeDirectory) != 0
                              ? InSubFolder(folder, found.name,
                                            [&](PlatformHandle sub) {
                                                return OnlyWrittenBelow(sub, path, matches);
                                            })
                              : MatchWritten(*path, matches);
        path->resize(folderLength);
        return fine;
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

bool HoldsOnlyWrittenFiles(PlatformHandle folder, const WrittenFiles& written) {
    std::u16string path;
    Matches matches{written, {}, written.end()};
    if (!OnlyWrittenBelow(folder, &path, &matches)) return false;
    // Each written file found once: two files whose names the file system takes for one (a case
    // variant planted beside it) must not pass as the one.
    std::vector<const std::u16string*>& found = matches.found;
    std::sort(found.begin(), found.end(), std::less<const std::u16string*>());
    return std::adjacent_find(found.begin(), found.end()) == found.end();
}
