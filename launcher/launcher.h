// The launcher: unpacks the payload archive into a new extraction folder under the temporary
// directory, puts that folder in front of the loader's search path and starts the main program.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/folder_policy.h"
#include "launcher/launcher_settings.h"
#include "launcher/progress_window.h"
#include "launcher/written_files.h"
#include "platform/platform.h"

// The whole launch: single-instance check, one launcher at a time, unpacking, search path, child.
// Always returns 0. The child is started only from a folder that this run made and that holds
// exactly what it unpacked.
int RunLauncher();

// The names and texts from the launcher's own string table: each value that is there and passes
// CheckSetting, the default for each other one.
LauncherSettings LoadLauncherSettings();

enum class PayloadState {
    Ready,               // the folder holds exactly the payload, written whole
    ApplicationRunning,  // the application runs from the old folder, which was left as it was
    Failed,              // no new folder, no payload, or something not written whole or not ours
};

// What the unpacking leaves for the rest of the launch.
struct ExtractedPayload {
    PayloadState state;
    // The folder's path as the child gets it (when Ready: the final path where the temporary
    // directory is reached through a link); empty without a temporary directory.
    std::u16string folderText;
    FreshFolder fresh;  // the temporary directory and the new folder, held
    // The main program, open so that nobody changes it, until the child has started (when Ready).
    PlatformHandle mainProgram;
};

// Forms the extraction folder text, makes the folder anew and unpacks the payload into it, then
// checks that the folder holds exactly what this run wrote. A folder text that does not fit the
// search path gets nothing made. `progress` (may be null) is moved on as the payload is unpacked.
ExtractedPayload ExtractPayload(const FolderNames& names, ProgressWindow* progress = nullptr);

struct UnpackResult {
    WrittenFiles written;
    // Every entry that names a file or folder inside the folder was written whole. Entries whose
    // names would leave the folder, name a device or cannot be converted are skipped by design.
    bool complete;
};

// Unpacks every entry of the archive in `data` into the held `folder`, whose path as the child
// gets it is `folderText` (every path below it must fit the 260-unit paths), making sub-folders
// inside it, and moving `progress` (may be null) on before each entry. False when the archive
// did not open.
bool UnpackArchive(PlatformHandle folder, const std::u16string& folderText, const void* data,
                   uint32_t size, UnpackResult* result, ProgressWindow* progress = nullptr);

// The directory text, one "\" unless the name starts with one, and the name.
std::u16string JoinPath(const std::u16string& directory, const std::u16string& name);

// Puts the folder and the search path's separator in front of the loader's search path variable.
bool PrependToPath(const std::u16string& folder);

// How the main program is started.
struct ChildStart {
    std::u16string path;         // the folder text and the main program
    std::u16string commandLine;  // ChildCommandLine
    std::u16string directory;    // its current folder; empty: the launcher's
};

// The start of the main program of the folder `folderText` as the settings ask: its arguments
// after its path, then (when forwarded) the launcher's own from its `launcherCommandLine`, and
// its working folder.
ChildStart PlanChildStart(const std::u16string& folderText, const LauncherSettings& settings,
                          const std::u16string& launcherCommandLine);

// The child's path as its command line starts with it: in quotes when it holds a blank or a tab,
// so that the program's own parsing reads one path; else as it is.
std::u16string CommandLinePath(const std::u16string& path);

// What follows the program's name on a command line, as it is: after the name (quoted, up to the
// closing quote; else up to the first blank or tab) and the blanks and tabs after it.
std::u16string ArgumentsOf(const std::u16string& commandLine);

// The path (CommandLinePath), then each non-empty part, one blank before it.
std::u16string ChildCommandLine(const std::u16string& childPath, const std::u16string& arguments,
                                const std::u16string& forwarded);

// Starts the main program without waiting, handing it `pin` (PlatformPinFolder) to inherit; false
// with the system's error code when that fails.
bool CreateChildProcess(const ChildStart& start, PlatformHandle pin, uint32_t* error);

// Tells the user that the main program could not be started, with the error code.
void ShowStartFailure(const LauncherSettings& settings, uint32_t error);
