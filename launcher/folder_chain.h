// Walking down from the extraction folder one held step at a time.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// The sub-folders that the unpacking last walked to, one handle per step, kept for the next entry,
// which mostly lies in the same folder.
struct FolderChain {
    PlatformHandle root;
    std::vector<std::u16string> steps;
    std::vector<PlatformHandle> handles;  // handles[i] holds steps[0..i]
};

// The held folder at `steps` below the chain's root, every missing step made (inside the root's
// protection), none through a link. kInvalidPlatformHandle when a step cannot be had.
PlatformHandle ReachFolder(FolderChain* chain, const std::vector<std::u16string>& steps);

// Releases every step the chain holds (not its root).
void ReleaseChain(FolderChain* chain);
