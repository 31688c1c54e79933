// Writes one entry of an open archive to a file, or a directory entry as folders.
#pragma once

#include <cstdint>

#include "zip/zip_archive.h"

// Writes entry `index` to `path` (as the system resolves it), creating the folders on the way below
// the archive's root folder; a directory entry makes its folders there instead.
ZipResult UnzipEntryToFile(ZipArchive* archive, const char16_t* path, int32_t index);

// Writes the data of file entry `index` into `file`, which the caller opened for writing: ZipOk
// when the file received exactly the entry's bytes and their CRC-32 matched, ZipExtractFailed when
// not (what was written stays for the caller to remove). ZipBadArgument for a directory entry.
ZipResult UnzipEntryData(ZipArchive* archive, int32_t index, PlatformHandle file);

// Creates root + folder and every folder on the way, outer first. "/" and "\" both separate.
void EnsureFolderPath(const char16_t* root, const char16_t* folder);
