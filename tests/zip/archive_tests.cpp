#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/scratch_folder.h"
#include "tests/support/zip_builder.h"
#include "tests/zip/file_time.h"
#include "zip/zip_archive.h"

namespace {

struct ArchiveFixture : ::testing::Test {
    ZipArchive* Open(const Bytes& archive) {
        if (handle != nullptr) CloseZipArchive(handle);
        bytes = archive;
        handle = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        return handle;
    }
    void TearDown() override {
        if (handle != nullptr) {
            EXPECT_EQ(CloseZipArchive(handle), ZipOk);
        }
    }
    ZipDirectoryReader* Reader() { return handle->state->reader; }

    Bytes bytes;
    ZipArchive* handle = nullptr;
    ZipEntryInfo info{};
};

TestArchive Numbered(int count) {
    TestArchive a;
    for (int i = 0; i < count; ++i) {
        a.entries.push_back(
            MakeEntry("entry" + std::to_string(i), std::string(i * 10, 'd'), i % 2 == 0 ? 0 : 8));
    }
    return a;
}

std::string Narrow(const char16_t* wide) {
    std::string out;
    for (; *wide != 0; ++wide) out += static_cast<char>(*wide);
    return out;
}

// ---- Opening and closing ----

TEST_F(ArchiveFixture, BytesThatAreNoArchiveOpenNothing) {
    LastZipResult = 12345;
    EXPECT_EQ(Open(Bytes(100, 0)), nullptr);
    EXPECT_EQ(LastZipResult, ReaderIoError);
    TestArchive a = Numbered(2);
    a.entriesTotal = 3;
    EXPECT_EQ(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(LastZipResult, ReaderBadArchive);
    EXPECT_EQ(OpenZipFromMemory(nullptr, 0), nullptr);
    EXPECT_EQ(LastZipResult, ReaderIoError);
}

TEST_F(ArchiveFixture, OpenAndCloseSetTheLastResult) {
    LastZipResult = 12345;
    ASSERT_NE(Open(BuildZip(Numbered(1))), nullptr);
    EXPECT_EQ(LastZipResult, ZipOk);
    EXPECT_EQ(handle->kind, 1);
    EXPECT_EQ(handle->state->cachedIndex, -1);
    EXPECT_EQ(CloseZipArchive(nullptr), ZipBadArgument);
    EXPECT_EQ(LastZipResult, ZipBadArgument);
    EXPECT_EQ(CloseZipArchive(handle), ZipOk);
    EXPECT_EQ(LastZipResult, ZipOk);
    handle = nullptr;
}

TEST_F(ArchiveFixture, WrongKindIsRefusedAndNothingChanges) {
    ASSERT_NE(Open(BuildZip(Numbered(2))), nullptr);
    handle->kind = 2;
    info.index = 77;
    EXPECT_EQ(GetZipEntry(handle, 0, &info), ZipWrongHandle);
    EXPECT_EQ(LastZipResult, ZipWrongHandle);
    EXPECT_EQ(info.index, 77);
    EXPECT_EQ(CloseZipArchive(handle), ZipWrongHandle);
    handle->kind = 1;
    EXPECT_EQ(GetZipEntry(nullptr, 0, &info), ZipBadArgument);
    EXPECT_EQ(LastZipResult, ZipBadArgument);
}

TEST_F(ArchiveFixture, RootFolderIsTheCurrentDirectoryWithASeparator) {
    ASSERT_NE(Open(BuildZip(Numbered(1))), nullptr);
    char16_t current[kZipNameUnits] = {};
    const uint32_t length = PlatformGetCurrentDirectory(kZipNameUnits, current);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, kZipNameUnits - 1);
    EXPECT_EQ(std::u16string(handle->state->rootFolder), std::u16string(current) + u"\\");
}

TEST_F(ArchiveFixture, RootFolderStaysTerminatedForLongCurrentDirectories) {
    // Nested folders make a current directory of exactly 258 units (which fits with its "\"),
    // then 259 and beyond (which do not).
    const ScratchFolder scratch;
    const CurrentDirectory inScratch(scratch.path());
    std::error_code error;
    auto currentLength = [] {
        char16_t text[1024];
        return PlatformGetCurrentDirectory(1024, text);
    };
    const Bytes archive = BuildZip(Numbered(1));
    for (uint32_t target : {258u, 259u, 300u}) {
        fs::current_path(scratch.path(), error);
        ASSERT_FALSE(error) << error.message();
        for (uint32_t remaining = target - currentLength(); remaining > 0;) {
            const uint32_t name = remaining - 1 > 200 ? 100 : remaining - 1;
            const fs::path child(std::string(name, static_cast<char>('a' + target % 26)));
            fs::create_directory(child, error);
            if (!error) fs::current_path(child, error);
            if (error) GTEST_SKIP() << "cannot make a current directory of " << target << " units";
            remaining -= name + 1;
        }
        ASSERT_EQ(currentLength(), target);
        ZipArchive* archiveHandle =
            OpenZipFromMemory(archive.data(), static_cast<uint32_t>(archive.size()));
        ASSERT_NE(archiveHandle, nullptr);
        const char16_t* root = archiveHandle->state->rootFolder;
        const size_t rootLength = std::char_traits<char16_t>::length(root);
        if (target == 258) {
            EXPECT_EQ(rootLength, 259u);
            EXPECT_EQ(root[258], u'\\');
        } else {
            EXPECT_EQ(rootLength, 0u);
        }
        CloseZipArchive(archiveHandle);
    }
}

// ---- Entries by index ----

TEST_F(ArchiveFixture, SummaryAndIndexRange) {
    ASSERT_NE(Open(BuildZip(Numbered(14))), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 3, &info), ZipOk);
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(GetZipEntry(handle, -1, &info), ZipOk);
    EXPECT_EQ(info.index, 14);
    EXPECT_EQ(info.name[0], 0);
    EXPECT_EQ(info.attributes, 0u);
    EXPECT_EQ(Ticks(info.writeTime) | Ticks(info.accessTime) | Ticks(info.creationTime), 0u);
    EXPECT_EQ(info.compressedSize | info.uncompressedSize, 0u);
    EXPECT_EQ(handle->state->cachedIndex, 3);  // the summary leaves the cache alone

    info.index = 99;
    EXPECT_EQ(GetZipEntry(handle, 14, &info), ZipBadArgument);
    EXPECT_EQ(LastZipResult, ZipBadArgument);
    EXPECT_EQ(GetZipEntry(handle, -2, &info), ZipBadArgument);
    EXPECT_EQ(GetZipEntry(handle, INT32_MIN, &info), ZipBadArgument);
    EXPECT_EQ(info.index, 99);
    EXPECT_EQ(Reader()->entryIndex, 3u);

    TestArchive empty;
    empty.prefix = "stub";
    ASSERT_NE(Open(BuildZip(empty)), nullptr);
    EXPECT_EQ(GetZipEntry(handle, 0, &info), ZipBadArgument);
    EXPECT_EQ(GetZipEntry(handle, -1, &info), ZipOk);
    EXPECT_EQ(info.index, 0);
}

TEST_F(ArchiveFixture, DriverLoopVisitsEveryEntryOnce) {
    ASSERT_NE(Open(BuildZip(Numbered(14))), nullptr);
    int32_t i = 0;
    while (GetZipEntry(handle, i, &info) == ZipOk) {
        EXPECT_EQ(info.index, i);
        EXPECT_EQ(Narrow(info.name), "entry" + std::to_string(i));
        EXPECT_EQ(info.uncompressedSize, static_cast<uint32_t>(i * 10));
        EXPECT_EQ(Ticks(info.writeTime), UnixTicks(kDosSampleUnix));
        EXPECT_EQ(Ticks(info.accessTime), UnixTicks(kDosSampleUnix));
        EXPECT_EQ(Ticks(info.creationTime), UnixTicks(kDosSampleUnix));
        EXPECT_EQ(info.attributes, 0xA1u);
        ++i;
    }
    EXPECT_EQ(i, 14);
    EXPECT_EQ(LastZipResult, ZipBadArgument);
}

TEST_F(ArchiveFixture, RepeatedIndexComesFromTheCacheWithoutReading) {
    ASSERT_NE(Open(BuildZip(Numbered(14))), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 4, &info), ZipOk);
    const ZipEntryInfo first = info;
    SourceSeek(Reader()->source, 12345);
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(GetZipEntry(handle, 4, &info), ZipOk);
    EXPECT_EQ(std::memcmp(&info, &first, sizeof info), 0);
    EXPECT_EQ(SourceTell(Reader()->source), 12345u);
}

TEST_F(ArchiveFixture, EarlierIndexRestartsTheWalk) {
    ASSERT_NE(Open(BuildZip(Numbered(14))), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 5, &info), ZipOk);
    EXPECT_EQ(Reader()->entryIndex, 5u);
    ASSERT_EQ(GetZipEntry(handle, 2, &info), ZipOk);
    EXPECT_EQ(Reader()->entryIndex, 2u);
    EXPECT_EQ(Narrow(info.name), "entry2");
    ASSERT_EQ(GetZipEntry(handle, 13, &info), ZipOk);
    EXPECT_EQ(Narrow(info.name), "entry13");
    EXPECT_EQ(handle->state->cachedIndex, 13);
}

// ---- Entries that cannot be read ----

TEST_F(ArchiveFixture, LocalHeaderMismatchIsCorruptAndKeepsTheCache) {
    TestArchive a = Numbered(3);
    a.entries[1].localCrc = 0xDEADBEEF;
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 0, &info), ZipOk);
    info.index = 55;
    EXPECT_EQ(GetZipEntry(handle, 1, &info), ZipCorrupt);
    EXPECT_EQ(LastZipResult, ZipCorrupt);
    EXPECT_EQ(info.index, 55);
    EXPECT_EQ(Reader()->entryIndex, 1u);
    EXPECT_EQ(handle->state->cachedIndex, 0);
    EXPECT_EQ(GetZipEntry(handle, 2, &info), ZipOk);  // the walk goes on past it
}

TEST_F(ArchiveFixture, UnsupportedMethodIsCorrupt) {
    TestArchive a = Numbered(1);
    a.entries[0].method = 12;
    a.entries[0].compressed = "bz";
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    EXPECT_EQ(GetZipEntry(handle, 0, &info), ZipCorrupt);
}

TEST_F(ArchiveFixture, LocalExtraFieldPastTheEndIsAReadFailure) {
    TestArchive a = Numbered(1);
    a.entries[0].localExtra = ExtendedTimestamp(0x01, {0});
    Bytes archive = BuildZip(a);
    archive[28] = 0xFF;  // the local extra field length now runs far past the archive
    archive[29] = 0xFF;
    ASSERT_NE(Open(archive), nullptr);
    EXPECT_EQ(GetZipEntry(handle, 0, &info), ZipReadFailed);
    EXPECT_EQ(handle->state->cachedIndex, -1);
}

TEST_F(ArchiveFixture, BrokenCentralHeaderStopsTheWalkWithoutLooping) {
    TestArchive a = Numbered(4);
    Bytes archive = BuildZip(a);
    // The directory holds entry0..entry3 with 6-byte names; spoil the third header's signature.
    const size_t third = archive.size() - 22 - 4 * (46 + 6) + 2 * (46 + 6);
    ASSERT_EQ(archive[third], 0x50);
    archive[third + 1] = 0;
    ASSERT_NE(Open(archive), nullptr);
    EXPECT_EQ(GetZipEntry(handle, 3, &info), ZipCorrupt);
    EXPECT_EQ(GetZipEntry(handle, 2, &info), ZipCorrupt);  // reached, but not valid
    EXPECT_EQ(GetZipEntry(handle, 3, &info), ZipCorrupt);
    EXPECT_EQ(GetZipEntry(handle, 1, &info), ZipOk);
    EXPECT_EQ(Narrow(info.name), "entry1");
    EXPECT_EQ(GetZipEntry(handle, 2, &info), ZipCorrupt);
}

TEST_F(ArchiveFixture, BrokenFirstHeaderStillOpens) {
    Bytes archive = BuildZip(Numbered(2));
    archive[archive.size() - 22 - 2 * (46 + 6)] = 'Q';
    ASSERT_NE(Open(archive), nullptr);
    EXPECT_EQ(LastZipResult, ZipOk);
    EXPECT_FALSE(Reader()->entryValid);
    EXPECT_EQ(GetZipEntry(handle, 0, &info), ZipCorrupt);
    EXPECT_EQ(GetZipEntry(handle, 1, &info), ZipCorrupt);
}

TEST_F(ArchiveFixture, NameRunningPastTheArchiveIsAReadFailure) {
    TestArchive a = Numbered(1);
    Bytes archive = BuildZip(a);
    const size_t central = archive.size() - 22 - (46 + 6);
    archive[central + 29] = 0x40;  // name length 0x4006: the walk's header read still passes
    ASSERT_NE(Open(archive), nullptr);
    ASSERT_TRUE(Reader()->entryValid);
    EXPECT_EQ(GetZipEntry(handle, 0, &info), ZipReadFailed);
}

// ---- Names ----

TEST_F(ArchiveFixture, NamesComeBackAsStoredAndWhole) {
    TestArchive a;
    a.entries = {MakeEntry("dir/file.txt", "x"), MakeEntry("..\\C:odd", "y"),
                 MakeEntry(std::string(300, 'L'), "z"), MakeEntry(std::string(259, 'M'), "w"),
                 MakeEntry(std::string(258, 'N'), "v")};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 0, &info), ZipOk);
    EXPECT_EQ(Narrow(info.name), "dir/file.txt");
    ASSERT_EQ(GetZipEntry(handle, 1, &info), ZipOk);
    EXPECT_EQ(Narrow(info.name), "..\\C:odd");

    // Names whose conversion does not fit 258 units are refused rather than cut; the narrow
    // record still holds the first 259 stored bytes.
    NarrowEntryInfo narrow{};
    ASSERT_EQ(GetZipEntryNarrow(handle->state, 2, &narrow), ZipOk);
    EXPECT_EQ(std::string(narrow.name), std::string(259, 'L'));
    EXPECT_FALSE(narrow.nameConverted);
    EXPECT_EQ(GetZipEntry(handle, 2, &info), ZipBadName);
    EXPECT_EQ(LastZipResult, ZipBadName);
    EXPECT_EQ(info.index, 1);  // left as it was
    ASSERT_EQ(GetZipEntryNarrow(handle->state, 3, &narrow), ZipOk);
    EXPECT_EQ(std::string(narrow.name), std::string(259, 'M'));
    EXPECT_EQ(GetZipEntry(handle, 3, &info), ZipBadName);
    ASSERT_EQ(GetZipEntry(handle, 4, &info), ZipOk);
    EXPECT_EQ(Narrow(info.name), std::string(258, 'N'));
}

TEST_F(ArchiveFixture, UnflaggedNamesAreDecodedWithTheAnsiCodePage) {
    // Windows-1252, the code page of the POSIX build and of Wine under a default locale.
    TestArchive a;
    a.entries = {MakeEntry("\x80\x81\x8D\x8F\x90\x9D\x9F\xA0\xE9\xFF", "x"),
                 MakeEntry("caf\xC3\xA9", "x")};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 0, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name),
              u"\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00A0\u00E9\u00FF");
    ASSERT_EQ(GetZipEntry(handle, 1, &info), ZipOk);
    EXPECT_EQ(std::u16string(info.name), u"caf\u00C3\u00A9");
}

// ---- Attributes and times through the local extra field ----

TEST_F(ArchiveFixture, TimesComeFromTheLocalExtendedTimestampOnly) {
    TestArchive a;
    TestEntry local = MakeEntry("local", "x");
    local.localExtra = Le16(0x000A) + Le16(4) + "ntfs" + ExtendedTimestamp(0x05, {100, 300});
    local.centralExtra = ExtendedTimestamp(0x01, {999});
    TestEntry centralOnly = MakeEntry("central", "x");
    centralOnly.centralExtra = ExtendedTimestamp(0x07, {1, 2, 3});
    centralOnly.externalAttributes = (0100644u << 16);
    a.entries = {local, centralOnly};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 0, &info), ZipOk);
    EXPECT_EQ(Ticks(info.writeTime), UnixTicks(100));
    EXPECT_EQ(Ticks(info.accessTime), UnixTicks(kDosSampleUnix));
    EXPECT_EQ(Ticks(info.creationTime), UnixTicks(300));
    ASSERT_EQ(GetZipEntry(handle, 1, &info), ZipOk);
    EXPECT_EQ(Ticks(info.writeTime), UnixTicks(kDosSampleUnix));
    EXPECT_EQ(info.attributes, 0x80u);
}

TEST_F(ArchiveFixture, SizesComeFromTheCentralHeader) {
    TestArchive a;
    TestEntry e = MakeEntry("deflated", std::string(5000, 'a'), 8);
    e.localFlags = 0x0008;
    e.localCompressedSize = 0;
    e.localUncompressedSize = 0;
    e.localCrc = 0;
    a.entries = {e};
    ASSERT_NE(Open(BuildZip(a)), nullptr);
    ASSERT_EQ(GetZipEntry(handle, 0, &info), ZipOk);
    EXPECT_EQ(info.uncompressedSize, 5000u);
    EXPECT_EQ(info.compressedSize, Deflate(std::string(5000, 'a')).size());
}

}  // namespace
