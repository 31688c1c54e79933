// Writes one entry of an open archive to a file, or a directory entry as folders.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "zip/path_rules.h"
#include "zip/zip_archive.h"

ZipResult UnzipEntryToFile(ZipArchive* archive, const char16_t* path, int32_t index);

// The folders that extractions into one held folder have made there during a run (paths as
// NormalizedPath gives them): each is asked for once, and those this run created itself, inside a
// folder that nobody else may change, hold nothing that this run did not put there.
struct FolderRecord {
    std::set<std::u16string, FileNameOrder> asked;    // CreateDirectory called for it
    std::set<std::u16string, FileNameOrder> created;  // and it made the folder
};

// The same inside a held folder (PlatformHoldFolder): `path` is relative to it and no link on the
// way is followed; the folders on the way, and those of a directory entry, are made inside it,
// each once per `folders`. A path that could leave the folder (IsSafeEntryName) gives
// ZipCannotCreateFile. `folderRoot` is the held folder's path followed by a separator: every path
// formed below the folder must fit a path buffer together with it.
ZipResult UnzipEntryIntoFolder(ZipArchive* archive, PlatformHandle folder,
                               const char16_t* folderRoot, const char16_t* path, int32_t index,
                               FolderRecord* folders);

// Creates root + folder and every folder on the way, outer first; with a held folder as `base`,
// the folders are made inside it (`root` being its path and a separator, for the fit), and with a
// record only those not asked for before. "/" and "\" both separate.
void EnsureFolderPath(PlatformHandle base, const char16_t* root, const char16_t* folder,
                      FolderRecord* folders = nullptr);
