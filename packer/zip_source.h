// A .zip SOURCE, checked through the launcher's own reader before it is embedded as it is.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"
#include "packer/entry_names.h"

// What the archive's directory says it holds.
struct ZipSourceFacts {
    uint32_t entries = 0;
    uint64_t files = 0;
    uint64_t bytes = 0;  // the files' unpacked sizes
};

// Reads the directory alone. False with the reason when the launcher cannot open the archive.
bool SurveyZipSource(const uint8_t* zip, uint64_t size, ZipSourceFacts* facts,
                     std::u16string* error);

enum class ZipCheck { kSound, kRefused, kStopped };

// kSound when the launcher would unpack every entry under its own name: each entry's headers
// read, its data inflates to its size and matches its CRC-32, and its name passes the payload's
// name rules below the extraction folder and goes into `names` (which then tells whether the main
// program is at the top). Else kRefused with the reason, or kStopped when `progress` (called
// after each block of unpacked bytes and after each file) asked to stop.
ZipCheck CheckZipSource(const uint8_t* zip, uint64_t size, const NameLimits& limits,
                        EntryNameSet* names, const ProgressHook& progress, std::u16string* error);
