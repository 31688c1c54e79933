// Writes one entry of an open archive to a file, or a directory entry as folders.
#pragma once

#include <cstdint>

#include "zip/path_rules.h"
#include "zip/zip_archive.h"

ZipResult UnzipEntryToFile(ZipArchive* archive, const char16_t* path, int32_t index);

// Creates root + folder and every folder on the way, outer first. "/" and "\" both separate.
void EnsureFolderPath(const char16_t* root, const char16_t* folder);
