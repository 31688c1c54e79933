// Opens arbitrary bytes as a zip archive and asks for every entry, in order and out of order,
// and for the summary. Besides the sanitizers it checks what callers rely on: an entry that is
// delivered has its own index and a terminated name. Every entry is also extracted into a fresh
// folder by path, and its data into a file opened beforehand (as the launcher writes it), and
// nothing may be created outside the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/extract_sandbox.h"
#include "zip/entry_stream.h"
#include "zip/extract.h"
#include "zip/zip_archive.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

void RequireExtracted(ZipArchive* archive, ZipResult result) {
    Require(result == LastZipResult);
    Require(result == ZipOk || result == ZipCannotCreateFile || result == ZipExtractFailed ||
            result == ZipCorrupt || result == ZipReadFailed);
    Require(archive->state->reader->openStream == nullptr);
}

// Writes one entry into the sandbox, once under a name made from its own and once under a
// plain one, and its data into a file opened beforehand; no stream may stay open afterwards.
void ExtractEntry(ZipArchive* archive, int32_t index, const char16_t* name, bool folder) {
    for (const std::u16string& path : {SandboxDestination(index, name), std::u16string(u"plain")}) {
        RequireExtracted(archive, UnzipEntryToFile(archive, path.c_str(), index));
    }
    const PlatformHandle file = PlatformCreateFile(u"data", kAttributeNormal);
    Require(file != kInvalidPlatformHandle);
    const ZipResult result = UnzipEntryData(archive, index, file);
    PlatformCloseFile(file);
    if (folder) {
        Require(result == ZipBadArgument && result == LastZipResult);
    } else {
        RequireExtracted(archive, result);
    }
}

// Asks for one entry. Further per-entry work on the same archive (such as extraction) goes here.
void VisitEntry(ZipArchive* archive, int32_t index, uint32_t entryCount) {
    ZipEntryInfo info{};
    const ZipResult result = GetZipEntry(archive, index, &info);
    Require(result == LastZipResult);
    if (index < -1 || (index >= 0 && static_cast<uint32_t>(index) >= entryCount)) {
        Require(result == ZipBadArgument);
        Require(UnzipEntryToFile(archive, u"plain", index) == ZipBadArgument);
        return;
    }
    if (result != ZipOk) {
        Require(result == ZipCorrupt || result == ZipReadFailed || result == ZipBadName);
        // Extraction finds the same fault before it creates anything.
        Require(UnzipEntryToFile(archive, u"plain", index) == result);
        return;
    }
    Require(index == -1 ? info.index == static_cast<int32_t>(entryCount) : info.index == index);
    Require(info.name[kZipNameUnits - 1] == 0);
    if (index == -1) {
        Require(UnzipEntryToFile(archive, u"plain", index) == ZipBadArgument);
    } else {
        ExtractEntry(archive, index, info.name, (info.attributes & kAttributeDirectory) != 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const SandboxVisit visit;
    ZipArchive* archive = OpenZipFromMemory(data, static_cast<uint32_t>(size));
    if (archive == nullptr) {
        Require(LastZipResult == ReaderIoError || LastZipResult == ReaderBadArchive);
        return 0;
    }
    ZipEntryInfo summary{};
    Require(GetZipEntry(archive, -1, &summary) == ZipOk);
    const auto count = static_cast<uint32_t>(summary.index);
    const auto last = static_cast<int32_t>(count) - 1;

    for (int32_t i = 0; i <= last; ++i) VisitEntry(archive, i, count);
    // Backwards (restarting the walk), twice in a row (the cache), and out of range.
    const int32_t outOfOrder[] = {last, last / 2, 0, last, last, -1, -2, last + 1, INT32_MIN};
    for (int32_t index : outOfOrder) VisitEntry(archive, index, count);

    Require(CloseZipArchive(archive) == ZipOk);
    return 0;
}
