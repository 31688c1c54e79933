#include <gtest/gtest.h>

#include <cstring>

#include "zip/archive_source.h"

namespace {

struct SourceFixture : ::testing::Test {
    ArchiveSource* Open(const uint8_t* data, uint32_t length) {
        ReaderResult result = ReaderIoError;
        source = CreateMemorySource(data, length, &result);
        EXPECT_EQ(result, ReaderOk);
        return source;
    }
    void TearDown() override {
        if (source != nullptr) SourceClose(source);
    }
    ArchiveSource* source = nullptr;
};

TEST_F(SourceFixture, EmptySourceDeliversNothing) {
    Open(nullptr, 0);
    uint8_t buffer[4] = {7, 7, 7, 7};
    EXPECT_EQ(SourceRead(source, buffer, 1, 4), 0u);
    EXPECT_EQ(buffer[0], 7);
    uint32_t value = 99;
    EXPECT_EQ(SourceReadByte(source, &value), ReaderOk);
    EXPECT_EQ(value, 99u);
    SourceSeekToEnd(source);
    EXPECT_EQ(SourceTell(source), 0u);
}

TEST_F(SourceFixture, ShortReadCountsWholeItemsOnly) {
    const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    Open(data, sizeof data);
    ASSERT_TRUE(SourceSeek(source, 2));
    uint8_t buffer[10] = {};
    EXPECT_EQ(SourceRead(source, buffer, 10, 1), 0u);  // one item of 10: only 4 came
    EXPECT_EQ(std::memcmp(buffer, data + 2, 4), 0);
    EXPECT_EQ(SourceTell(source), 6u);

    ASSERT_TRUE(SourceSeek(source, 2));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(SourceRead(source, buffer, 1, 10), 4u);  // ten items of 1: four came
    EXPECT_EQ(std::memcmp(buffer, data + 2, 4), 0);

    ASSERT_TRUE(SourceSeek(source, 0));
    EXPECT_EQ(SourceRead(source, buffer, 4, 2), 1u);  // 6 bytes copied, one whole item of 4
    EXPECT_EQ(SourceTell(source), 6u);
}

TEST_F(SourceFixture, ItemProductBeyond32BitsIsNotWrapped) {
    // 0x10000 * 0x10001 wraps to 0x10000 in 32 bits; the request must stay huge instead.
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Open(data, sizeof data);
    uint8_t buffer[8] = {};
    EXPECT_EQ(SourceRead(source, buffer, 0x10000, 0x10001), 0u);
    EXPECT_EQ(SourceTell(source), 8u);
    EXPECT_EQ(std::memcmp(buffer, data, 8), 0);
}

TEST_F(SourceFixture, SeekBeyondEndReadsNothing) {
    const uint8_t data[4] = {1, 2, 3, 4};
    Open(data, sizeof data);
    ASSERT_TRUE(SourceSeek(source, 100));
    EXPECT_EQ(SourceTell(source), 100u);
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(SourceRead(source, buffer, 1, 4), 0u);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(SourceTell(source), 100u);
    ASSERT_TRUE(SourceSeek(source, UINT32_MAX));
    EXPECT_EQ(SourceRead(source, buffer, 1, 4), 0u);
    SourceSeekToEnd(source);
    EXPECT_EQ(SourceTell(source), 4u);
}

TEST_F(SourceFixture, LittleEndianValues) {
    const uint8_t data[] = {0x34, 0x12, 0x50, 0x4B, 0x01, 0x02, 0xFF};
    Open(data, sizeof data);
    uint32_t value = 0;
    EXPECT_EQ(SourceReadUInt16(source, &value), ReaderOk);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_EQ(SourceReadUInt32(source, &value), ReaderOk);
    EXPECT_EQ(value, 0x02014B50u);
    EXPECT_EQ(SourceReadByte(source, &value), ReaderOk);
    EXPECT_EQ(value, 0xFFu);
}

TEST_F(SourceFixture, ValueCutShortByTheEndTakesZerosForMissingBytes) {
    const uint8_t data[] = {0xAB, 0xCD, 0xEF};
    Open(data, sizeof data);
    uint32_t value = 0;
    ASSERT_TRUE(SourceSeek(source, 1));
    EXPECT_EQ(SourceReadUInt32(source, &value), ReaderOk);
    EXPECT_EQ(value, 0xEFCDu);
    ASSERT_TRUE(SourceSeek(source, 2));
    EXPECT_EQ(SourceReadUInt16(source, &value), ReaderOk);
    EXPECT_EQ(value, 0xEFu);
}

}  // namespace
