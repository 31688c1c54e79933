// One launcher at a time, the new extraction folder, the folders moved aside, and the path the
// child is started under.
#include "launcher/extraction_folder.h"

#include <set>
#include <string>
#include <vector>

#include "launcher/folder_listing.h"

namespace {

// The lock of the launchers of one session: named after the folder it guards, and distinct from
// any name the application itself might take for its own single-instance check.
std::u16string LockName(const LauncherSettings& settings) {
    return settings.folderName + u".launcher";
}

// A folder moved aside is named after the folder, ".old-" and a number.
std::u16string AsidePrefix(const LauncherSettings& settings) {
    return settings.folderName + u".old-";
}
constexpr size_t kMaxAsideDigits = 9;

// Deeper than this, removal leaves what is below: the launcher never makes folders that deep (a
// path holds at most 259 units), and recursion must stay within the stack.
constexpr int kMaxRemovalDepth = 128;

// The number of a folder that a run moved aside (its name `prefix` and digits), or 0 for any
// other name.
uint32_t AsideNumber(const char16_t* name, const std::u16string& prefix) {
    const std::u16string text = name;
    if (text.size() <= prefix.size() || text.size() > prefix.size() + kMaxAsideDigits ||
        PlatformCompareFileNames(text.substr(0, prefix.size()).c_str(), prefix.c_str()) != 0) {
        return 0;
    }
    uint32_t number = 0;
    for (size_t i = prefix.size(); i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return 0;
        number = number * 10 + static_cast<uint32_t>(text[i] - u'0');
    }
    return number;
}

std::u16string AsideName(const std::u16string& prefix, uint32_t number) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + number % 10));
        number /= 10;
    } while (number != 0);
    return prefix + digits;
}

// What the temporary directory holds under the folder's name and the names of folders moved aside.
struct TempListing {
    bool listed;
    bool folderPresent;
    uint32_t folderAttributes;
    std::set<uint32_t> asideNumbers;
};

TempListing ListTemp(PlatformHandle temp, const LauncherSettings& settings) {
    TempListing listing{false, false, 0, {}};
    const std::u16string& folderName = settings.folderName;
    const std::u16string prefix = AsidePrefix(settings);
    listing.listed = ForEachEntry(temp, folderName.c_str(), [&](const PlatformFoundEntry& found) {
        if (PlatformCompareFileNames(found.name, folderName.c_str()) == 0) {
            listing.folderPresent = true;
            listing.folderAttributes = found.attributes;
        } else if (const uint32_t number = AsideNumber(found.name, prefix)) {
            listing.asideNumbers.insert(number);
        }
        return true;
    });
    return listing;
}

// Moves the old folder aside, unless its main program is in use.
FolderState MoveOldFolderAside(PlatformHandle temp, const TempListing& listing,
                               const LauncherSettings& settings) {
    const char16_t* folderName = settings.folderName.c_str();
    const PlatformHandle old = PlatformOpenSubFolder(temp, folderName);
    if (old == kInvalidPlatformHandle) return FolderState::Unavailable;
    // A running program's file cannot be removed: then the application runs from this folder, and
    // nothing of it may be touched. Otherwise the program is gone and the rest follows later.
    if (!PlatformRemoveEntry(old, settings.mainProgram.c_str())) {
        PlatformReleaseFolder(old);
        return FolderState::ApplicationRunning;
    }
    uint32_t number = 1;
    while (listing.asideNumbers.count(number) != 0) ++number;
    const std::u16string aside = AsideName(AsidePrefix(settings), number);
    const bool moved = PlatformRenameFolder(old, temp, folderName, aside.c_str());
    PlatformReleaseFolder(old);
    return moved ? FolderState::Ready : FolderState::Unavailable;
}

// Clears the way for the new folder: whatever stands under its name goes, or the state says why
// it cannot.
FolderState ClearFolderName(PlatformHandle temp, const LauncherSettings& settings) {
    const TempListing listing = ListTemp(temp, settings);
    if (!listing.listed) return FolderState::Unavailable;
    if (!listing.folderPresent) return FolderState::Ready;
    // A link is removed itself, never what it leads to.
    if ((listing.folderAttributes & kAttributeReparsePoint) != 0) {
        return PlatformRemoveEntry(temp, settings.folderName.c_str()) ? FolderState::Ready
                                                                      : FolderState::Unavailable;
    }
    // A file, say, is somebody's own: it stays, and nothing can be unpacked.
    if ((listing.folderAttributes & kAttributeDirectory) == 0) return FolderState::Unavailable;
    return MoveOldFolderAside(temp, listing, settings);
}

// Removes the folder `name` of a held folder with all it holds, never through a link.
void RemoveTree(PlatformHandle parent, const char16_t* name, int depth) {
    const PlatformHandle folder = PlatformOpenSubFolder(parent, name);
    if (folder == kInvalidPlatformHandle) return;
    ForEachEntry(folder, nullptr, [&](const PlatformFoundEntry& found) {
        const bool realFolder = (found.attributes & kAttributeDirectory) != 0 &&
                                (found.attributes & kAttributeReparsePoint) == 0;
        if (realFolder && depth < kMaxRemovalDepth) {
            RemoveTree(folder, found.name, depth + 1);
        } else {
            PlatformRemoveEntry(folder, found.name);
        }
        return true;
    });
    PlatformReleaseFolder(folder);
    PlatformRemoveEntry(parent, name);
}

// Whether two paths name the same steps, however many separators stand between them.
bool SamePathText(const std::u16string& a, const std::u16string& b) {
    const auto collapsed = [](const std::u16string& path) {
        std::u16string out;
        for (char16_t c : path) {
            const bool separator = c == u'\\' || c == u'/';
            if (separator && !out.empty() && out.back() == u'\\') continue;
            out += separator ? u'\\' : c;
        }
        return out;
    };
    return PlatformCompareFileNames(collapsed(a).c_str(), collapsed(b).c_str()) == 0;
}

}  // namespace

LauncherLock AcquireLauncherLock(const LauncherSettings& settings) {
    LauncherLock lock{kInvalidPlatformHandle, false};
    lock.handle = PlatformAcquireLock(LockName(settings).c_str(), kLauncherWaitMs, &lock.waited);
    return lock;
}

void ReleaseLauncherLock(const LauncherLock& lock) {
    if (lock.handle != kInvalidPlatformHandle) PlatformReleaseLock(lock.handle);
}

FreshFolder PrepareFreshFolder(const std::u16string& tempPath, const LauncherSettings& settings) {
    FreshFolder fresh{FolderState::Unavailable, kInvalidPlatformHandle, kInvalidPlatformHandle};
    fresh.temp = PlatformOpenFolder(tempPath.c_str());
    if (fresh.temp == kInvalidPlatformHandle) return fresh;
    fresh.state = ClearFolderName(fresh.temp, settings);
    if (fresh.state != FolderState::Ready) return fresh;
    // Made in one step, protected from the start: nothing of anybody else's can be inside.
    fresh.folder = PlatformCreateFreshFolder(fresh.temp, settings.folderName.c_str());
    if (fresh.folder == kInvalidPlatformHandle) fresh.state = FolderState::Unavailable;
    return fresh;
}

void ReleaseFreshFolder(FreshFolder* fresh) {
    if (fresh->folder != kInvalidPlatformHandle) PlatformReleaseFolder(fresh->folder);
    if (fresh->temp != kInvalidPlatformHandle) PlatformReleaseFolder(fresh->temp);
    fresh->folder = kInvalidPlatformHandle;
    fresh->temp = kInvalidPlatformHandle;
}

void RemoveFoldersMovedAside(PlatformHandle temp, const LauncherSettings& settings) {
    const std::u16string prefix = AsidePrefix(settings);
    std::vector<std::u16string> aside;
    ForEachEntry(temp, prefix.c_str(), [&](const PlatformFoundEntry& found) {
        if (AsideNumber(found.name, prefix) != 0) aside.push_back(found.name);
        return true;
    });
    for (const std::u16string& name : aside) RemoveTree(temp, name.c_str(), 0);
}

std::u16string ChildFolderText(PlatformHandle folder, const std::u16string& folderText) {
    std::u16string finalPath;
    if (!PlatformFinalPath(folder, &finalPath)) return std::u16string();
    return SamePathText(folderText, finalPath) ? folderText : finalPath;
}
