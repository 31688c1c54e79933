// A .zip SOURCE, checked through the launcher's own reader before it is embedded as it is.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"

// True when the launcher can open the archive and would unpack every entry of it under its own
// name: each entry's headers read, its data inflates to its size and matches its CRC-32, its
// name passes the payload's name rules, and zandro.exe is at the top. Else false with the reason.
bool CheckZipSource(const uint8_t* zip, uint64_t size, uint32_t* entryCount, std::u16string* error);
inline bool CheckZipSource(const ByteBuffer& zip, uint32_t* entryCount, std::u16string* error) {
    return CheckZipSource(zip.data(), zip.size(), entryCount, error);
}
