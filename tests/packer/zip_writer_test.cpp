// The zip writer, read back through the launcher's own reader: the attribute bits, times,
// names and data that the launcher will unpack.
#include "packer/zip_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/file_time.h"
#include "tests/packer/packer_test_support.h"
#include "zip/entry_stream.h"
#include "zip/zip_archive.h"

namespace {

int64_t Seconds(const FileTime& time) { return UnixSecondsOf(time); }

ZipEntryFacts File(const std::u16string& name, uint32_t attributes, int64_t written) {
    return ZipEntryFacts{name,
                         false,
                         attributes,
                         AtUnixSeconds(written),
                         AtUnixSeconds(written + 100),
                         AtUnixSeconds(written - 100),
                         true};
}

ByteBuffer Text(const std::string& text) { return ByteBuffer(text.begin(), text.end()); }

// Writes the entries into one archive.
ByteBuffer Zip(const std::vector<std::pair<ZipEntryFacts, ByteBuffer>>& entries, int level = 9) {
    ZipWriter writer;
    writer.level = level;
    std::u16string error;
    for (const auto& entry : entries)
        EXPECT_TRUE(AddZipEntry(&writer, entry.first, entry.second, &error));
    EXPECT_TRUE(FinishZip(&writer, &error));
    return writer.archive;
}

// An archive opened by the reader over a copy of its bytes, which the reader borrows.
class ReadBack {
  public:
    explicit ReadBack(const ByteBuffer& zip)
        : bytes_(zip),
          archive_(OpenZipFromMemory(bytes_.data(), static_cast<uint32_t>(bytes_.size()))) {
        EXPECT_NE(archive_, nullptr);
    }
    ~ReadBack() {
        if (archive_ != nullptr) CloseZipArchive(archive_);
    }
    ZipEntryInfo Entry(int32_t index) {
        ZipEntryInfo info{};
        EXPECT_EQ(GetZipEntry(archive_, index, &info), ZipOk);
        return info;
    }
    // The entry's data as the launcher's stream delivers it, CRC-32 checked.
    ByteBuffer Data(int32_t index) {
        Entry(index);
        ZipDirectoryReader* reader = archive_->state->reader;
        EXPECT_EQ(OpenEntryStream(reader), ReaderOk);
        ByteBuffer out;
        const uint8_t* block = nullptr;
        for (int32_t n; (n = ReadEntryBlock(reader, &block)) > 0;)
            out.insert(out.end(), block, block + n);
        EXPECT_EQ(CloseEntryStream(reader), ReaderOk);
        return out;
    }
    uint32_t Method(int32_t index) {
        Entry(index);
        return archive_->state->reader->currentEntry.compressionMethod;
    }
    uint32_t Flags(int32_t index) {
        Entry(index);
        return archive_->state->reader->currentEntry.flags;
    }

  private:
    ByteBuffer bytes_;
    ZipArchive* archive_;
};

TEST(ZipWriter, AttributesUnpackAsTheFilesHadThem) {
    ZipEntryFacts folder = File(u"data/", kAttributeDirectory, 1600000000);
    folder.isFolder = true;
    const ByteBuffer zip = Zip(
        {{File(u"plain.txt", kAttributeNormal, 1600000000), Text("a")},
         {File(u"readonly.txt", kAttributeReadOnly, 1600000000), Text("b")},
         {File(u"marked.sys", kAttributeHidden | kAttributeSystem | kAttributeArchive, 1600000000),
          Text("c")},
         {folder, {}}});
    ReadBack read(zip);
    // A writable file must say so in its Unix mode, or the launcher would make it read-only.
    EXPECT_EQ(read.Entry(0).attributes, 0x80u);
    EXPECT_EQ(read.Entry(1).attributes, 0x81u);
    EXPECT_EQ(read.Entry(2).attributes, 0xA6u);
    EXPECT_EQ(read.Entry(3).attributes, 0x90u);
    EXPECT_EQ(read.Entry(3).name, std::u16string(u"data/"));
}

TEST(ZipWriter, TimesUnpackToTheSecondAsUtc) {
    ZipEntryFacts noCreation = File(u"posix.txt", kAttributeNormal, 1623753025);
    noCreation.hasCreationTime = false;
    const ByteBuffer zip =
        Zip({{File(u"odd.txt", kAttributeNormal, 1623753025), Text("x")},  // 10:30:25 UTC
             {noCreation, Text("y")},
             {File(u"later.txt", kAttributeNormal, 2524608000), Text("z")},  // 2050
             {File(u"earlier.txt", kAttributeNormal, 0), Text("w")}});       // 1970
    ReadBack read(zip);
    const ZipEntryInfo odd = read.Entry(0);
    EXPECT_EQ(Seconds(odd.writeTime), 1623753025);
    EXPECT_EQ(Seconds(odd.accessTime), 1623753125);
    EXPECT_EQ(Seconds(odd.creationTime), 1623752925);
    // Without a creation time it comes from the DOS fields: the write time, to even seconds.
    EXPECT_EQ(Seconds(read.Entry(1).creationTime), 1623753024);
    // Past 2038 the timestamp block cannot hold it, but the DOS fields do, as UTC.
    EXPECT_EQ(Seconds(read.Entry(2).writeTime), 2524608000);
    EXPECT_EQ(Seconds(read.Entry(3).writeTime), 0);
}

TEST(ZipWriter, DosFieldsHoldUtcWithinTheirRange) {
    EXPECT_EQ(DosDateTimeOf(1436040066), 0x46E4A023u);                // 2015-07-04 20:01:06
    EXPECT_EQ(DosDateTimeOf(1436040067), 0x46E4A023u);                // odd seconds round down
    EXPECT_EQ(DosDateTimeOf(-5000000000), DosDateTimeOf(315532800));  // held at 1980-01-01
    EXPECT_EQ(DosDateTimeOf(315532800), 0x00210000u);
    EXPECT_EQ(DosDateTimeOf(9000000000), 0xFF9FBF7Du);  // held at 2107-12-31 23:59:58
    EXPECT_EQ(DosDateTimeOf(951782400), 0x285D0000u);   // 2000-02-29, a leap day
}

TEST(ZipWriter, NamesAreUtf8FlaggedOnlyWhenNotAscii) {
    const ByteBuffer zip =
        Zip({{File(u"ascii/name.txt", kAttributeNormal, 1600000000), Text("1")},
             {File(u"caf\u00e9.dll", kAttributeNormal, 1600000000), Text("2")},
             {File(u"\u8bf4\u660e/\u8bf4\u660e.txt", kAttributeNormal, 1600000000), Text("3")}});
    ReadBack read(zip);
    EXPECT_EQ(read.Flags(0) & 0x800, 0u);
    EXPECT_EQ(read.Flags(1) & 0x800, 0x800u);
    EXPECT_EQ(read.Flags(2) & 0x800, 0x800u);
    // The stored bytes are UTF-8 (after the 46-byte central header).
    const ByteBuffer stored = Text("caf\xc3\xa9.dll");
    EXPECT_NE(std::search(zip.begin(), zip.end(), stored.begin(), stored.end()), zip.end());
}

TEST(ZipWriter, DataIsDeflatedOnlyWhereThatMakesItSmaller) {
    std::mt19937 random(7);
    ByteBuffer noise(50000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    const ByteBuffer text = Text(std::string(30000, 'a') + "end");
    const std::vector<std::pair<ZipEntryFacts, ByteBuffer>> entries = {
        {File(u"noise.bin", kAttributeNormal, 1600000000), noise},
        {File(u"text.txt", kAttributeNormal, 1600000000), text},
        {File(u"empty.txt", kAttributeNormal, 1600000000), {}}};
    ReadBack deflated(Zip(entries));
    EXPECT_EQ(deflated.Method(0), 0u);
    EXPECT_EQ(deflated.Method(1), 8u);
    EXPECT_EQ(deflated.Method(2), 0u);
    EXPECT_EQ(deflated.Data(0), noise);
    EXPECT_EQ(deflated.Data(1), text);
    EXPECT_TRUE(deflated.Data(2).empty());
    ReadBack stored(Zip(entries, 0));
    EXPECT_EQ(stored.Method(1), 0u);
    EXPECT_EQ(stored.Data(1), text);
}

TEST(ZipWriter, RefusesMoreEntriesThanTheEndRecordCounts) {
    ZipWriter writer;
    writer.entries = kMaxZipEntries;
    std::u16string error;
    EXPECT_FALSE(AddZipEntry(&writer, File(u"one.txt", kAttributeNormal, 0), Text("1"), &error));
    EXPECT_NE(error.find(u"65,535"), std::u16string::npos);
}

}  // namespace
