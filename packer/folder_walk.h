// The walk over a SOURCE folder: every file and sub-folder below it, in the order the payload
// lists them, with the facts the zip writer records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/entry_names.h"
#include "packer/zip_writer.h"
#include "platform/platform.h"

// One entry of the walk: what the payload records of it, and where the system finds it (a walk
// holds one record per entry of the payload, so not the listing's fixed 260-unit name).
struct WalkedEntry {
    ZipEntryFacts facts;  // its name relative to SOURCE
    std::u16string path;  // as the system opens it
    uint64_t size;
};

// Lists everything below `root`: in each folder its files first, then its sub-folders, each
// followed by what it holds; names in the order of their UTF-8 bytes (that is, of their code
// points). False with a reason when a folder cannot be listed or holds a link to a folder
// (not followed: the payload holds what is below SOURCE), or a name that no payload may hold
// (the walk stops there, before it goes deeper than any payload could).
// Names are checked against `limits`.
bool WalkFolder(const std::u16string& root, const NameLimits& limits,
                std::vector<WalkedEntry>* entries, std::u16string* error);
