// Results of the low-level reader (byte source, directory reader, entry stream): 0 or negative.
#pragma once

#include <cstdint>

using ReaderResult = int32_t;

constexpr ReaderResult ReaderOk = 0;
constexpr ReaderResult ReaderIoError = -1;
constexpr ReaderResult ReaderEndOfList = -100;
constexpr ReaderResult ReaderBadArgument = -102;
constexpr ReaderResult ReaderBadArchive = -103;
constexpr ReaderResult ReaderNoMemory = -104;
constexpr ReaderResult ReaderCrcMismatch = -105;
