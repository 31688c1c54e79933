// What the launcher suites need beyond a scratch folder: read-only files, folder links, and the
// report that the stand-in main program writes.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/scratch_folder.h"

void MakeReadOnly(const fs::path& path);
bool IsReadOnly(const fs::path& path);

// Whether this system lets the test create symbolic links to folders.
bool CanMakeFolderLinks(const fs::path& scratch);

// The file's content once it can be opened, or "" when it has not within ten seconds.
std::string WaitForFile(const fs::path& path);

// The value of `key=` on its own line in a report, or "(missing)".
std::string ReportValue(const std::string& report, const std::string& key);
