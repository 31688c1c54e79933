// Turns an entry's raw central-directory values and local extra field into the Windows view of
// it: file attribute bits and file times.
#pragma once

#include <cstdint>

#include "platform/platform.h"

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
