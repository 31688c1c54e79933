// The extraction folder's policy: one launcher at a time, the new folder, what an elevated
// launcher may touch, the folders moved aside, and the path the child is started under.
#include "launcher/folder_policy.h"

#include <set>
#include <string>
#include <vector>

#include "launcher/folder_listing.h"

namespace {

// The lock of the launchers of one session: named after the folder it guards, and distinct from
// any name the application itself might take for its own single-instance check.
std::u16string LockName(const FolderNames& names) { return names.folder + u".launcher"; }

// A folder moved aside is named after the folder, ".old-" and a number.
std::u16string AsidePrefix(const FolderNames& names) { return names.folder + u".old-"; }
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

// Who acts on an existing folder: an elevated launcher acts for its user on whatever it did not
// make itself, so that the system judges by the user's rights. What a launcher made (owned by
// Administrators, its protected access list) only a launcher could have made; it is its own.
ActingFor ActorFor(PlatformHandle folder, Elevation elevation) {
    return elevation == Elevation::OverUser && !PlatformMadeByLauncher(folder)
               ? ActingFor::User
               : ActingFor::Launcher;
}

// What the temporary directory holds under the folder's name and the names of folders moved aside.
struct TempListing {
    bool listed;
    bool folderPresent;
    uint32_t folderAttributes;
    std::set<uint32_t> asideNumbers;
};

TempListing ListTemp(PlatformHandle temp, const FolderNames& names) {
    TempListing listing{false, false, 0, {}};
    const std::u16string prefix = AsidePrefix(names);
    listing.listed = ForEachEntry(temp, names.folder.c_str(), [&](const PlatformFoundEntry& found) {
        if (PlatformCompareFileNames(found.name, names.folder.c_str()) == 0) {
            listing.folderPresent = true;
            listing.folderAttributes = found.attributes;
        } else if (const uint32_t number = AsideNumber(found.name, prefix)) {
            listing.asideNumbers.insert(number);
        }
        return true;
    });
    return listing;
}

// Removes the main program from the old folder, to learn whether it runs: a running program's
// file cannot be removed (Windows refuses it), and then the application runs from this folder.
Removal RemoveMainProgramUnlessRunning(PlatformHandle old, const FolderNames& names,
                                       ActingFor who) {
    return PlatformRemoveEntry(old, names.mainProgram.c_str(), who);
}

// What the old folder's main program tells: it runs, or anything but its removal stops the start
// (in use by another process, refused for the user, failed).
FolderState StateAfter(Removal program) {
    if (program == Removal::Running) return FolderState::ApplicationRunning;
    return program == Removal::Done ? FolderState::Ready : FolderState::Unavailable;
}

// Moves the old folder aside, unless its main program runs or the user could not move it.
FolderState MoveOldFolderAside(PlatformHandle temp, const TempListing& listing,
                               const FolderNames& names, Elevation elevation) {
    const char16_t* folderName = names.folder.c_str();
    const PlatformHandle old = PlatformOpenSubFolder(temp, folderName, true);
    if (old == kInvalidPlatformHandle) {
        // Held by another process: a running application pins its folder. Looked into, to tell
        // that from a folder somebody else holds.
        const PlatformHandle look = PlatformOpenSubFolder(temp, folderName, false);
        if (look == kInvalidPlatformHandle) return FolderState::Unavailable;
        const Removal program =
            RemoveMainProgramUnlessRunning(look, names, ActorFor(look, elevation));
        PlatformReleaseFolder(look);
        return program == Removal::Running ? FolderState::ApplicationRunning
                                           : FolderState::Unavailable;
    }
    const ActingFor who = ActorFor(old, elevation);
    FolderState state = StateAfter(RemoveMainProgramUnlessRunning(old, names, who));
    if (state == FolderState::Ready) {
        uint32_t number = 1;
        while (listing.asideNumbers.count(number) != 0) ++number;
        const std::u16string aside = AsideName(AsidePrefix(names), number);
        if (!PlatformRenameFolder(old, temp, folderName, aside.c_str(), who)) {
            state = FolderState::Unavailable;
        }
    }
    PlatformReleaseFolder(old);
    return state;
}

// Clears the way for the new folder: whatever stands under its name goes, or the state says why
// it cannot.
FolderState ClearFolderName(PlatformHandle temp, const FolderNames& names, Elevation elevation) {
    const TempListing listing = ListTemp(temp, names);
    if (!listing.listed) return FolderState::Unavailable;
    if (!listing.folderPresent) return FolderState::Ready;
    // A link is removed itself, never what it leads to; no launcher made it.
    if ((listing.folderAttributes & kAttributeReparsePoint) != 0) {
        const ActingFor who =
            elevation == Elevation::OverUser ? ActingFor::User : ActingFor::Launcher;
        return PlatformRemoveEntry(temp, names.folder.c_str(), who) == Removal::Done
                   ? FolderState::Ready
                   : FolderState::Unavailable;
    }
    // A file, say, is somebody's own: it stays, and nothing can be unpacked.
    if ((listing.folderAttributes & kAttributeDirectory) == 0) return FolderState::Unavailable;
    return MoveOldFolderAside(temp, listing, names, elevation);
}

// How much a run may still remove: the rest waits for a later run, so that no listing somebody
// keeps adding to, and no removal that crawls, keeps the launcher from ending.
struct RemovalBudget {
    uint32_t entriesLeft;
    uint64_t deadline;

    bool Take() {
        if (entriesLeft == 0 || PlatformMilliseconds() >= deadline) return false;
        --entriesLeft;
        return true;
    }
};

// Removes all that the held `folder` holds, never through a link, acting for `who`.
void EmptyFolder(PlatformHandle folder, ActingFor who, int depth, RemovalBudget* budget) {
    ForEachEntry(folder, nullptr, [&](const PlatformFoundEntry& found) {
        if (!budget->Take()) return false;
        const bool realFolder = (found.attributes & kAttributeDirectory) != 0 &&
                                (found.attributes & kAttributeReparsePoint) == 0;
        const PlatformHandle sub = realFolder && depth < kMaxRemovalDepth
                                       ? PlatformOpenSubFolder(folder, found.name, true)
                                       : kInvalidPlatformHandle;
        if (sub != kInvalidPlatformHandle) {
            EmptyFolder(sub, who, depth + 1, budget);
            PlatformReleaseFolder(sub);
        }
        PlatformRemoveEntry(folder, found.name, who);
        return true;
    });
}

// Removes the folder `name` of the temporary directory with all it holds. What a launcher made is
// its own to remove; anything else only as far as the user could remove it.
void RemoveAside(PlatformHandle temp, const char16_t* name, Elevation elevation,
                 RemovalBudget* budget) {
    const PlatformHandle folder = PlatformOpenSubFolder(temp, name, true);
    if (folder == kInvalidPlatformHandle) return;
    const ActingFor who = ActorFor(folder, elevation);
    EmptyFolder(folder, who, 0, budget);
    PlatformReleaseFolder(folder);
    PlatformRemoveEntry(temp, name, who);
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

LauncherLock AcquireLauncherLock(const FolderNames& names) {
    LauncherLock lock{kInvalidPlatformHandle, false};
    lock.handle = PlatformAcquireLock(LockName(names).c_str(), kLauncherWaitMs, &lock.waited);
    return lock;
}

FreshFolder NoFreshFolder() {
    return FreshFolder{FolderState::Unavailable, kInvalidPlatformHandle, kInvalidPlatformHandle};
}

FreshFolder PrepareFreshFolder(const std::u16string& tempPath, const FolderNames& names) {
    FreshFolder fresh = NoFreshFolder();
    fresh.temp = PlatformOpenFolder(tempPath.c_str());
    if (fresh.temp == kInvalidPlatformHandle) return fresh;
    const Elevation elevation = PlatformTokenElevation();
    // Without access lists and share modes (FAT, exFAT, a network share) anybody could change the
    // payload's files after the check and before the elevated start. And the new folder goes only
    // where the user could make one: a temporary directory pointed at a folder of the system's
    // gets nothing made, moved or removed.
    if ((elevation != Elevation::None && !PlatformVolumeKeepsAccessLists(fresh.temp)) ||
        (elevation == Elevation::OverUser && !PlatformUserMayAddFolder(fresh.temp))) {
        ReleaseFreshFolder(&fresh);
        return fresh;
    }
    fresh.state = ClearFolderName(fresh.temp, names, elevation);
    if (fresh.state != FolderState::Ready) return fresh;
    // Made in one step, protected from the start: nothing of anybody else's can be inside.
    fresh.folder = PlatformCreateFreshFolder(fresh.temp, names.folder.c_str());
    if (fresh.folder == kInvalidPlatformHandle) fresh.state = FolderState::Unavailable;
    return fresh;
}

void ReleaseFreshFolder(FreshFolder* fresh) {
    if (fresh->folder != kInvalidPlatformHandle) PlatformReleaseFolder(fresh->folder);
    if (fresh->temp != kInvalidPlatformHandle) PlatformReleaseFolder(fresh->temp);
    fresh->folder = kInvalidPlatformHandle;
    fresh->temp = kInvalidPlatformHandle;
}

void RemoveFoldersMovedAside(PlatformHandle temp, const FolderNames& names) {
    const std::u16string prefix = AsidePrefix(names);
    RemovalBudget budget{kRemovalEntries, PlatformMilliseconds() + kRemovalMs};
    std::vector<std::u16string> aside;
    ForEachEntry(temp, prefix.c_str(), [&](const PlatformFoundEntry& found) {
        if (AsideNumber(found.name, prefix) != 0) aside.push_back(found.name);
        return budget.Take();
    });
    const Elevation elevation = PlatformTokenElevation();
    for (const std::u16string& name : aside) RemoveAside(temp, name.c_str(), elevation, &budget);
}

void FinishWithFolders(FreshFolder* fresh, LauncherLock* lock, const FolderNames& names) {
    const PlatformHandle temp = fresh->temp;
    fresh->temp = kInvalidPlatformHandle;
    ReleaseFreshFolder(fresh);
    if (lock->handle != kInvalidPlatformHandle) PlatformReleaseLock(lock->handle);
    lock->handle = kInvalidPlatformHandle;
    if (temp == kInvalidPlatformHandle) return;
    RemoveFoldersMovedAside(temp, names);
    PlatformReleaseFolder(temp);
}

bool FitsSearchPath(const std::u16string& folderText) {
    return folderText.find(kSearchPathSeparator[0]) == std::u16string::npos;
}

std::u16string ChildFolderText(PlatformHandle folder, const std::u16string& folderText) {
    std::u16string finalPath;
    if (!PlatformFinalPath(folder, &finalPath)) return std::u16string();
    return SamePathText(folderText, finalPath) ? folderText : finalPath;
}
