// The launcher: unpacks the payload archive into the extraction folder under the temporary
// directory, puts that folder in front of the loader's search path and starts the main program.
#pragma once

#include <cstdint>
#include <string>

// The extraction folder's path: empty until ExtractPayload forms it, then fixed for the run.
extern std::u16string ExtractionFolderText;

// The whole launch: single-instance check, unpacking, search path, child. Always returns 0.
int RunLauncher();

// Forms the extraction folder text, empties (or creates) the folder and unpacks the payload
// into it. True when the archive opened and all its entries were tried.
bool ExtractPayload();

// Readies the extraction folder for unpacking: a folder there is emptied of files, a link in its
// place is replaced by a real folder, a missing one is created. False when a link there could not
// be removed, so nothing may be unpacked through it.
bool PrepareExtractionFolder(const std::u16string& folder);

// Unpacks every entry of the archive in `data` into `folder`, creating sub-folders inside it.
// Entries whose names could leave the folder are skipped. False when the archive did not open.
bool UnpackArchive(const std::u16string& folder, const void* data, uint32_t size);

// The directory text, one "\" unless the name starts with one, and the name.
std::u16string JoinPath(const std::u16string& directory, const std::u16string& name);

// Removes the link at `path` itself, never what it leads to; `attributes` are the link's own.
bool RemoveLink(const char16_t* path, uint32_t attributes);

// Deletes every file below the folder, read-only ones included, and keeps every sub-folder.
// Links are removed, never followed. Does nothing for a path shorter than 4 characters.
void ClearFolder(const char16_t* folder);

// Puts the folder and the search path's separator in front of the loader's search path variable.
bool PrependToPath(const std::u16string& folder);

// The child's command line: its path, unquoted, then an empty quoted argument.
std::u16string ChildCommandLine(const std::u16string& childPath);

// Starts the main program without waiting; shows the error code in a box when that fails.
bool StartMainProgram(const std::u16string& childPath);
