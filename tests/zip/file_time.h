// Expected FILETIME values for the reader's tests.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline uint64_t Ticks(const FileTime& t) { return (static_cast<uint64_t>(t.high) << 32) | t.low; }

// The FILETIME of a count of seconds since 1970-01-01 00:00:00 UTC.
inline uint64_t UnixTicks(int64_t seconds) {
    return static_cast<uint64_t>(seconds + 11644473600) * 10000000;
}

constexpr int64_t kDosSampleUnix = 1436040066;  // 2015-07-04 20:01:06, DOS 0x46E4 / 0xA023
