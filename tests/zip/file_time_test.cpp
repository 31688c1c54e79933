// The file-time module, checked against counts worked out by hand and against itself: every DOS
// time the writer makes must read back as the same instant.
#include "platform/file_time.h"

#include <gtest/gtest.h>

#include "tests/zip/file_time.h"

namespace {

constexpr uint64_t kEpochTicks = 116444736000000000;  // 1970-01-01 as a FILETIME

TEST(CalendarTime, KeepsTheRangesOfTheWindowsConversion) {
    FileTime out{7, 7};
    ASSERT_TRUE(CalendarToFileTime(1601, 1, 1, 0, 0, 0, 0, &out));
    EXPECT_EQ(Ticks(out), 0u);
    ASSERT_TRUE(CalendarToFileTime(1970, 1, 1, 0, 0, 0, 1, &out));
    EXPECT_EQ(Ticks(out), kEpochTicks + 10000);
    ASSERT_TRUE(CalendarToFileTime(2000, 2, 29, 12, 0, 0, 0, &out));  // a leap day of a 400th year
    EXPECT_EQ(Ticks(out), UnixTicks(951825600));
    ASSERT_TRUE(CalendarToFileTime(30827, 12, 31, 23, 59, 59, 999, &out));

    const FileTime before = out;
    struct Rejected {
        uint32_t year, month, day, hour, minute, second, millisecond;
    };
    const Rejected rejected[] = {
        {1600, 12, 31, 0, 0, 0, 0}, {30828, 1, 1, 0, 0, 0, 0},   {1900, 2, 29, 0, 0, 0, 0},
        {2100, 2, 29, 0, 0, 0, 0},  {2023, 4, 31, 0, 0, 0, 0},   {2023, 0, 1, 0, 0, 0, 0},
        {2023, 1, 0, 0, 0, 0, 0},   {2023, 1, 1, 24, 0, 0, 0},   {2023, 1, 1, 0, 60, 0, 0},
        {2023, 1, 1, 0, 0, 60, 0},  {2023, 1, 1, 0, 0, 0, 1000},
    };
    for (const Rejected& r : rejected) {
        EXPECT_FALSE(CalendarToFileTime(r.year, r.month, r.day, r.hour, r.minute, r.second,
                                        r.millisecond, &out))
            << r.year << "-" << r.month << "-" << r.day;
        EXPECT_EQ(Ticks(out), Ticks(before));
    }
}

TEST(UnixTime, SecondsAndNanosecondsSplitAndJoinRoundingDown) {
    const FileTime justBefore1970 = FileTimeFromTicks(kEpochTicks - 1);
    EXPECT_EQ(UnixSecondsOf(justBefore1970), -1);
    EXPECT_EQ(UnixNanosecondsOf(justBefore1970), 999999900);
    EXPECT_EQ(Ticks(UnixTimeToFileTime(-1, 999999900)), kEpochTicks - 1);
    EXPECT_EQ(Ticks(UnixTimeToFileTime(kDosSampleUnix, 199)), UnixTicks(kDosSampleUnix) + 1);
    // Beyond year 30828 the ticks no longer fit a signed count; seconds still come out right.
    const FileTime last = FileTimeFromTicks(UINT64_MAX);
    EXPECT_EQ(UnixSecondsOf(last), static_cast<int64_t>(UINT64_MAX / 10000000) - 11644473600);
    EXPECT_EQ(UnixNanosecondsOf(last), 955161500);
}

TEST(UnixTime, FileTimesBeyondWhatAFiletimeHoldsAreClampedWithTheirNanoseconds) {
    // A file dated before 1601 is dated 1601, not thousands of years ahead.
    EXPECT_EQ(Ticks(UnixTimeToFileTime(-20000000000, 5)), 0u);
    const int64_t lastSecond = static_cast<int64_t>(UINT64_MAX / 10000000) - 11644473600;
    EXPECT_EQ(Ticks(UnixTimeToFileTime(lastSecond, 955161500)), UINT64_MAX);
    EXPECT_EQ(Ticks(UnixTimeToFileTime(lastSecond, 999999999)), UINT64_MAX);
    EXPECT_EQ(Ticks(UnixTimeToFileTime(lastSecond + 1, 0)), UINT64_MAX);
}

TEST(DosTime, WhatTheWriterMakesReadsBackAsTheSameEvenSecond) {
    for (int64_t t = 315532800; t < 4354819199; t += 86400 * 37 + 3607) {
        const uint32_t dos = DosDateTimeOf(t);
        FileTime back{0, 0};
        ASSERT_TRUE(DosDateTimeToFileTimeUtc(static_cast<uint16_t>(dos >> 16),
                                             static_cast<uint16_t>(dos), &back))
            << t;
        EXPECT_EQ(UnixSecondsOf(back), t - t % 2) << t;
    }
}

}  // namespace
