// The launcher: unpacks the payload archive into the extraction folder under the temporary
// directory, puts that folder in front of the loader's search path and starts the main program.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/platform.h"

// What the unpacking leaves for the rest of the launch.
struct ExtractedPayload {
    std::u16string folderText;  // the extraction folder's path; empty without a temporary directory
    PlatformHandle folder;      // held until released; kNoFolder when it could not be prepared
    bool mainProgramWritten;    // this run unpacked "zandro.exe" whole
    bool leftBehind;            // the folder holds something that this run did not write
};

// The whole launch: single-instance check, unpacking, search path, child. Always returns 0. The
// child is started only from a folder that holds nothing but what this run unpacked.
int RunLauncher();

// Forms the extraction folder text, prepares the folder and unpacks the payload into it, then
// checks that the folder holds only what this run wrote. The folder stays held (when it could be
// prepared) until the caller releases it.
ExtractedPayload ExtractPayload();

// Readies the extraction folder for unpacking and returns it held and protected: a link in its
// place is replaced by a real folder, a missing one is created, and what it holds is cleared.
// kNoFolder when it cannot be had: a link there that cannot be removed, a file in its place,
// another process holding it with delete access, or protection refused. `leftBehind` tells
// whether the clearing left anything in it.
PlatformHandle PrepareExtractionFolder(const std::u16string& folder, bool* leftBehind);

// Paths relative to the extraction folder, as NormalizedPath gives them.
using WrittenFiles = std::set<std::u16string, FileNameOrder>;

// Unpacks every entry of the archive in `data` into the held `folder` (whose path is
// `folderText`), creating sub-folders inside it. Entries whose names could leave the folder, or
// whose path runs into a link, are skipped. The files written whole are added to `written`.
// False when the archive did not open.
bool UnpackArchive(PlatformHandle folder, const std::u16string& folderText, const void* data,
                   uint32_t size, WrittenFiles* written);

// Whether every file below the held folder is one of `written`, each found once, with no link and
// nothing that could not be listed. Sub-folders are fine.
bool HoldsOnlyWrittenFiles(PlatformHandle folder, const WrittenFiles& written);

// The directory text, one "\" unless the name starts with one, and the name.
std::u16string JoinPath(const std::u16string& directory, const std::u16string& name);

// Removes the link at `path` itself, never what it leads to; `attributes` are the link's own.
bool RemoveLink(PlatformHandle folder, const char16_t* path, uint32_t attributes);

// Deletes every file below the held folder, read-only ones included, and keeps every sub-folder,
// each protected as it is entered. Links are removed, never followed; a sub-folder is entered only
// as the enumeration found it. True when nothing was left behind.
bool ClearHeldFolder(PlatformHandle folder);

// ClearHeldFolder on the folder at a path, held for the time. Does nothing for a path shorter
// than 4 characters, or one that is not a folder.
void ClearFolder(const char16_t* folder);

// Puts the folder and the search path's separator in front of the loader's search path variable.
bool PrependToPath(const std::u16string& folder);

// The child's command line: its path, unquoted, then an empty quoted argument.
std::u16string ChildCommandLine(const std::u16string& childPath);

// Starts the main program without waiting; shows the error code in a box when that fails.
bool StartMainProgram(const std::u16string& childPath);
