// Archives written by real archivers (tests/data/make_reader_fixtures.py), listed entry by entry.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/zip/disk_support.h"
#include "tests/zip/file_time.h"
#include "zip/zip_archive.h"

namespace {

constexpr int64_t kInfoZipWrite = 1614834368;   // 2021-03-04 05:06:08 UTC, also the DOS time
constexpr int64_t kInfoZipAccess = 1614920768;  // 2021-03-05 05:06:08 UTC
constexpr int64_t kNoCheck = -1;

struct Expected {
    const char* name;
    uint32_t attributes;
    int64_t write;
    int64_t access;
    int64_t creation;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
};

std::vector<uint8_t> ReadFixture(const std::string& name) {
    std::ifstream in(TEST_DATA_DIR "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Narrow(const char16_t* wide) {
    std::string out;
    for (; *wide != 0; ++wide) out += static_cast<char>(*wide);
    return out;
}

// Lists the fixture through the archive handle and compares every entry with `expected`.
void ExpectListing(const std::string& fixture, const std::vector<Expected>& expected,
                   uint32_t prefixBytes = 0) {
    SCOPED_TRACE(fixture);
    const std::vector<uint8_t> bytes = ReadFixture(fixture);
    ASSERT_FALSE(bytes.empty()) << "missing fixture";
    ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    ASSERT_NE(archive, nullptr) << LastZipResult;
    EXPECT_EQ(archive->state->reader->prefixBytes, prefixBytes);

    ZipEntryInfo info{};
    ASSERT_EQ(GetZipEntry(archive, -1, &info), ZipOk);
    EXPECT_EQ(info.index, static_cast<int32_t>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        ASSERT_EQ(GetZipEntry(archive, static_cast<int32_t>(i), &info), ZipOk);
        EXPECT_EQ(Narrow(info.name), e.name);
        EXPECT_EQ(info.attributes, e.attributes);
        EXPECT_EQ(Ticks(info.writeTime), UnixTicks(e.write));
        if (e.access != kNoCheck) {
            EXPECT_EQ(Ticks(info.accessTime), UnixTicks(e.access));
        }
        EXPECT_EQ(Ticks(info.creationTime), UnixTicks(e.creation));
        EXPECT_EQ(info.compressedSize, e.compressedSize);
        EXPECT_EQ(info.uncompressedSize, e.uncompressedSize);
    }
    EXPECT_EQ(GetZipEntry(archive, static_cast<int32_t>(expected.size()), &info), ZipBadArgument);
    EXPECT_EQ(CloseZipArchive(archive), ZipOk);
}

TEST(RealArchives, InfoZipUnixModesAndExtendedTimestamps) {
    // Local blocks carry modification and access times; creation keeps the DOS time. The
    // folder's access time moved while zip read it and is not checked.
    ExpectListing("reader_infozip.zip",
                  {{"docs/", 0x90, kInfoZipWrite, kNoCheck, kInfoZipWrite, 0, 0},
                   {"docs/notes.txt", 0x80, kInfoZipWrite, kInfoZipAccess, kInfoZipWrite, 18, 1200},
                   {"locked.txt", 0x81, kInfoZipWrite, kInfoZipAccess, kInfoZipWrite, 10, 10}});
}

TEST(RealArchives, InfoZipStreamedWithDataDescriptors) {
    ExpectListing(
        "reader_infozip_streamed.zip",
        {{"docs/", 0x90, kInfoZipWrite, kNoCheck, kInfoZipWrite, 0, 0},
         {"docs/notes.txt", 0x80, kInfoZipWrite, kInfoZipAccess, kInfoZipWrite, 18, 1200}});
}

TEST(RealArchives, PythonDosAttributesBehindAStub) {
    const int64_t t = kDosSampleUnix;
    ExpectListing("reader_python.zip",
                  {{"bin/", 0x91, t, t, t, 0, 0},
                   {"bin/tool.exe", 0xA1, t, t, t, 291, 2050},
                   {"readonly.txt", 0xA1, t, t, t, 6, 6},
                   {"hidden.sys", 0xA7, t, t, t, 0, 0}},
                  1000);
}

TEST(RealArchives, PythonStreamedWithDataDescriptors) {
    const int64_t t = kDosSampleUnix;
    ExpectListing("reader_python_streamed.zip", {{"stream.txt", 0x80, t, t, t, 49, 7000}});
}

TEST(RealArchives, NamesInUtf8AndInUnicodePathFields) {
    using Names = std::vector<std::u16string>;
    const std::u16string folder = u"\u6570\u636E/";
    const std::u16string notes = folder + u"\u8BF4\u660E.txt";
    EXPECT_EQ(FixtureEntryNames("reader_names_python.zip"),
              (Names{folder, u"caf\u00E9.dll", notes}));
    EXPECT_EQ(FixtureEntryNames("reader_names_infozip.zip"), (Names{u"caf\u00E9.dll", notes}));
    // The renamed entry's field was made for its earlier name: the stored name counts.
    EXPECT_EQ(FixtureEntryNames("reader_names_unicode_path.zip"),
              (Names{u"caf\u00E9.dll", u"renamed.txt"}));
}

}  // namespace
