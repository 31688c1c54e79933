#include "packer/zip_source.h"

#include "packer/entry_names.h"
#include "packer/text.h"
#include "platform/platform.h"
#include "zip/entry_stream.h"
#include "zip/path_rules.h"
#include "zip/zip_archive.h"

namespace {

// Reads the data of the entry the reader stands on to its end. True when it came out whole:
// the stream's CRC-32 matched and it gave exactly the entry's size.
bool EntryDataVerifies(ZipDirectoryReader* reader, uint32_t size) {
    if (OpenEntryStream(reader) != ReaderOk) return false;  // no stream is left open then
    const uint8_t* block = nullptr;
    uint64_t total = 0;
    int32_t n = 0;
    while ((n = ReadEntryBlock(reader, &block)) > 0) total += static_cast<uint32_t>(n);
    const ReaderResult verdict = CloseEntryStream(reader);
    return n == 0 && verdict == ReaderOk && total == size;
}

bool CheckEntries(ZipArchive* archive, uint32_t count, const NameLimits& limits,
                  const std::u16string& mainProgram, std::u16string* error) {
    EntryNameSet names(mainProgram);
    ZipDirectoryReader* reader = archive->state->reader;
    for (uint32_t i = 0; i < count; ++i) {
        ZipEntryInfo info{};
        const ZipResult result = GetZipEntry(archive, static_cast<int32_t>(i), &info);
        const std::u16string which = u"entry " + NumberText(i + 1) + u" of " + NumberText(count);
        if (result == ZipBadName) {
            *error = which +
                     u" has a name that is not valid in its encoding (UTF-8 when flagged "
                     u"so, else the ANSI code page) or too long once converted";
            return false;
        }
        if (result != ZipOk || !reader->entryValid || reader->entryIndex != i) {
            *error = which + u" cannot be read: its headers are damaged";
            return false;
        }
        const std::u16string name = info.name;
        const bool isFolder = (info.attributes & kAttributeDirectory) != 0 ||
                              (!name.empty() && IsSeparator(name.back()));
        std::u16string reason;
        if (!CheckEntryName(name, isFolder, reader->currentEntry.nameLength, limits, &reason) ||
            !AddEntryName(&names, name, isFolder, &reason)) {
            *error = which + u": " + reason;
            return false;
        }
        if (!isFolder && !EntryDataVerifies(reader, info.uncompressedSize)) {
            *error = which + u", " + Quoted(name) +
                     u", is damaged: its data does not unpack to its size and CRC-32";
            return false;
        }
    }
    if (!names.hasMainProgram) {
        *error = u"the archive has no " + mainProgram +
                 u" at its top level, the main program that the launcher starts";
        return false;
    }
    return true;
}

}  // namespace

bool CheckZipSource(const uint8_t* zip, uint64_t size, const NameLimits& limits,
                    const std::u16string& mainProgram, uint32_t* entryCount,
                    std::u16string* error) {
    if (size > UINT32_MAX) {
        *error = u"the archive is larger than the launcher's reader can read (4 GiB)";
        return false;
    }
    ZipArchive* archive = OpenZipFromMemory(zip, static_cast<uint32_t>(size));
    if (archive == nullptr) {
        *error =
            u"not a zip archive that the launcher can read (no valid end record or central "
            u"directory)";
        return false;
    }
    ZipEntryInfo summary{};
    GetZipEntry(archive, -1, &summary);
    *entryCount = static_cast<uint32_t>(summary.index);
    const bool sound = CheckEntries(archive, *entryCount, limits, mainProgram, error);
    CloseZipArchive(archive);
    return sound;
}
