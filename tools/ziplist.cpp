// Lists a zip archive's entries through the reader: index, name (UTF-8), attribute bits, the
// last-write, last-access and creation times (UTC) and the compressed and uncompressed sizes.
//   ziplist <archive.zip>
// Exit status: 0 when every entry could be read, 1 when the archive or an entry could not, 2 on a
// usage or file error.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "zip/zip_archive.h"

namespace {

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    uint8_t block[65536];
    size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0)
        bytes->insert(bytes->end(), block, block + n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// A FILETIME as "YYYY-MM-DD HH:MM:SS" UTC, by plain calendar arithmetic (no C library range).
std::string FormatTime(const FileTime& time) {
    const uint64_t ticks = (static_cast<uint64_t>(time.high) << 32) | time.low;
    const int64_t seconds = static_cast<int64_t>(ticks / 10000000);  // since 1601-01-01
    int64_t days = seconds / 86400;
    const int64_t rest = seconds % 86400;
    // Days since 0000-03-01 of the proleptic Gregorian calendar, then eras of 400 years.
    days += 584694;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[48];
    std::snprintf(text, sizeof text,
                  "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64
                  ":%02" PRId64,
                  year, month, day, rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ziplist <archive.zip>\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(argv[1], &bytes) || bytes.size() > UINT32_MAX) {
        std::fprintf(stderr, "ziplist: cannot read %s\n", argv[1]);
        return 2;
    }
    ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (archive == nullptr) {
        std::fprintf(stderr, "ziplist: %s is not a readable zip archive (result %d)\n", argv[1],
                     static_cast<int>(LastZipResult));
        return 1;
    }
    ZipEntryInfo info{};
    GetZipEntry(archive, -1, &info);
    const int32_t count = info.index;
    std::printf("%s: %d entries\n", argv[1], static_cast<int>(count));
    std::printf("%5s  %-5s  %-19s  %-19s  %-19s  %10s  %10s  %s\n", "index", "attr", "written",
                "accessed", "created", "compressed", "size", "name");
    int status = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ZipResult result = GetZipEntry(archive, i, &info);
        if (result != ZipOk) {
            std::printf("%5d  entry cannot be read (result 0x%X)\n", static_cast<int>(i),
                        static_cast<unsigned>(result));
            status = 1;
            continue;
        }
        std::printf("%5d  %05" PRIX32 "  %s  %s  %s  %10" PRIu32 "  %10" PRIu32 "  %s\n",
                    static_cast<int>(i), info.attributes, FormatTime(info.writeTime).c_str(),
                    FormatTime(info.accessTime).c_str(), FormatTime(info.creationTime).c_str(),
                    info.compressedSize, info.uncompressedSize, Utf16ToUtf8(info.name).c_str());
    }
    CloseZipArchive(archive);
    return status;
}
