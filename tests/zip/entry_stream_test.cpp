#include "zip/entry_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "tests/support/zip_builder.h"
#include "tests/zip/disk_support.h"

namespace {

// A directory reader over an archive built in the test; the bytes live as long as the reader.
class OpenReader {
  public:
    explicit OpenReader(const TestArchive& archive) : bytes_(BuildZip(archive)) {
        ReaderResult result = ReaderOk;
        reader_ = OpenDirectoryReader(
            CreateMemorySource(bytes_.data(), static_cast<uint32_t>(bytes_.size()), &result));
    }
    ~OpenReader() {
        ReleaseEntryStream(reader_);
        CloseDirectoryReader(reader_);
    }
    OpenReader(const OpenReader&) = delete;
    OpenReader& operator=(const OpenReader&) = delete;
    ZipDirectoryReader* get() const { return reader_; }

  private:
    Bytes bytes_;
    ZipDirectoryReader* reader_;
};

struct ReadOutcome {
    std::string data;
    std::vector<int32_t> counts;  // every result, the final 0 or failure included
    ReaderResult verdict;
};

// Reads the current entry to its end in requests of `step` bytes, then closes the stream.
ReadOutcome ReadWhole(ZipDirectoryReader* reader, uint32_t step) {
    ReadOutcome out{};
    EXPECT_EQ(OpenEntryStream(reader), ReaderOk);
    std::vector<char> buffer(step);
    for (;;) {
        const int32_t n = ReadEntryStream(reader, buffer.data(), step);
        out.counts.push_back(n);
        if (n <= 0) break;
        out.data.append(buffer.data(), static_cast<size_t>(n));
    }
    out.verdict = CloseEntryStream(reader);
    return out;
}

// Reads the current entry to its end through ReadEntryBlock, after `head` bytes through
// ReadEntryStream, then closes the stream. `blocks` records every block's place and size.
struct BlockOutcome {
    std::string data;
    std::vector<int32_t> counts;
    std::vector<const uint8_t*> blocks;
    ReaderResult verdict;
};
BlockOutcome ReadBlocks(ZipDirectoryReader* reader, uint32_t head = 0) {
    BlockOutcome out{};
    EXPECT_EQ(OpenEntryStream(reader), ReaderOk);
    std::string start(head, '\0');
    const int32_t n = ReadEntryStream(reader, &start[0], head);
    out.data = start.substr(0, n > 0 ? static_cast<size_t>(n) : 0);
    for (;;) {
        const uint8_t* block = nullptr;
        const int32_t count = ReadEntryBlock(reader, &block);
        out.counts.push_back(count);
        if (count <= 0) break;
        out.blocks.push_back(block);
        out.data.append(reinterpret_cast<const char*>(block), static_cast<size_t>(count));
    }
    out.verdict = CloseEntryStream(reader);
    return out;
}

// Half noise, half a repeated phrase, so that deflate has real work on both kinds of data.
std::string MixedBytes(size_t size, uint32_t seed) {
    std::string data = RandomBytes(size / 2, seed);
    while (data.size() < size) data += "the same phrase again, " + std::to_string(data.size() % 97);
    data.resize(size);
    return data;
}

// Raw deflate of `data` that stops after a full flush, without a final block.
std::string DeflateUnfinished(const std::string& data) {
    const std::string whole = Deflate(data);  // only to size the output buffer
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(whole.size() + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FULL_FLUSH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

class BlockBoundaries : public ::testing::TestWithParam<std::tuple<uint16_t, size_t>> {};

TEST_P(BlockBoundaries, WholeReadsBlockReadsAndByteReadsAgree) {
    const auto [method, size] = GetParam();
    const std::string data = RandomBytes(size, static_cast<uint32_t>(size));
    OpenReader reader(ArchiveOf({MakeEntry("entry.bin", data, method)}));

    const ReadOutcome whole = ReadWhole(reader.get(), 100000);
    EXPECT_EQ(whole.data, data);
    EXPECT_EQ(whole.verdict, ReaderOk);

    const ReadOutcome blocks = ReadWhole(reader.get(), 16384);
    std::vector<int32_t> expected;
    for (size_t left = size; left > 0; left -= std::min<size_t>(left, 16384)) {
        expected.push_back(static_cast<int32_t>(std::min<size_t>(left, 16384)));
    }
    expected.push_back(0);
    EXPECT_EQ(blocks.counts, expected);
    EXPECT_EQ(blocks.data, data);

    const ReadOutcome bytes = ReadWhole(reader.get(), 1);
    EXPECT_EQ(bytes.data, data);
    EXPECT_EQ(bytes.verdict, ReaderOk);
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, BlockBoundaries,
                         ::testing::Combine(::testing::Values(0, 8),
                                            ::testing::Values(0, 1, 16383, 16384, 16385, 40000)));

TEST(EntryStream, ReadsTheSourceOneBlockAtATime) {
    const std::string data = RandomBytes(16385, 7);
    OpenReader reader(ArchiveOf({MakeEntry("entry.bin", data, 0)}));
    const uint32_t dataStart = 30 + 9;  // local header and the name "entry.bin"
    ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
    char buffer[16385];
    ASSERT_EQ(ReadEntryStream(reader.get(), buffer, 1), 1);
    EXPECT_EQ(reader.get()->source->position, dataStart + 16384);
    ASSERT_EQ(ReadEntryStream(reader.get(), buffer, 16383), 16383);
    EXPECT_EQ(reader.get()->source->position, dataStart + 16384);
    ASSERT_EQ(ReadEntryStream(reader.get(), buffer, 16385), 1);
    EXPECT_EQ(reader.get()->source->position, dataStart + 16385);
    EXPECT_EQ(CloseEntryStream(reader.get()), ReaderOk);
}

TEST(EntryStream, ZeroLengthReadsChangeNothing) {
    OpenReader reader(ArchiveOf({MakeEntry("entry.bin", "abc", 0)}));
    ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
    char buffer[8];
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer, 0), 0);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer, 8), 3);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer, 0), 0);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer, 8), 0);
    EXPECT_EQ(CloseEntryStream(reader.get()), ReaderOk);
}

TEST(EntryStream, CrcVerdictComesOnlyAtCloseAndOnlyForAWholeEntry) {
    for (uint16_t method : {0, 8}) {
        TestEntry bad = MakeEntry("entry.bin", RandomBytes(20000, 3), method);
        bad.crc = Crc32(bad.data) ^ 1;
        TestEntry empty = MakeEntry("entry.bin", "", method);
        empty.crc = 0x12345678;
        OpenReader reader(ArchiveOf({bad, empty}));

        for (uint32_t step : {1u, 16384u}) {
            const ReadOutcome outcome = ReadWhole(reader.get(), step);
            EXPECT_EQ(outcome.data, bad.data);
            EXPECT_EQ(outcome.verdict, ReaderCrcMismatch) << "method " << method;
        }

        ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
        char buffer[100];
        EXPECT_EQ(ReadEntryStream(reader.get(), buffer, 100), 100);
        EXPECT_EQ(CloseEntryStream(reader.get()), ReaderOk) << "a partial read is not judged";

        ASSERT_EQ(GoToNextEntry(reader.get()), ReaderOk);
        EXPECT_EQ(ReadWhole(reader.get(), 16).verdict, ReaderCrcMismatch);
    }
}

TEST(EntryStream, DamagedOrTruncatedDeflateDataReadsShortWithoutFailure) {
    const std::string data = RandomBytes(40000, 11);
    const std::string head = DeflateUnfinished(data.substr(0, 20000));
    TestEntry truncated = MakeEntry("entry.bin", data, 8);
    truncated.compressed = head;
    TestEntry damaged = MakeEntry("entry.bin", data, 8);
    damaged.compressed = head + std::string("\x07\xff\xff\xff", 4);  // reserved block type
    TestEntry garbage = MakeEntry("entry.bin", data, 8);
    garbage.compressed = std::string(500, '\xff');

    for (const TestEntry& e : {truncated, damaged, garbage}) {
        OpenReader reader(ArchiveOf({e}));
        const ReadOutcome outcome = ReadWhole(reader.get(), 16384);
        EXPECT_EQ(outcome.data, data.substr(0, outcome.data.size()));
        EXPECT_LT(outcome.data.size(), data.size());
        EXPECT_EQ(outcome.counts.back(), 0);
        EXPECT_EQ(outcome.verdict, ReaderOk);
    }
}

TEST(EntryStream, DeliveryStopsAtTheCentralSizes) {
    const std::string data = RandomBytes(300, 5);
    TestEntry longDeflate = MakeEntry("entry.bin", data, 8);
    longDeflate.uncompressedSize = 100;
    longDeflate.crc = Crc32(data.substr(0, 100));
    TestEntry shortStored = MakeEntry("entry.bin", data, 0);
    shortStored.uncompressedSize = 400;
    OpenReader reader(ArchiveOf({longDeflate, shortStored}));

    ReadOutcome outcome = ReadWhole(reader.get(), 1000);
    EXPECT_EQ(outcome.data, data.substr(0, 100));
    EXPECT_EQ(outcome.verdict, ReaderOk);

    ASSERT_EQ(GoToNextEntry(reader.get()), ReaderOk);
    outcome = ReadWhole(reader.get(), 1000);
    EXPECT_EQ(outcome.data, data);
    EXPECT_EQ(outcome.verdict, ReaderOk);
}

// Inflate may fill the stream's whole block, but a block read delivers no byte past the size:
// in the first block, or in a later one of a larger entry.
TEST(EntryStream, BlockReadsStopAtTheCentralSizes) {
    const std::string data = MixedBytes(kEntryBlockSize + 5000, 6);
    const std::vector<size_t> sizes = {100, kEntryBlockSize, kEntryBlockSize + 1000};
    std::vector<TestEntry> entries;
    for (size_t size : sizes) {
        TestEntry entry = MakeEntry("entry.bin", data, 8);
        entry.uncompressedSize = static_cast<uint32_t>(size);
        entry.crc = Crc32(data.substr(0, size));
        entries.push_back(entry);
    }
    OpenReader reader(ArchiveOf(entries));
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        const BlockOutcome out = ReadBlocks(reader.get());
        EXPECT_TRUE(out.data == data.substr(0, size)) << out.data.size() << " bytes";
        EXPECT_EQ(out.counts.size(), size > kEntryBlockSize ? 3u : 2u);
        EXPECT_EQ(out.verdict, ReaderOk);
        GoToNextEntry(reader.get());
    }
}

TEST(EntryStream, DataPastTheEndOfTheArchiveFailsEveryReadThatNeedsIt) {
    TestEntry e = MakeEntry("entry.bin", RandomBytes(40000, 9), 0);
    e.compressedSize = 200000;
    OpenReader reader(ArchiveOf({e}));
    ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
    std::vector<char> buffer(16384);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer.data(), 16384), 16384);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer.data(), 16384), 16384);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer.data(), 16384), ReaderIoError);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer.data(), 16384), ReaderIoError);
    EXPECT_EQ(CloseEntryStream(reader.get()), ReaderOk);
}

TEST(EntryStream, AnOpenStreamIgnoresTheReaderMoving) {
    const TestEntry first = MakeEntry("entry.bin", RandomBytes(30000, 1), 8);
    const TestEntry second = MakeEntry("entry.bin", RandomBytes(30000, 2), 0);
    OpenReader reader(ArchiveOf({first, second}));
    ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
    std::vector<char> buffer(30000);
    ASSERT_EQ(ReadEntryStream(reader.get(), buffer.data(), 10000), 10000);
    ASSERT_EQ(GoToNextEntry(reader.get()), ReaderOk);
    ASSERT_EQ(ReadEntryStream(reader.get(), buffer.data() + 10000, 10000), 10000);
    ASSERT_EQ(GoToFirstEntry(reader.get()), ReaderOk);
    ASSERT_EQ(ReadEntryStream(reader.get(), buffer.data() + 20000, 20000), 10000);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), first.data);

    // Opening again closes the old stream first and reads the reader's entry now.
    ASSERT_EQ(GoToNextEntry(reader.get()), ReaderOk);
    EXPECT_EQ(ReadWhole(reader.get(), 16384).data, second.data);
}

TEST(EntryStream, RefusesMissingReaderStreamOrEntryAndMismatchedLocalHeader) {
    char buffer[4];
    EXPECT_EQ(OpenEntryStream(nullptr), ReaderBadArgument);
    EXPECT_EQ(ReadEntryStream(nullptr, buffer, 4), ReaderBadArgument);
    EXPECT_EQ(CloseEntryStream(nullptr), ReaderBadArgument);

    TestEntry mismatched = MakeEntry("entry.bin", "data", 0);
    mismatched.localMethod = 8;
    TestArchive archive = ArchiveOf({mismatched});
    archive.prefix = "stub bytes in front";
    OpenReader reader(archive);
    EXPECT_EQ(ReadEntryStream(reader.get(), buffer, 4), ReaderBadArgument);
    EXPECT_EQ(CloseEntryStream(reader.get()), ReaderBadArgument);
    EXPECT_EQ(OpenEntryStream(reader.get()), ReaderBadArchive);
    EXPECT_EQ(reader.get()->openStream, nullptr);

    reader.get()->entryValid = false;
    EXPECT_EQ(OpenEntryStream(reader.get()), ReaderBadArgument);
}

TEST(EntryStream, ReadsAfterBytesInFrontOfTheArchive) {
    TestArchive archive = ArchiveOf({MakeEntry("entry.bin", RandomBytes(20000, 4), 8)});
    archive.prefix = std::string(1000, 'p');
    OpenReader reader(archive);
    const ReadOutcome outcome = ReadWhole(reader.get(), 4096);
    EXPECT_EQ(outcome.data, archive.entries[0].data);
    EXPECT_EQ(outcome.verdict, ReaderOk);
}

// ---- Whole blocks for the copy to disk, and one stream reused for a whole archive ----

class WholeBlocks : public ::testing::TestWithParam<std::tuple<uint16_t, size_t>> {};

TEST_P(WholeBlocks, ComeInFullBlocksButTheLastAndStoredOnesFromTheArchiveItself) {
    const auto [method, size] = GetParam();
    const std::string data = MixedBytes(size, static_cast<uint32_t>(size));
    const TestArchive archive = ArchiveOf({MakeEntry("entry.bin", data, method)});
    OpenReader reader(archive);

    const BlockOutcome out = ReadBlocks(reader.get());
    EXPECT_TRUE(out.data == data) << out.data.size() << " bytes";
    EXPECT_EQ(out.verdict, ReaderOk);
    std::vector<int32_t> expected;
    for (size_t left = size; left > 0; left -= std::min<size_t>(left, kEntryBlockSize)) {
        expected.push_back(static_cast<int32_t>(std::min<size_t>(left, kEntryBlockSize)));
    }
    expected.push_back(0);
    EXPECT_EQ(out.counts, expected);
    if (method == 0) {
        const ArchiveSource* source = reader.get()->source;
        for (const uint8_t* block : out.blocks) {
            EXPECT_GE(block, source->data);
            EXPECT_LE(block, source->data + source->length);
        }
    }

    // A start through ReadEntryStream and the rest in blocks gives the same bytes.
    const BlockOutcome mixed = ReadBlocks(reader.get(), 1000);
    EXPECT_TRUE(mixed.data == data) << mixed.data.size() << " bytes";
    EXPECT_EQ(mixed.verdict, ReaderOk);
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, WholeBlocks,
                         ::testing::Combine(::testing::Values(0, 8),
                                            ::testing::Values(0, 1, kEntryBlockSize - 1,
                                                              kEntryBlockSize, kEntryBlockSize + 1,
                                                              2 * kEntryBlockSize + 12345)));

TEST(EntryStream, BlockReadsOfDataPastTheEndFailAndKeepFailing) {
    TestEntry e = MakeEntry("entry.bin", RandomBytes(40000, 9), 0);
    e.compressedSize = 200000;
    TestEntry short_ = MakeEntry("short.bin", RandomBytes(100, 9), 0);
    short_.compressedSize = 200000;  // but nothing is wanted beyond its size of 100
    short_.uncompressedSize = 0;
    short_.crc = 0;
    OpenReader reader(ArchiveOf({short_, e}));
    EXPECT_EQ(ReadBlocks(reader.get()).counts, std::vector<int32_t>{0});

    ASSERT_EQ(GoToNextEntry(reader.get()), ReaderOk);
    ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
    const uint8_t* block = nullptr;
    EXPECT_EQ(ReadEntryBlock(reader.get(), &block), ReaderIoError);
    EXPECT_EQ(ReadEntryBlock(reader.get(), &block), ReaderIoError);
    EXPECT_EQ(CloseEntryStream(reader.get()), ReaderOk);
}

TEST(EntryStream, OneStreamServesManyEntriesAndABrokenOneSpoilsNoneAfterIt) {
    const std::string data = MixedBytes(300000, 21);
    const std::string head = DeflateUnfinished(data.substr(0, 100000));
    std::vector<TestEntry> entries;
    for (int i = 0; i < 9; ++i) {
        entries.push_back(
            MakeEntry("e" + std::to_string(i), MixedBytes(70000 + i, i), i % 3 ? 8 : 0));
    }
    TestEntry damaged = MakeEntry("damaged", data, 8);
    damaged.compressed = head + std::string("\x07\xff\xff\xff", 4);  // reserved block type
    TestEntry badCrc = MakeEntry("bad-crc", data, 8);
    badCrc.crc = Crc32(data) ^ 1;
    TestEntry truncated = MakeEntry("truncated", data, 8);
    truncated.compressed = head;
    entries.insert(entries.begin() + 2, damaged);
    entries.insert(entries.begin() + 5, badCrc);
    entries.insert(entries.begin() + 8, truncated);
    OpenReader reader(ArchiveOf(entries));

    const EntryStream* kept = nullptr;
    const uint8_t* outputBlock = nullptr;
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(GoToFirstEntry(reader.get()), ReaderOk);
        for (size_t i = 0; i < entries.size(); ++i) {
            SCOPED_TRACE(entries[i].name + " in pass " + std::to_string(pass));
            if (i > 0) {
                ASSERT_EQ(GoToNextEntry(reader.get()), ReaderOk);
            }
            if (pass == 1 && i == 3) {  // left in the middle of its deflate data
                ASSERT_EQ(entries[i].method, 8);
                ASSERT_EQ(OpenEntryStream(reader.get()), ReaderOk);
                char part[1000];
                ASSERT_EQ(ReadEntryStream(reader.get(), part, sizeof part), 1000);
                continue;  // the next open closes it
            }
            const BlockOutcome out = ReadBlocks(reader.get());
            const TestEntry& e = entries[i];
            if (e.name == "damaged" || e.name == "truncated") {
                EXPECT_EQ(out.data.size(), 100000u);
                EXPECT_TRUE(out.data == data.substr(0, out.data.size()));
                EXPECT_EQ(out.verdict, ReaderOk);
            } else {
                EXPECT_TRUE(out.data == e.data) << out.data.size() << " bytes";
                EXPECT_EQ(out.verdict, e.name == "bad-crc" ? ReaderCrcMismatch : ReaderOk);
            }
            // One stream and one output block for the whole archive.
            if (kept == nullptr) kept = reader.get()->idleStream;
            EXPECT_EQ(reader.get()->idleStream, kept);
            if (e.method != 0 && outputBlock == nullptr) outputBlock = out.blocks.at(0);
            if (e.method != 0 && !out.blocks.empty()) {
                EXPECT_EQ(out.blocks[0], outputBlock);
            }
        }
    }
}

}  // namespace
