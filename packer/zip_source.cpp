#include "packer/zip_source.h"

#include "packer/entry_names.h"
#include "packer/text.h"
#include "platform/platform.h"
#include "zip/entry_stream.h"
#include "zip/path_rules.h"
#include "zip/zip_archive.h"

namespace {

enum class DataCheck { kWhole, kDamaged, kStopped };

// Reads the data of the entry the reader stands on to its end. kWhole when it came out whole:
// the stream's CRC-32 matched and it gave exactly the entry's size.
DataCheck CheckEntryData(ZipDirectoryReader* reader, uint32_t size, const ProgressHook& progress) {
    if (OpenEntryStream(reader) != ReaderOk) return DataCheck::kDamaged;  // no stream left open
    const uint8_t* block = nullptr;
    uint64_t total = 0;
    int32_t n = 0;
    bool stopped = false;
    while (!stopped && (n = ReadEntryBlock(reader, &block)) > 0) {
        total += static_cast<uint32_t>(n);
        stopped = !progress(0, static_cast<uint32_t>(n));
    }
    const ReaderResult verdict = CloseEntryStream(reader);
    if (stopped) return DataCheck::kStopped;
    return n == 0 && verdict == ReaderOk && total == size ? DataCheck::kWhole : DataCheck::kDamaged;
}

bool IsFolderEntry(const ZipEntryInfo& info) {
    const std::u16string name = info.name;
    return (info.attributes & kAttributeDirectory) != 0 ||
           (!name.empty() && IsSeparator(name.back()));
}

ZipCheck CheckEntries(ZipArchive* archive, uint32_t count, const NameLimits& limits,
                      EntryNameSet* names, const ProgressHook& progress, std::u16string* error) {
    ZipDirectoryReader* reader = archive->state->reader;
    for (uint32_t i = 0; i < count; ++i) {
        ZipEntryInfo info{};
        const ZipResult result = GetZipEntry(archive, static_cast<int32_t>(i), &info);
        const std::u16string which = u"entry " + NumberText(i + 1) + u" of " + NumberText(count);
        if (result == ZipBadName) {
            *error = which +
                     u" has a name that is not valid in its encoding (UTF-8 when flagged "
                     u"so, else the ANSI code page) or too long once converted";
            return ZipCheck::kRefused;
        }
        if (result != ZipOk || !reader->entryValid || reader->entryIndex != i) {
            *error = which + u" cannot be read: its headers are damaged";
            return ZipCheck::kRefused;
        }
        const std::u16string name = info.name;
        const bool isFolder = IsFolderEntry(info);
        std::u16string reason;
        if (!CheckEntryName(name, isFolder, reader->currentEntry.nameLength, limits, &reason) ||
            !AddEntryName(names, name, isFolder, &reason)) {
            *error = which + u": " + reason;
            return ZipCheck::kRefused;
        }
        if (isFolder) continue;
        const DataCheck data = CheckEntryData(reader, info.uncompressedSize, progress);
        if (data == DataCheck::kStopped) return ZipCheck::kStopped;
        if (data == DataCheck::kDamaged) {
            *error = which + u", " + Quoted(name) +
                     u", is damaged: its data does not unpack to its size and CRC-32";
            return ZipCheck::kRefused;
        }
        if (!progress(1, 0)) return ZipCheck::kStopped;
    }
    return ZipCheck::kSound;
}

// The archive as the launcher opens it; null with the reason when it cannot.
ZipArchive* OpenArchive(const uint8_t* zip, uint64_t size, std::u16string* error) {
    if (size > UINT32_MAX) {
        *error = u"the archive is larger than the launcher's reader can read (4 GiB)";
        return nullptr;
    }
    ZipArchive* archive = OpenZipFromMemory(zip, static_cast<uint32_t>(size));
    if (archive == nullptr) {
        *error =
            u"not a zip archive that the launcher can read (no valid end record or central "
            u"directory)";
    }
    return archive;
}

uint32_t EntryCount(ZipArchive* archive) {
    ZipEntryInfo summary{};
    GetZipEntry(archive, -1, &summary);
    return static_cast<uint32_t>(summary.index);
}

}  // namespace

bool SurveyZipSource(const uint8_t* zip, uint64_t size, ZipSourceFacts* facts,
                     std::u16string* error) {
    *facts = ZipSourceFacts{};
    ZipArchive* archive = OpenArchive(zip, size, error);
    if (archive == nullptr) return false;
    facts->entries = EntryCount(archive);
    // Entries that cannot be read are left to the check, which says why.
    for (uint32_t i = 0; i < facts->entries; ++i) {
        ZipEntryInfo info{};
        if (GetZipEntry(archive, static_cast<int32_t>(i), &info) != ZipOk || IsFolderEntry(info)) {
            continue;
        }
        ++facts->files;
        facts->bytes += info.uncompressedSize;
    }
    CloseZipArchive(archive);
    return true;
}

ZipCheck CheckZipSource(const uint8_t* zip, uint64_t size, const NameLimits& limits,
                        EntryNameSet* names, const ProgressHook& progress, std::u16string* error) {
    ZipArchive* archive = OpenArchive(zip, size, error);
    if (archive == nullptr) return ZipCheck::kRefused;
    const ZipCheck check =
        CheckEntries(archive, EntryCount(archive), limits, names, progress, error);
    CloseZipArchive(archive);
    return check;
}
