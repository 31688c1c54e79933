// POSIX implementation of the platform seam. Paths arrive as UTF-16 and are handed to the system
// as UTF-8, with "\" taken as "/".
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// UTF-16 to UTF-8; "\" becomes "/" when `isPath`. Unpaired surrogates become U+FFFD.
std::string ToUtf8(const char16_t* text, bool isPath) {
    std::string out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (isPath && c == '\\') c = '/';
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

[[maybe_unused]] std::string NativePath(const char16_t* path) { return ToUtf8(path, true); }

// UTF-8 to UTF-16 into `out` of `outUnits` units, terminated. Returns the units written without
// the terminator, or the units needed including the terminator when they do not fit (the
// convention of the Win32 "get" calls). Malformed bytes become U+FFFD.
[[maybe_unused]] uint32_t FromUtf8(const char* text, char16_t* out, uint32_t outUnits) {
    std::u16string wide;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; s[i] != 0;) {
        uint32_t c = s[i];
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0) {
            wide += u'\uFFFD';
            ++i;
            continue;
        }
        c &= extra == 0 ? 0x7F : (0x3F >> extra);
        int k = 1;
        for (; k <= extra && (s[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (s[i + k] & 0x3F);
        i += static_cast<size_t>(k);
        if (k <= extra || c > 0x10FFFF) {
            wide += u'\uFFFD';
        } else if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
    }
    if (wide.size() + 1 > outUnits) return static_cast<uint32_t>(wide.size() + 1);
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

}  // namespace

// ---- Archive reader ------------------------------------------------------------------------

namespace {

bool IsLeapYear(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
    static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date of the proleptic Gregorian calendar.
uint64_t DaysSince1601(uint32_t year, uint32_t month, uint32_t day) {
    const uint64_t y = year - 1601;
    uint64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (uint32_t m = 1; m < month; ++m) days += DaysInMonth(year, m);
    return days + day - 1;
}

// The calendar time read as UTC, with the range checks of the Windows time conversions.
bool CalendarToFileTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                        uint32_t second, uint32_t millisecond, FileTime* out) {
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
        millisecond > 999) {
        return false;
    }
    const uint64_t seconds =
        DaysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    const uint64_t ticks = (seconds * 1000 + millisecond) * 10000;
    out->low = static_cast<uint32_t>(ticks);
    out->high = static_cast<uint32_t>(ticks >> 32);
    return true;
}

// Windows-1252 for 0x80-0x9F; the five bytes it leaves undefined map to the same code points,
// as Windows and Wine map them. Every other byte is its own code point.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer) {
    std::vector<char> path(256);
    while (getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE) return 0;
        path.resize(path.size() * 2);
    }
    return FromUtf8(path.data(), buffer, bufferUnits);
}

int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t needed = std::strlen(text) + 1;
    if (outUnits == 0) return static_cast<int>(needed);  // the size query of the Win32 call
    // As the Win32 call does, a text that does not fit fills the buffer and fails.
    for (size_t i = 0; i < needed && i < static_cast<size_t>(outUnits); ++i) {
        const unsigned char c = bytes[i];
        out[i] = c >= 0x80 && c <= 0x9F ? kWindows1252High[c - 0x80] : c;
    }
    return needed <= static_cast<size_t>(outUnits) ? static_cast<int>(needed) : 0;
}

bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    return CalendarToFileTime(1980 + (dosDate >> 9), (dosDate >> 5) & 0x0F, dosDate & 0x1F,
                              dosTime >> 11, (dosTime >> 5) & 0x3F, (dosTime & 0x1F) * 2, 0, out);
}

bool PlatformSystemTimeToFileTime(const CalendarTime* time, FileTime* out) {
    return CalendarToFileTime(time->year, time->month, time->day, time->hour, time->minute,
                              time->second, time->millisecond, out);
}

// ---- Extraction to disk --------------------------------------------------------------------

// ---- Launcher ------------------------------------------------------------------------------
