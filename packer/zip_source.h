// A .zip SOURCE, checked through the launcher's own reader before it is embedded as it is.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"
#include "packer/entry_names.h"

// True when the launcher can open the archive and would unpack every entry of it under its own
// name: each entry's headers read, its data inflates to its size and matches its CRC-32, its
// name passes the payload's name rules below the extraction folder, and the main program (a file
// name) is at the top. Else false with the reason.
bool CheckZipSource(const uint8_t* zip, uint64_t size, const NameLimits& limits,
                    const std::u16string& mainProgram, uint32_t* entryCount, std::u16string* error);
