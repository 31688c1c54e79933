// File times without the operating system: conversions between FILETIME values, seconds since
// 1970 and the DOS date and time of zip headers, with the range checks of the Windows
// conversions. Every time here is UTC.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint64_t kTicksPerSecond = 10000000;  // a FILETIME counts 100-nanosecond ticks
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

uint64_t TicksOf(const FileTime& time);
FileTime FileTimeFromTicks(uint64_t ticks);

// Seconds and nanoseconds since 1970-01-01 as a FILETIME, clamped to what a FILETIME can hold
// rather than wrapped.
FileTime UnixTimeToFileTime(int64_t seconds, int64_t nanoseconds = 0);

// Seconds since 1970-01-01, rounded down.
int64_t UnixSecondsOf(const FileTime& time);

// The nanoseconds past UnixSecondsOf(time), 0 to 999,999,900.
int64_t UnixNanosecondsOf(const FileTime& time);

// A date of the proleptic Gregorian calendar and a time of day as a FILETIME. False, with `out`
// unchanged, for what SystemTimeToFileTime rejects: a year outside 1601-30827, a day the month
// does not have, a field beyond its range.
bool CalendarToFileTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                        uint32_t second, uint32_t millisecond, FileTime* out);

// What DosDateTimeToFileTime makes of a DOS date and time, without time-zone adjustment.
bool DosDateTimeToFileTimeUtc(uint16_t dosDate, uint16_t dosTime, FileTime* out);

// The DOS date (high half) and time (low half) of a UTC time, held within 1980-2107; odd seconds
// round down.
uint32_t DosDateTimeOf(int64_t unixSeconds);
