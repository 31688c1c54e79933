// What this run wrote into the extraction folder, and the check that the folder holds exactly that.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/platform.h"

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
