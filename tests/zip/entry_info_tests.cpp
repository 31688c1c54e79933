#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_time.h"
#include "tests/support/zip_builder.h"
#include "tests/zip/file_time.h"
#include "zip/entry_info.h"
#include "zip/zip_archive.h"

namespace {

TEST(AttributeMapping, DosAndUnixHalvesAreBothRead) {
    struct Case {
        uint32_t external;
        uint32_t expected;
    };
    const Case cases[] = {
        {0x00000020, 0xA1},               // DOS archive bit, no Unix mode: read-only
        {0x00000010, 0x91},               // DOS directory
        {0x00000027, 0xA7},               // archive, system, hidden, read-only
        {0x00000000, 0x81},               // nothing at all
        {(0100644u << 16), 0x80},         // Unix regular file, rw-r--r--
        {(0100444u << 16), 0x81},         // Unix regular file, r--r--r--
        {(040755u << 16) | 0x10, 0x90},   // Unix directory with the DOS directory bit
        {(040755u << 16), 0x90},          // Unix directory alone
        {(0100644u << 16) | 0x01, 0x81},  // DOS read-only wins over the owner-write bit
        {(0100644u << 16) | 0x22, 0xA2},  // hidden archive file from a Unix-aware archiver
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapExternalAttributes(c.external), c.expected) << std::hex << c.external;
    }
}

TEST(DosTime, ConvertsWithoutTimeZoneShift) {
    EXPECT_EQ(Ticks(FileTimeFromDos(0x46E4A023)), UnixTicks(kDosSampleUnix));
    // 1980-01-01 00:00:00, the first DOS date.
    EXPECT_EQ(Ticks(FileTimeFromDos(0x00210000)), UnixTicks(315532800));
    // 2020-02-29 23:59:58, a leap day.
    EXPECT_EQ(Ticks(FileTimeFromDos((0x505Du << 16) | 0xBF7D)), UnixTicks(1583020798));
}

TEST(DosTime, RejectedDatesAndTimesGiveZero) {
    const uint32_t date = 0x46E4;  // 2015-07-04
    const uint32_t time = 0xA023;  // 20:01:06
    const uint32_t rejected[] = {
        ((date & ~0x1Fu) << 16) | time,                  // day 0
        ((date & ~0x1E0u) << 16) | time,                 // month 0
        (((date & ~0x1E0u) | (13u << 5)) << 16) | time,  // month 13
        (date << 16) | (time & 0x07FF) | (24u << 11),    // hour 24
        (date << 16) | (time & ~0x07E0u) | (60u << 5),   // minute 60
        (date << 16) | (time & ~0x1Fu) | 30u,            // second 60
    };
    for (uint32_t value : rejected)
        EXPECT_EQ(Ticks(FileTimeFromDos(value)), 0u) << std::hex << value;
}

TEST(UnixTime, ConvertsAcrossTheWholeRange) {
    for (int64_t t :
         {int64_t{0}, int64_t{kDosSampleUnix}, int64_t{INT32_MAX}, int64_t{-43200}, int64_t{-43201},
          int64_t{-86400 * 365}, int64_t{INT32_MIN}, int64_t{-11644473600}}) {
        EXPECT_EQ(Ticks(UnixTimeToFileTime(t)), UnixTicks(t)) << t;
    }
    // Values beyond what a FILETIME holds are clamped instead of wrapping.
    EXPECT_EQ(Ticks(UnixTimeToFileTime(-11644473601)), 0u);
    EXPECT_EQ(Ticks(UnixTimeToFileTime(INT64_MIN)), 0u);
    EXPECT_EQ(Ticks(UnixTimeToFileTime(INT64_MAX)), UINT64_MAX);
}

// Runs the scan over a buffer of exactly the field's size, so that a read past it is caught by
// the address sanitizer.
struct Scan {
    explicit Scan(const std::string& field) {
        const std::vector<uint8_t> bytes(field.begin(), field.end());
        ApplyExtendedTimestamp(bytes.data(), static_cast<uint32_t>(bytes.size()), &write, &access,
                               &creation);
    }
    FileTime write{1, 0};
    FileTime access{2, 0};
    FileTime creation{3, 0};
};

TEST(ExtendedTimestamp, FlagsChooseTheTimes) {
    const Scan writeOnly(ExtendedTimestamp(0x01, {0}));
    EXPECT_EQ(Ticks(writeOnly.write), UnixTicks(0));
    EXPECT_EQ(writeOnly.access.low, 2u);
    EXPECT_EQ(writeOnly.creation.low, 3u);

    const Scan all(ExtendedTimestamp(0x07, {1000, 2000, 3000}));
    EXPECT_EQ(Ticks(all.write), UnixTicks(1000));
    EXPECT_EQ(Ticks(all.access), UnixTicks(2000));
    EXPECT_EQ(Ticks(all.creation), UnixTicks(3000));

    const Scan noWrite(ExtendedTimestamp(0x06, {2000, 3000}));
    EXPECT_EQ(noWrite.write.low, 1u);
    EXPECT_EQ(Ticks(noWrite.access), UnixTicks(2000));
    EXPECT_EQ(Ticks(noWrite.creation), UnixTicks(3000));

    // Stored values from 0x80000000 up are times before 1970.
    const Scan before1970(ExtendedTimestamp(0x01, {-1000000000}));
    EXPECT_EQ(Ticks(before1970.write), UnixTicks(-1000000000));
}

TEST(ExtendedTimestamp, OtherBlocksAreSteppedOverByTheirWholeSize) {
    const std::string ntfs = Le16(0x000A) + Le16(32) + std::string(32, '\x01');
    const std::string big = Le16(0x7777) + Le16(300) + std::string(300, 'U');
    const Scan afterBig(ntfs + big + ExtendedTimestamp(0x01, {5}));
    EXPECT_EQ(Ticks(afterBig.write), UnixTicks(5));

    const Scan ntfsOnly(ntfs);
    EXPECT_EQ(ntfsOnly.write.low, 1u);

    // Only the first block counts.
    const Scan twice(ExtendedTimestamp(0x01, {7}) + ExtendedTimestamp(0x01, {9}));
    EXPECT_EQ(Ticks(twice.write), UnixTicks(7));
}

TEST(ExtendedTimestamp, FieldsTooShortAreNotReadPastTheirEnd) {
    // Four bytes or fewer: no scan, even when they begin with "UT".
    const Scan four("UT" + Le16(5));
    EXPECT_EQ(four.write.low, 1u);

    // Flags announce three times, the field ends after the flags byte or inside the first time.
    const Scan flagsOnly("UT" + Le16(13) + "\x07");
    EXPECT_EQ(flagsOnly.write.low, 1u);
    const Scan cut(ExtendedTimestamp(0x07, {1000}).substr(0, 8));
    EXPECT_EQ(cut.write.low, 1u);

    // The first time fits, the rest keep their values.
    const Scan one(ExtendedTimestamp(0x07, {1000}) + "xy");
    EXPECT_EQ(Ticks(one.write), UnixTicks(1000));
    EXPECT_EQ(one.access.low, 2u);
    EXPECT_EQ(one.creation.low, 3u);

    // A block size that points past the field ends the scan.
    const Scan pastEnd(Le16(0x1234) + Le16(0xFFFF) + ExtendedTimestamp(0x01, {5}));
    EXPECT_EQ(pastEnd.write.low, 1u);

    // A "UT" header whose flags byte is the last byte of the field.
    const Scan lastByte(Le16(0x1234) + Le16(0) + "UT" + Le16(0) + "\x01");
    EXPECT_EQ(lastByte.write.low, 1u);
}

TEST(NameConversion, StaysTerminatedWhenItDoesNotFit) {
    std::string narrow(259, 'n');
    char16_t wide[kZipNameUnits];
    std::fill(std::begin(wide), std::end(wide), u'?');
    EXPECT_FALSE(NarrowToWide(narrow.c_str(), wide));
    EXPECT_EQ(wide[kZipNameUnits - 1], 0);
    for (size_t i = 0; i < kZipNameUnits && wide[i] != 0; ++i) EXPECT_EQ(wide[i], u'n');

    narrow.assign(258, 'n');
    EXPECT_TRUE(NarrowToWide(narrow.c_str(), wide));
    EXPECT_EQ(std::u16string(wide), std::u16string(258, u'n'));
}

}  // namespace
