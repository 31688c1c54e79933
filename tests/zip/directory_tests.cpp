#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/zip_builder.h"
#include "zip/directory_reader.h"

namespace {

struct DirectoryFixture : ::testing::Test {
    // Opens a reader over `archive`; the bytes stay alive in the fixture.
    ZipDirectoryReader* Open(const Bytes& archive) {
        CloseDirectoryReader(reader);
        bytes = archive;
        ReaderResult result = ReaderIoError;
        reader = OpenDirectoryReader(
            CreateMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()), &result));
        return reader;
    }
    uint32_t FindIn(const Bytes& archive) {
        ReaderResult result = ReaderOk;
        ArchiveSource* source =
            CreateMemorySource(archive.data(), static_cast<uint32_t>(archive.size()), &result);
        const uint32_t found = FindEndRecord(source);
        SourceClose(source);
        return found;
    }
    ReaderResult Check() {
        return CheckLocalHeader(reader, &variableSize, &extraOffset, &extraSize);
    }
    void TearDown() override { CloseDirectoryReader(reader); }

    Bytes bytes;
    ZipDirectoryReader* reader = nullptr;
    uint32_t variableSize = 0;
    uint32_t extraOffset = 0;
    uint32_t extraSize = 0;
};

TestArchive ThreeEntries() {
    TestArchive a;
    a.entries = {MakeEntry("first.txt", "alpha"), MakeEntry("dir/", ""),
                 MakeEntry("last.bin", std::string(300, 'z'), 8)};
    return a;
}

// ---- Finding and checking the end record ----

TEST_F(DirectoryFixture, EndRecordAloneAtPositionZeroIsNotFound) {
    const Bytes only = BuildZip(TestArchive{});
    ASSERT_EQ(only.size(), 22u);
    EXPECT_EQ(FindIn(only), 0u);
    EXPECT_EQ(Open(only), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderIoError);
}

TEST_F(DirectoryFixture, TinySourcesHoldNoEndRecord) {
    EXPECT_EQ(FindIn(Bytes{}), 0u);
    EXPECT_EQ(FindIn(Bytes{0x50, 0x4B, 0x05, 0x06}), 0u);
    EXPECT_EQ(FindIn(Bytes{0, 0x50, 0x4B, 0x05, 0x06}), 1u);
}

TEST_F(DirectoryFixture, EndRecordIsFoundAcrossEveryBlockBoundary) {
    // Comment lengths around the 1024-byte block steps put the signature on, before and after
    // each boundary between the blocks of the backward search.
    TestArchive a = ThreeEntries();
    const size_t archiveSize = BuildZip(a).size();
    for (size_t comment : {0u, 1000u, 1001u, 1002u, 1003u, 1004u, 1005u, 1006u, 2026u, 2027u, 2028u,
                           2029u, 2030u, 2031u, 64000u}) {
        a.comment.assign(comment, 'c');
        EXPECT_EQ(FindIn(BuildZip(a)), archiveSize - 22) << "comment length " << comment;
    }
}

TEST_F(DirectoryFixture, LongestCommentIsFoundAndOneByteMoreIsNot) {
    TestArchive a = ThreeEntries();
    const size_t endPos = BuildZip(a).size() - 22;
    a.comment.assign(65535 - 22, 'c');
    EXPECT_EQ(FindIn(BuildZip(a)), endPos);
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, 0);
    a.comment.assign(65535 - 22 + 1, 'c');
    EXPECT_EQ(FindIn(BuildZip(a)), 0u);
}

TEST_F(DirectoryFixture, SignatureInTheCommentNearestTheEndWins) {
    TestArchive a = ThreeEntries();
    a.comment = std::string("xx") + "PK\x05\x06" + "yy";
    const Bytes archive = BuildZip(a);
    EXPECT_EQ(FindIn(archive), archive.size() - 6);
}

TEST_F(DirectoryFixture, BytesAfterTheArchiveAreTolerated) {
    TestArchive a = ThreeEntries();
    a.suffix.assign(500, 's');
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(reader->entryCount, 3u);
    EXPECT_TRUE(reader->entryValid);
}

TEST_F(DirectoryFixture, InconsistentEndRecordsAreBadArchives) {
    TestArchive a = ThreeEntries();
    a.thisDisk = 1;
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderBadArchive);

    a = ThreeEntries();
    a.directoryDisk = 1;
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderBadArchive);

    a = ThreeEntries();
    a.entriesTotal = 4;
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderBadArchive);

    a = ThreeEntries();
    a.directorySize = static_cast<uint32_t>(BuildZip(a).size());  // ends after the end record
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderBadArchive);
}

TEST_F(DirectoryFixture, DirectoryBoundsThatWrapAround32BitsAreBadArchives) {
    // 0xFFFFFFF0 + 0x20 wraps to 0x10, which would lie before the end record.
    TestArchive a = ThreeEntries();
    a.directoryOffset = 0xFFFFFFF0;
    a.directorySize = 0x20;
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderBadArchive);
}

TEST_F(DirectoryFixture, MissingEndRecordReportsWhatPositionZeroHolds) {
    EXPECT_EQ(Open(Bytes(100, 0)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderIoError);
    // A local header read as an end record: its "disk numbers" are not 0.
    TestArchive a = ThreeEntries();
    a.comment.assign(65600, 'c');
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, ReaderBadArchive);
}

TEST_F(DirectoryFixture, NoSourceSetsItsOwnResult) {
    EXPECT_EQ(OpenDirectoryReader(nullptr), nullptr);
    EXPECT_EQ(LastOpenResult, 0x10000);
}

TEST_F(DirectoryFixture, EmptyArchiveAfterOtherDataOpensWithoutValidEntry) {
    TestArchive a;
    a.prefix.assign(64, 'p');
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastOpenResult, 0);
    EXPECT_EQ(reader->entryCount, 0u);
    EXPECT_FALSE(reader->entryValid);
    EXPECT_EQ(GoToNextEntry(reader), ReaderEndOfList);
}

// ---- Walking the central directory ----

TEST_F(DirectoryFixture, PrefixBytesAreAccountedForEverywhere) {
    TestArchive a = ThreeEntries();
    a.prefix.assign(1000, '\x90');
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(reader->prefixBytes, 1000u);
    const char* names[] = {"first.txt", "dir/", "last.bin"};
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(i == 0 ? GoToFirstEntry(reader) : GoToNextEntry(reader), ReaderOk);
        EXPECT_EQ(reader->entryIndex, i);
        uint8_t name[260];
        CentralEntryInfo info{};
        uint32_t localOffset = 0;
        ASSERT_EQ(ReadCurrentEntryInfo(reader, &info, &localOffset, name, sizeof name), ReaderOk);
        EXPECT_STREQ(reinterpret_cast<char*>(name), names[i]);
        EXPECT_EQ(localOffset, reader->localHeaderOffset);
        EXPECT_EQ(Check(), ReaderOk);
        EXPECT_EQ(variableSize, std::strlen(names[i]));
    }
    EXPECT_EQ(reader->currentEntry.compressionMethod, 8u);
    EXPECT_EQ(reader->currentEntry.uncompressedSize, 300u);
    EXPECT_EQ(GoToNextEntry(reader), ReaderEndOfList);
    EXPECT_EQ(reader->entryIndex, 2u);
    EXPECT_TRUE(reader->entryValid);
}

TEST_F(DirectoryFixture, CentralFieldsAreReadInTheirOrder) {
    TestArchive a;
    TestEntry e = MakeEntry("n", "data");
    e.versionMadeBy = 0x031E;
    e.flags = 0x0800;
    e.dosDateTime = 0x12345678;
    e.externalAttributes = 0x81A40020;
    e.centralExtra = "XY" + Le16(2) + "ab";
    e.comment = "note";
    a.entries = {e, MakeEntry("second", "")};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    const CentralEntryInfo& c = reader->currentEntry;
    EXPECT_EQ(c.versionMadeBy, 0x031Eu);
    EXPECT_EQ(c.versionNeeded, 20u);
    EXPECT_EQ(c.flags, 0x0800u);
    EXPECT_EQ(c.dosDateTime, 0x12345678u);
    EXPECT_EQ(c.storedCrc32, Crc32("data"));
    EXPECT_EQ(c.compressedSize, 4u);
    EXPECT_EQ(c.uncompressedSize, 4u);
    EXPECT_EQ(c.nameLength, 1u);
    EXPECT_EQ(c.extraLength, 6u);
    EXPECT_EQ(c.commentLength, 4u);
    EXPECT_EQ(c.externalAttributes, 0x81A40020u);
    // The next header lies past the name, extra field and comment.
    ASSERT_EQ(GoToNextEntry(reader), ReaderOk);
    EXPECT_EQ(reader->currentEntry.nameLength, 6u);
}

TEST_F(DirectoryFixture, NameBufferSizes) {
    TestArchive a;
    a.entries = {MakeEntry("abcdefgh", "x")};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    uint8_t name[16];
    std::memset(name, 0xEE, sizeof name);
    ASSERT_EQ(ReadCurrentEntryInfo(reader, nullptr, nullptr, name, 9), ReaderOk);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "abcdefgh");

    std::memset(name, 0xEE, sizeof name);
    ASSERT_EQ(ReadCurrentEntryInfo(reader, nullptr, nullptr, name, 8), ReaderOk);
    EXPECT_EQ(std::memcmp(name, "abcdefgh", 8), 0);
    EXPECT_EQ(name[8], 0xEE);  // exactly the buffer, unterminated

    std::memset(name, 0xEE, sizeof name);
    ASSERT_EQ(ReadCurrentEntryInfo(reader, nullptr, nullptr, name, 3), ReaderOk);
    EXPECT_EQ(std::memcmp(name, "abc", 3), 0);
    EXPECT_EQ(name[3], 0xEE);

    std::memset(name, 0xEE, sizeof name);
    ASSERT_EQ(ReadCurrentEntryInfo(reader, nullptr, nullptr, name, 0), ReaderOk);
    EXPECT_EQ(name[0], 0xEE);
}

TEST_F(DirectoryFixture, NameRunningPastTheEndIsAReadFailureThatStoresNothing) {
    TestArchive a;
    a.entries = {MakeEntry("name", "x")};
    Bytes archive = BuildZip(a);
    // Point the central name length far beyond the data; the end record still checks out.
    const size_t central = archive.size() - 22 - (46 + 4);
    archive[central + 28] = 0xFF;
    archive[central + 29] = 0x7F;
    ASSERT_NE(Open(archive), nullptr);
    CentralEntryInfo info{};
    info.flags = 0xABCD;
    uint32_t localOffset = 0x1234;
    uint8_t name[260];
    EXPECT_EQ(ReadCurrentEntryInfo(reader, &info, &localOffset, name, sizeof name), ReaderIoError);
    EXPECT_EQ(info.flags, 0xABCDu);
    EXPECT_EQ(localOffset, 0x1234u);
}

TEST_F(DirectoryFixture, BrokenHeaderStopsTheWalkUntilItRestarts) {
    TestArchive a = ThreeEntries();
    Bytes archive = BuildZip(a);
    // Spoil the signature of the second central header.
    const size_t second = archive.size() - 22 - (46 + 8) - (46 + 4);
    ASSERT_EQ(archive[second], 0x50);
    archive[second] = 0x51;
    ASSERT_NE(Open(archive), nullptr);
    EXPECT_TRUE(reader->entryValid);
    const CentralEntryInfo before = reader->currentEntry;
    EXPECT_EQ(GoToNextEntry(reader), ReaderBadArchive);
    EXPECT_FALSE(reader->entryValid);
    EXPECT_EQ(reader->entryIndex, 1u);
    EXPECT_EQ(reader->currentEntry.nameLength, before.nameLength);  // earlier contents kept
    EXPECT_EQ(GoToNextEntry(reader), ReaderEndOfList);
    EXPECT_EQ(reader->entryIndex, 1u);
    uint32_t v = 0, o = 0, s = 0;
    EXPECT_EQ(CheckLocalHeader(reader, &v, &o, &s), ReaderBadArgument);
    EXPECT_EQ(GoToFirstEntry(reader), ReaderOk);
    EXPECT_TRUE(reader->entryValid);
}

TEST_F(DirectoryFixture, NullReaderIsABadArgument) {
    EXPECT_EQ(GoToFirstEntry(nullptr), ReaderBadArgument);
    EXPECT_EQ(GoToNextEntry(nullptr), ReaderBadArgument);
    EXPECT_EQ(ReadCurrentEntryInfo(nullptr, nullptr, nullptr, nullptr, 0), ReaderBadArgument);
    CloseDirectoryReader(nullptr);
}

// ---- Local header against central header ----

TEST_F(DirectoryFixture, LocalHeaderOutputsLocateExtraFieldAndData) {
    TestArchive a;
    a.prefix = "stub";
    TestEntry e = MakeEntry("name.txt", "payload");
    e.localExtra = "ab" + Le16(3) + "xyz";
    a.entries = {MakeEntry("zero", ""), e};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    ASSERT_EQ(GoToNextEntry(reader), ReaderOk);
    ASSERT_EQ(Check(), ReaderOk);
    EXPECT_EQ(variableSize, 8u + 7u);
    EXPECT_EQ(extraSize, 7u);
    EXPECT_EQ(extraOffset, reader->localHeaderOffset + 30 + 8);
    // The data follows directly; read through the archive offset, prefix included.
    ASSERT_TRUE(SeekToArchiveOffset(reader, reader->localHeaderOffset + 30 + variableSize));
    char data[7];
    ASSERT_EQ(SourceRead(reader->source, data, 7, 1), 1u);
    EXPECT_EQ(std::string(data, 7), "payload");
}

TEST_F(DirectoryFixture, DataDescriptorFlagSwitchesOffCrcAndSizeComparisons) {
    TestArchive a;
    TestEntry e = MakeEntry("streamed", "some data", 8);
    e.localFlags = 0x0008;
    e.localCrc = 0;
    e.localCompressedSize = 0;
    e.localUncompressedSize = 0;
    a.entries = {e};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(Check(), ReaderOk);

    a.entries[0].localFlags = 0;
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(Check(), ReaderBadArchive);
}

TEST_F(DirectoryFixture, LocalHeaderDisagreementsAreBadArchives) {
    auto checkWith = [this](void (*tamper)(TestEntry&)) {
        TestArchive a;
        TestEntry e = MakeEntry("file.txt", "contents");
        tamper(e);
        a.entries = {e};
        if (Open(BuildZip(a)) == nullptr) return ReaderResult{1};
        return Check();
    };
    EXPECT_EQ(checkWith([](TestEntry&) {}), ReaderOk);
    EXPECT_EQ(checkWith([](TestEntry& e) {
                  e.method = 12;
                  e.compressed = "x";
              }),
              ReaderBadArchive);
    EXPECT_EQ(checkWith([](TestEntry& e) { e.localMethod = 8; }), ReaderBadArchive);
    EXPECT_EQ(checkWith([](TestEntry& e) { e.localCrc = 1; }), ReaderBadArchive);
    EXPECT_EQ(checkWith([](TestEntry& e) { e.localCompressedSize = 9; }), ReaderBadArchive);
    EXPECT_EQ(checkWith([](TestEntry& e) { e.localUncompressedSize = 9; }), ReaderBadArchive);
    EXPECT_EQ(checkWith([](TestEntry& e) {
                  e.localName = "file.tx";
                  e.localFlags = 0x0008;
              }),
              ReaderBadArchive);
    // A different local name of the same length is not compared.
    EXPECT_EQ(checkWith([](TestEntry& e) { e.localName = "FILE.TXT"; }), ReaderOk);
}

TEST_F(DirectoryFixture, WrongLocalSignatureStillReportsTheSizes) {
    TestArchive a;
    a.entries = {MakeEntry("abc", "x")};
    Bytes archive = BuildZip(a);
    archive[0] = 'Q';
    ASSERT_NE(Open(archive), nullptr);
    EXPECT_EQ(Check(), ReaderBadArchive);
    EXPECT_EQ(variableSize, 3u);
    EXPECT_EQ(extraOffset, 33u);
}

TEST_F(DirectoryFixture, LocalHeaderOffsetThatWrapsDoesNotReachTheBytesInFront) {
    // A well-formed copy of the local header stands in the prefix at source position 0. The
    // central header's offset is chosen so that prefixBytes + offset wraps around to exactly 0.
    TestArchive plain;
    plain.entries = {MakeEntry("f", "x")};
    const Bytes original = BuildZip(plain);
    TestArchive a = plain;
    a.prefix.assign(original.begin(), original.begin() + 30 + 1 + 1);
    a.prefix.resize(1000, '\0');
    Bytes archive = BuildZip(a);
    const size_t central = archive.size() - 22 - (46 + 1);
    const uint32_t wrapping = 0u - 1000u;
    for (int i = 0; i < 4; ++i) archive[central + 42 + i] = (wrapping >> (8 * i)) & 0xFF;
    ASSERT_NE(Open(archive), nullptr);
    ASSERT_EQ(reader->prefixBytes, 1000u);
    ASSERT_EQ(reader->localHeaderOffset, wrapping);
    EXPECT_EQ(Check(), ReaderBadArchive);
}

}  // namespace
