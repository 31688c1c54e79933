// Writes one entry of an open archive to a file, or a directory entry as folders.
#pragma once

#include <cstdint>

#include "zip/zip_archive.h"

// True when an entry name stays inside the folder it is unpacked into: not absolute, no drive
// letter or other ":", no ".." step (nor a step of dots and blanks that Windows reads as one).
// Directory entries whose names fail it are refused.
bool IsSafeEntryName(const char16_t* name);

ZipResult UnzipEntryToFile(ZipArchive* archive, const char16_t* path, int32_t index);

// Creates root + folder and every folder on the way, outer first. "/" and "\" both separate.
void EnsureFolderPath(const char16_t* root, const char16_t* folder);
