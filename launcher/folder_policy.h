// The extraction folder's policy, all in one place: one launcher at a time; a folder that this
// run created itself, protected from the start; what an elevated launcher may touch in the user's
// temporary directory; the folders moved aside and their removal; and the path under which the
// child reaches the folder.
//
// The launcher may run with administrator rights while the folder lies in the user's own
// temporary directory, whose place the user chooses (TMP, TEMP, links): another, unelevated
// process of the user must get nothing started or loaded that it planted or changed there, and
// must never make the launcher touch anything that the user could not touch alike.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// What the policy works with: the folder's name in the temporary directory and the main program
// at its top.
struct FolderNames {
    std::u16string folder;
    std::u16string mainProgram;
};

// ---- One launcher at a time ----

// A launcher that finds another at work waits this long for it at most (the other may sit on a
// box of its own meanwhile).
constexpr uint32_t kLauncherWaitMs = 60000;

struct LauncherLock {
    PlatformHandle handle;  // kInvalidPlatformHandle when it was not had in time
    bool waited;            // another launcher held it first
};

// Taken before the launcher touches anything of the folder, and held until the child has
// started. Named after the folder, so that launchers of other folders go their own way.
LauncherLock AcquireLauncherLock(const FolderNames& names);

// ---- A folder of this run's own ----

enum class FolderState {
    Ready,               // a new, empty extraction folder is held
    ApplicationRunning,  // the old folder's main program runs: nothing was touched
    Unavailable,         // no new folder could be had, and nothing that stopped it was touched
};

struct FreshFolder {
    FolderState state;
    // The temporary directory, held while it could be opened and was not refused; the folders
    // moved aside are removed only from one that is held.
    PlatformHandle temp;
    PlatformHandle folder;  // the new folder, held exclusively; when Ready only
};

// Nothing held yet.
FreshFolder NoFreshFolder();

// Opens the temporary directory and makes the extraction folder anew inside it. An existing one is
// never taken over: a link there is removed itself; a real folder is left alone when its main
// program runs, else it is moved aside under a name of the launcher's own, to be removed once the
// child has started; anything else in its place makes the folder unavailable. An elevated
// launcher makes nothing on a volume without access lists, and acts for its user on everything it
// did not make itself: what the user could not remove or add stays as it is, and stops the start.
FreshFolder PrepareFreshFolder(const std::u16string& tempPath, const FolderNames& names);

// Releases what PrepareFreshFolder holds.
void ReleaseFreshFolder(FreshFolder* fresh);

// Removes the folders that runs moved aside in the held temporary directory (only this folder's,
// never those of a launcher with another folder name), as far as it can: a file in use stays,
// with its folders, until a later run. Nothing there is followed through a link. Bounded in
// entries and in time (kRemovalEntries, kRemovalMs); what is left waits for a later run.
void RemoveFoldersMovedAside(PlatformHandle temp, const FolderNames& names);
constexpr uint32_t kRemovalEntries = 100000;
constexpr uint64_t kRemovalMs = 5000;

// The end of a run: lets go of the new folder, then of the lock, so that the next launcher need
// not wait, then removes the folders moved aside and lets go of the temporary directory.
void FinishWithFolders(FreshFolder* fresh, LauncherLock* lock, const FolderNames& names);

// ---- The path the child is started under ----

// Whether a folder text may go in front of the search path: a ";" in it would split it into
// entries of the user's choosing, a relative one among them.
bool FitsSearchPath(const std::u16string& folderText);

// `folderText` as the launcher formed it when it leads to the held folder through no link;
// otherwise the folder's final path, so that nothing the user could point elsewhere lies on the
// way of the child's start and of its library search.
std::u16string ChildFolderText(PlatformHandle folder, const std::u16string& folderText);
