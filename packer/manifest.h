// The launcher's manifest (RT_MANIFEST, id 1): the execution level it asks Windows for.
#pragma once

#include <string>

#include "packer/resource_tree.h"

constexpr uint16_t kResourceManifest = 24;

// Puts `level` in place of the level that the requestedExecutionLevel element of every language's
// manifest asks for; the rest of the manifest stays byte for byte. False with the reason when
// there is no manifest or one without that element.
bool SetExecutionLevel(ResourceTree* tree, const std::u16string& level, std::u16string* error);
