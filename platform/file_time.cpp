#include "platform/file_time.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool IsLeapYear(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
    static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date.
uint64_t DaysSince1601(uint32_t year, uint32_t month, uint32_t day) {
    const uint64_t y = year - 1601;
    uint64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (uint32_t m = 1; m < month; ++m) days += DaysInMonth(year, m);
    return days + day - 1;
}

// Year, month and day of a count of days since 1970-01-01.
void CivilDate(int64_t days, int64_t* year, int64_t* month, int64_t* day) {
    days += 719468;  // from 0000-03-01
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // from March
    *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

uint64_t TicksOf(const FileTime& time) {
    return (static_cast<uint64_t>(time.high) << 32) | time.low;
}

FileTime FileTimeFromTicks(uint64_t ticks) {
    return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

FileTime UnixTimeToFileTime(int64_t seconds, int64_t nanoseconds) {
    constexpr int64_t kLargest = static_cast<int64_t>(UINT64_MAX / kTicksPerSecond);
    if (seconds <= -kSecondsFrom1601To1970) return FileTimeFromTicks(0);
    if (seconds > kLargest - kSecondsFrom1601To1970) return FileTimeFromTicks(UINT64_MAX);
    const uint64_t whole =
        static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond;
    const uint64_t part = static_cast<uint64_t>(nanoseconds / 100);
    return FileTimeFromTicks(part > UINT64_MAX - whole ? UINT64_MAX : whole + part);
}

int64_t UnixSecondsOf(const FileTime& time) {
    return static_cast<int64_t>(TicksOf(time) / kTicksPerSecond) - kSecondsFrom1601To1970;
}

int64_t UnixNanosecondsOf(const FileTime& time) {
    return static_cast<int64_t>(TicksOf(time) % kTicksPerSecond) * 100;
}

bool CalendarToFileTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                        uint32_t second, uint32_t millisecond, FileTime* out) {
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
        millisecond > 999) {
        return false;
    }
    const uint64_t seconds =
        DaysSince1601(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    *out = FileTimeFromTicks((seconds * 1000 + millisecond) * 10000);
    return true;
}

bool DosDateTimeToFileTimeUtc(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    return CalendarToFileTime(1980 + (dosDate >> 9), (dosDate >> 5) & 0x0F, dosDate & 0x1F,
                              dosTime >> 11, (dosTime >> 5) & 0x3F, (dosTime & 0x1F) * 2, 0, out);
}

uint32_t DosDateTimeOf(int64_t unixSeconds) {
    constexpr int64_t kFirst = 315532800;  // 1980-01-01 00:00:00
    constexpr int64_t kLast = 4354819198;  // 2107-12-31 23:59:58
    const int64_t t = unixSeconds < kFirst ? kFirst : unixSeconds > kLast ? kLast : unixSeconds;
    int64_t year = 0;
    int64_t month = 0;
    int64_t day = 0;
    CivilDate(t / kSecondsPerDay, &year, &month, &day);
    const int64_t second = t % kSecondsPerDay;
    const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const uint32_t clock = static_cast<uint32_t>(((second / 3600) << 11) |
                                                 ((second / 60 % 60) << 5) | (second % 60 / 2));
    return (date << 16) | clock;
}
