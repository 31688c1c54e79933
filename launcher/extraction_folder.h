// The extraction folder's rules, all in one place: one launcher at a time; a folder that this run
// created itself, protected from the start and held until the child has started; files that are
// exactly the ones this run wrote; and the path under which the child reaches them.
//
// The launcher runs with administrator rights, while the folder lies in the user's own temporary
// directory: another, unelevated process of the user must get nothing started or loaded that it
// planted or changed there, and must never make the launcher touch anything outside the folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "launcher/launcher_settings.h"
#include "platform/platform.h"

// The folder is settings.folderName in the temporary directory, its main program
// settings.mainProgram at the folder's top (launcher_settings.h).

// ---- One launcher at a time ----

// A launcher that finds another at work waits this long for it at most (the other may sit on a
// box of its own meanwhile).
constexpr uint32_t kLauncherWaitMs = 60000;

struct LauncherLock {
    PlatformHandle handle;  // kInvalidPlatformHandle when it was not had in time
    bool waited;            // another launcher held it first
};

// Taken before the launcher touches anything of the folder, and held until the child has started
// and what earlier runs left aside is gone. Named after the folder, so that launchers of other
// folders go their own way.
LauncherLock AcquireLauncherLock(const LauncherSettings& settings);
void ReleaseLauncherLock(const LauncherLock& lock);

// ---- A folder of this run's own ----

enum class FolderState {
    Ready,               // a new, empty extraction folder is held
    ApplicationRunning,  // the old folder's main program is in use: nothing was touched
    Unavailable,         // no new folder could be had
};

struct FreshFolder {
    FolderState state;
    PlatformHandle temp;    // the temporary directory, held while it could be opened
    PlatformHandle folder;  // the new folder, held exclusively; when Ready only
};

// Opens the temporary directory and makes the extraction folder anew inside it. An existing one is
// never taken over: a link there is removed itself; a real folder is left alone when its main
// program cannot be removed (a running program's file cannot), else it is moved aside under a name
// of the launcher's own, to be removed once the child has started; anything else in its place
// makes the folder unavailable.
FreshFolder PrepareFreshFolder(const std::u16string& tempPath, const LauncherSettings& settings);

// Releases what PrepareFreshFolder holds.
void ReleaseFreshFolder(FreshFolder* fresh);

// Removes every folder that a run moved aside in the temporary directory, this run's and those
// that an interrupted run left, as far as it can: a file in use stays, with its folders, until a
// later run. Only the folder's own are touched (those of a launcher with another folder name are
// not). Nothing there is followed through a link.
void RemoveFoldersMovedAside(PlatformHandle temp, const LauncherSettings& settings);

// ---- What this run wrote ----

// File names in the order of the file system's comparison, so that one name matches its file
// however the case differs where the file system ignores case.
struct FileNameOrder {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return PlatformCompareFileNames(a.c_str(), b.c_str()) < 0;
    }
};

// The files written whole by this run, by their path relative to the extraction folder (in the
// form NormalizedPath gives), each with the identity it had when it was written.
using WrittenFiles = std::map<std::u16string, FileIdentity, FileNameOrder>;

// Whether the held folder holds exactly the written files: every one found once, as the same file
// it was when written, and nothing else but folders; no link anywhere.
bool HoldsExactlyWrittenFiles(PlatformHandle folder, const WrittenFiles& written);

// Opens the written file `name` (at the folder's top) for reading, so that it can be neither
// changed nor removed until closed, and only when it still is the file this run wrote.
// kInvalidPlatformHandle otherwise.
PlatformHandle HoldWrittenFile(PlatformHandle folder, const WrittenFiles& written,
                               const char16_t* name);

// ---- The path the child is started under ----

// `folderText` as the launcher formed it when it leads to the held folder through no link;
// otherwise the folder's final path, so that nothing the user could point elsewhere lies on the
// way of the child's start and of its library search.
std::u16string ChildFolderText(PlatformHandle folder, const std::u16string& folderText);

// ---- Walking down from the extraction folder ----

// The sub-folders that the unpacking last walked to, one handle per step, kept for the next entry,
// which mostly lies in the same folder.
struct FolderChain {
    PlatformHandle root;
    std::vector<std::u16string> steps;
    std::vector<PlatformHandle> handles;  // handles[i] holds steps[0..i]
};

// The held folder at `steps` below the chain's root, every missing step made (inside the root's
// protection), none through a link. kInvalidPlatformHandle when a step cannot be had.
PlatformHandle ReachFolder(FolderChain* chain, const std::vector<std::u16string>& steps);

// Releases every step the chain holds (not its root).
void ReleaseChain(FolderChain* chain);
