#include "packer/zip_writer.h"

#include <zlib.h>

#include "packer/text.h"
#include "platform/file_time.h"
#include "platform/utf8.h"

namespace {

constexpr uint16_t kVersionMadeBy = 20 | (3 << 8);  // 2.0, on Unix: the high half is a mode
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kUtf8NameFlag = 0x0800;
constexpr uint32_t kKeptAttributes = 0x01 | 0x02 | 0x04 | 0x20;
constexpr uint32_t kFolderMode = 040755;
constexpr uint32_t kFileMode = 0100644;
constexpr uint32_t kReadOnlyFileMode = 0100444;

// The extended timestamp block: each time that a signed 32-bit count from 1970 holds.
ByteBuffer ExtendedTimestamp(const ZipEntryFacts& facts) {
    const int64_t times[3] = {UnixSecondsOf(facts.writeTime), UnixSecondsOf(facts.accessTime),
                              UnixSecondsOf(facts.creationTime)};
    const bool known[3] = {true, true, facts.hasCreationTime};
    uint8_t flags = 0;
    ByteBuffer values;
    for (int i = 0; i < 3; ++i) {
        if (!known[i] || times[i] < 0 || times[i] > INT32_MAX) continue;
        flags |= static_cast<uint8_t>(1 << i);
        AppendLe32(&values, static_cast<uint32_t>(times[i]));
    }
    ByteBuffer block;
    if (flags == 0) return block;
    AppendLe16(&block, 0x5455);  // "UT"
    AppendLe16(&block, static_cast<uint16_t>(1 + values.size()));
    block.push_back(flags);
    block.insert(block.end(), values.begin(), values.end());
    return block;
}

uint32_t ExternalAttributes(const ZipEntryFacts& facts) {
    const uint32_t dos = (facts.attributes & kKeptAttributes) | (facts.isFolder ? 0x10 : 0);
    const uint32_t mode = facts.isFolder                                 ? kFolderMode
                          : (facts.attributes & kAttributeReadOnly) != 0 ? kReadOnlyFileMode
                                                                         : kFileMode;
    return dos | (mode << 16);
}

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Raw deflate of `data` into `out`; false when it does not come out smaller.
bool DeflateSmaller(const ByteBuffer& data, int level, ByteBuffer* out) {
    if (level == 0 || data.empty()) return false;
    z_stream stream;
    if (!StartRawDeflate(&stream, level)) return false;
    out->resize(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out->data();
    stream.avail_out = static_cast<uInt>(out->size());
    const int result = deflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END && out->size() < data.size();
}

// The fields that the local and the central header share, from "version needed" on.
void AppendCommonFields(ByteBuffer* out, const ZipEntryHeader& header, const ZipEntryData& data) {
    AppendLe16(out, kVersionNeeded);
    AppendLe16(out, header.flags);
    AppendLe16(out, data.method);
    AppendLe32(out, header.dosDateTime);
    AppendLe32(out, data.crc);
    AppendLe32(out, data.compressedSize);
    AppendLe32(out, data.size);
    AppendLe16(out, static_cast<uint16_t>(header.name.size()));
    AppendLe16(out, static_cast<uint16_t>(header.extra.size()));
}

}  // namespace

ZipEntryHeader MakeZipEntryHeader(const ZipEntryFacts& facts) {
    ZipEntryHeader header;
    header.name = Utf16ToUtf8(facts.name.c_str());
    header.extra = ExtendedTimestamp(facts);
    header.flags = IsAscii(header.name) ? 0 : kUtf8NameFlag;
    header.dosDateTime = DosDateTimeOf(UnixSecondsOf(facts.writeTime));
    header.externalAttributes = ExternalAttributes(facts);
    return header;
}

void AppendLocalHeader(ByteBuffer* out, const ZipEntryHeader& header, const ZipEntryData& data) {
    AppendLe32(out, 0x04034B50);
    AppendCommonFields(out, header, data);
    out->insert(out->end(), header.name.begin(), header.name.end());
    out->insert(out->end(), header.extra.begin(), header.extra.end());
}

void AppendCentralHeader(ByteBuffer* out, const ZipEntryHeader& header, const ZipEntryData& data,
                         uint32_t localHeaderAt) {
    AppendLe32(out, 0x02014B50);
    AppendLe16(out, kVersionMadeBy);
    AppendCommonFields(out, header, data);
    AppendLe16(out, 0);  // comment length
    AppendLe16(out, 0);  // disk number
    AppendLe16(out, 0);  // internal attributes
    AppendLe32(out, header.externalAttributes);
    AppendLe32(out, localHeaderAt);
    out->insert(out->end(), header.name.begin(), header.name.end());
    out->insert(out->end(), header.extra.begin(), header.extra.end());
}

void AppendEndRecord(ByteBuffer* out, uint32_t entries, uint32_t directorySize,
                     uint32_t directoryAt) {
    AppendLe32(out, 0x06054B50);
    AppendLe16(out, 0);
    AppendLe16(out, 0);
    AppendLe16(out, static_cast<uint16_t>(entries));
    AppendLe16(out, static_cast<uint16_t>(entries));
    AppendLe32(out, directorySize);
    AppendLe32(out, directoryAt);
    AppendLe16(out, 0);
}

bool StartRawDeflate(z_stream* stream, int level) {
    *stream = z_stream{};
    return deflateInit2(stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

bool AddZipEntry(ZipWriter* writer, const ZipEntryFacts& facts, const ByteBuffer& data,
                 std::u16string* error) {
    if (writer->entries >= kMaxZipEntries) {
        return Fail(error, u"more than 65,535 entries, which the launcher cannot read");
    }
    if (data.size() > kZipLimit) {
        return Fail(error, u"the archive would pass 4 GiB, which the launcher cannot read");
    }
    const ZipEntryHeader header = MakeZipEntryHeader(facts);
    ByteBuffer deflated;
    const bool smaller = !facts.isFolder && DeflateSmaller(data, writer->level, &deflated);
    const ByteBuffer& stored = smaller ? deflated : data;
    const uint64_t offset = writer->archive.size();
    if (offset + 30 + header.name.size() + header.extra.size() + stored.size() > kZipLimit) {
        return Fail(error, u"the archive would pass 4 GiB, which the launcher cannot read");
    }
    const ZipEntryData entry{
        smaller ? kZipDeflated : kZipStored,
        static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))),
        static_cast<uint32_t>(stored.size()), static_cast<uint32_t>(data.size())};
    ByteBuffer& out = writer->archive;
    AppendLocalHeader(&out, header, entry);
    out.insert(out.end(), stored.begin(), stored.end());
    AppendCentralHeader(&writer->directory, header, entry, static_cast<uint32_t>(offset));
    ++writer->entries;
    return true;
}

bool FinishZip(ZipWriter* writer, std::u16string* error) {
    ByteBuffer& out = writer->archive;
    const uint64_t directoryAt = out.size();
    if (directoryAt + writer->directory.size() + 22 > kZipLimit) {
        return Fail(error, u"the archive would pass 4 GiB, which the launcher cannot read");
    }
    out.insert(out.end(), writer->directory.begin(), writer->directory.end());
    AppendEndRecord(&out, writer->entries, static_cast<uint32_t>(writer->directory.size()),
                    static_cast<uint32_t>(directoryAt));
    writer->directory.clear();
    writer->directory.shrink_to_fit();
    return true;
}
