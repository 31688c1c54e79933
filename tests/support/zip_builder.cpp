#include "tests/support/zip_builder.h"

#include <zlib.h>

#include <cstring>
#include <utility>

std::string Le16(uint16_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string Le32(uint32_t value) { return Le16(value & 0xFFFF) + Le16(value >> 16); }

uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Deflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TestEntry MakeEntry(std::string name, std::string data, uint16_t method) {
    TestEntry e;
    e.name = std::move(name);
    e.data = std::move(data);
    e.method = method;
    return e;
}

std::string ExtendedTimestamp(uint8_t flags, const std::vector<int32_t>& times) {
    std::string body(1, static_cast<char>(flags));
    for (int32_t t : times) body += Le32(static_cast<uint32_t>(t));
    return "UT" + Le16(static_cast<uint16_t>(body.size())) + body;
}

Bytes BuildZip(const TestArchive& archive) {
    std::string out = archive.prefix;
    const size_t base = out.size();
    std::string directory;
    for (const TestEntry& e : archive.entries) {
        const std::string stored = e.compressed    ? *e.compressed
                                   : e.method == 8 ? Deflate(e.data)
                                                   : e.data;
        const uint32_t crc = e.crc ? *e.crc : Crc32(e.data);
        const uint32_t csize =
            e.compressedSize ? *e.compressedSize : static_cast<uint32_t>(stored.size());
        const uint32_t usize =
            e.uncompressedSize ? *e.uncompressedSize : static_cast<uint32_t>(e.data.size());
        const std::string localName = e.localName ? *e.localName : e.name;
        const uint32_t localOffset = static_cast<uint32_t>(out.size() - base);

        out += Le32(0x04034B50) + Le16(20) + Le16(e.localFlags ? *e.localFlags : e.flags);
        out += Le16(e.localMethod ? *e.localMethod : e.method) + Le32(e.dosDateTime);
        out += Le32(e.localCrc ? *e.localCrc : crc);
        out += Le32(e.localCompressedSize ? *e.localCompressedSize : csize);
        out += Le32(e.localUncompressedSize ? *e.localUncompressedSize : usize);
        out += Le16(static_cast<uint16_t>(localName.size()));
        out += Le16(static_cast<uint16_t>(e.localExtra.size()));
        out += localName + e.localExtra + stored;

        directory += Le32(0x02014B50) + Le16(e.versionMadeBy) + Le16(20) + Le16(e.flags);
        directory += Le16(e.method) + Le32(e.dosDateTime) + Le32(crc) + Le32(csize) + Le32(usize);
        directory += Le16(static_cast<uint16_t>(e.name.size()));
        directory += Le16(static_cast<uint16_t>(e.centralExtra.size()));
        directory += Le16(static_cast<uint16_t>(e.comment.size()));
        directory += Le16(0) + Le16(0) + Le32(e.externalAttributes) + Le32(localOffset);
        directory += e.name + e.centralExtra + e.comment;
    }
    const uint32_t directoryOffset = static_cast<uint32_t>(out.size() - base);
    out += directory;
    const auto count = static_cast<uint16_t>(archive.entries.size());
    out += Le32(0x06054B50) + Le16(archive.thisDisk.value_or(0));
    out += Le16(archive.directoryDisk.value_or(0));
    out += Le16(archive.entriesOnDisk.value_or(count)) + Le16(archive.entriesTotal.value_or(count));
    out += Le32(archive.directorySize.value_or(static_cast<uint32_t>(directory.size())));
    out += Le32(archive.directoryOffset.value_or(directoryOffset));
    out += Le16(static_cast<uint16_t>(archive.comment.size())) + archive.comment;
    out += archive.suffix;
    return Bytes(out.begin(), out.end());
}
