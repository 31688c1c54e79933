// Turns an entry's raw central-directory values and extra fields into the Windows view of it:
// its name in UTF-16, file attribute bits and file times.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Units of an entry's name buffer, terminator included.
constexpr uint32_t kZipNameUnits = 260;

// Windows attribute bits from the external attributes: the low half read as DOS attributes and
// the high half as a Unix mode, whichever system made the entry.
uint32_t MapExternalAttributes(uint32_t externalAttributes);

// The DOS time (low half) and date (high half) read as UTC. A date or time that the conversion
// rejects (a day or month of 0, say) gives the zero FILETIME.
FileTime FileTimeFromDos(uint32_t dosDateTime);

// Replaces the times given by the first extended timestamp block ("UT") of an extra field. Only
// bytes of the field are read: times the field is too short to hold keep their values.
void ApplyExtendedTimestamp(const uint8_t* extra, uint32_t size, FileTime* writeTime,
                            FileTime* accessTime, FileTime* creationTime);

// General-purpose flag bit 11: the stored name is UTF-8.
constexpr uint32_t kFlagUtf8Name = 0x0800;

// The UTF-8 name of the first Unicode path block (header ID 0x7075) of an extra field, when that
// block is of version 1 and holds the CRC-32 of the stored name: an archiver that renamed the
// entry without updating the block leaves a CRC that no longer matches. Only bytes of the field
// are read. False when there is no such block.
bool FindUnicodePath(const uint8_t* extra, uint32_t size, const uint8_t* storedName,
                     uint32_t storedLength, const uint8_t** name, uint32_t* length);

// A terminated text in the ANSI code page into `wide` (kZipNameUnits units): at most 259 units
// with the terminator are written. False when it does not fit; `wide` may then hold a part of it.
bool NarrowToWide(const char* narrow, char16_t* wide);

// The whole stored name (`length` bytes followed by a terminator) as UTF-16 in `wide`, of
// kZipNameUnits units: decoded as UTF-8 when `flags` has bit 11, else as the UTF-8 name of a
// matching Unicode path block in the central extra field, else in the ANSI code page. False, with
// `wide` empty, when the name cannot be converted whole: malformed UTF-8, a zero byte within the
// name, or a text of more than 258 units. A part of a name is never delivered: it would name
// another file.
bool ConvertEntryName(const uint8_t* name, uint32_t length, uint32_t flags,
                      const uint8_t* centralExtra, uint32_t extraSize, char16_t* wide);
