#include "zip/zip_archive.h"

#include <cstring>
#include <vector>

#include "zip/entry_info.h"
#include "zip/entry_stream.h"

ZipResult LastZipResult = ZipOk;

namespace {

ZipResult Finish(ZipResult result) {
    LastZipResult = result;
    return result;
}

// The current directory followed by "\". A directory that cannot be obtained, or does not fit
// with the added separator, leaves the root folder empty, so that folders are made relative to
// the current directory rather than under a cut-off path.
void FillRootFolder(char16_t* rootFolder) {
    const uint32_t length = PlatformGetCurrentDirectory(kZipNameUnits, rootFolder);
    if (length == 0 || length > kZipNameUnits - 2) {
        std::memset(rootFolder, 0, kZipNameUnits * sizeof(char16_t));
        return;
    }
    rootFolder[length] = u'\\';
    rootFolder[length + 1] = 0;
}

// A failed move or header read: data that could not be read is ZipReadFailed, a directory that
// is broken (wrong signature, or an entry before it that could not be read) is ZipCorrupt.
ZipResult WalkFailure(ReaderResult result) {
    return result == ReaderIoError ? ZipReadFailed : ZipCorrupt;
}

// Moves the reader forward to `index`, restarting at entry 0 for an earlier one.
ZipResult WalkTo(ZipDirectoryReader* reader, uint32_t index) {
    ReaderResult result = ReaderOk;
    if (index < reader->entryIndex) result = GoToFirstEntry(reader);
    while (result == ReaderOk && reader->entryIndex < index) result = GoToNextEntry(reader);
    if (result != ReaderOk) return WalkFailure(result);
    // Reached, but its header could not be read on an earlier walk.
    return reader->entryValid ? ZipOk : ZipCorrupt;
}

// Reads `size` bytes at an archive offset into `bytes`.
bool ReadAt(ZipDirectoryReader* reader, uint64_t offset, uint32_t size,
            std::vector<uint8_t>* bytes) {
    bytes->resize(size);
    return SeekToArchiveOffset(reader, offset) &&
           SourceRead(reader->source, bytes->data(), 1, size) == size;
}

// Reads the current entry in full into `rec`; `rec` is written only on success.
ZipResult ReadCurrentEntry(ZipDirectoryReader* reader, NarrowEntryInfo* rec) {
    const CentralEntryInfo& central = reader->currentEntry;
    // The whole name, terminated: it is converted whole, never a part of it. The walk has read
    // the fixed fields of its header already.
    std::vector<uint8_t> name;
    name.reserve(central.nameLength + 1);
    const uint64_t nameOffset = CentralExtraOffset(reader) - central.nameLength;
    if (!ReadAt(reader, nameOffset, central.nameLength, &name)) return ZipReadFailed;
    name.push_back(0);

    uint32_t variableSize = 0;
    uint32_t extraOffset = 0;
    uint32_t extraSize = 0;
    if (CheckLocalHeader(reader, &variableSize, &extraOffset, &extraSize) != ReaderOk) {
        return ZipCorrupt;
    }
    std::vector<uint8_t> extra;
    if (!ReadAt(reader, extraOffset, extraSize, &extra)) return ZipReadFailed;
    // A Unicode path is looked for in the central extra field only, the one that goes with the
    // central name; a name flagged as UTF-8 needs none.
    std::vector<uint8_t> centralExtra;
    if ((central.flags & kFlagUtf8Name) == 0 &&
        !ReadAt(reader, CentralExtraOffset(reader), central.extraLength, &centralExtra)) {
        return ZipReadFailed;
    }

    NarrowEntryInfo entry{};
    entry.index = static_cast<int32_t>(reader->entryIndex);
    // The stored bytes up to the first zero byte, cut to 259.
    size_t length = 0;
    while (length < kZipNameUnits - 1 && name[length] != 0) ++length;
    std::memcpy(entry.name, name.data(), length);
    entry.nameConverted =
        ConvertEntryName(name.data(), central.nameLength, central.flags, centralExtra.data(),
                         static_cast<uint32_t>(centralExtra.size()), entry.wideName);
    entry.attributes = MapExternalAttributes(central.externalAttributes);
    entry.compressedSize = central.compressedSize;
    entry.uncompressedSize = central.uncompressedSize;
    entry.writeTime = entry.accessTime = entry.creationTime = FileTimeFromDos(central.dosDateTime);
    ApplyExtendedTimestamp(extra.data(), extraSize, &entry.writeTime, &entry.accessTime,
                           &entry.creationTime);
    *rec = entry;
    return ZipOk;
}

}  // namespace

ZipArchive* OpenZipFromMemory(const void* data, uint32_t length) {
    auto* state = new ZipArchiveState{};
    state->cachedIndex = -1;
    FillRootFolder(state->rootFolder);

    ReaderResult created = ReaderOk;
    state->reader = OpenDirectoryReader(
        CreateMemorySource(static_cast<const uint8_t*>(data), length, &created));
    if (Finish(LastOpenResult) != ZipOk) {
        delete state;  // the failed open has already released the source
        return nullptr;
    }
    return new ZipArchive{kZipArchiveKind, state};
}

ZipResult GetZipEntryNarrow(ZipArchiveState* state, int32_t index, NarrowEntryInfo* rec) {
    ZipDirectoryReader* reader = state->reader;
    if (index < -1 || (index >= 0 && static_cast<uint32_t>(index) >= reader->entryCount)) {
        return ZipBadArgument;
    }
    if (index == state->cachedIndex && index != -1) {
        *rec = state->cachedEntry;
        return ZipOk;
    }
    if (index == -1) {
        NarrowEntryInfo summary{};
        summary.index = static_cast<int32_t>(reader->entryCount);
        summary.nameConverted = true;  // its empty name
        *rec = summary;
        return ZipOk;
    }

    ZipResult result = WalkTo(reader, static_cast<uint32_t>(index));
    if (result == ZipOk) result = ReadCurrentEntry(reader, rec);
    if (result != ZipOk) return result;
    state->cachedEntry = *rec;
    state->cachedIndex = index;
    return ZipOk;
}

ZipResult ReachZipEntry(ZipArchiveState* state, int32_t index, NarrowEntryInfo* rec) {
    ZipDirectoryReader* reader = state->reader;
    if (index < 0 || static_cast<uint32_t>(index) >= reader->entryCount) return ZipBadArgument;
    // Walked first: a record from the cache leaves the reader where it is.
    const ZipResult walked = WalkTo(reader, static_cast<uint32_t>(index));
    const ZipResult lookup = GetZipEntryNarrow(state, index, rec);
    if (lookup != ZipOk) return lookup;
    return walked == ZipOk ? ZipOk : ZipCorrupt;
}

ZipResult GetZipEntry(ZipArchive* archive, int32_t index, ZipEntryInfo* info) {
    if (archive == nullptr) return Finish(ZipBadArgument);
    if (archive->kind != kZipArchiveKind) return Finish(ZipWrongHandle);
    NarrowEntryInfo narrow{};
    if (Finish(GetZipEntryNarrow(archive->state, index, &narrow)) != ZipOk) return LastZipResult;
    if (!narrow.nameConverted) return Finish(ZipBadName);

    info->index = narrow.index;
    info->attributes = narrow.attributes;
    info->accessTime = narrow.accessTime;
    info->creationTime = narrow.creationTime;
    info->writeTime = narrow.writeTime;
    info->compressedSize = narrow.compressedSize;
    info->uncompressedSize = narrow.uncompressedSize;
    std::memcpy(info->name, narrow.wideName, sizeof info->name);
    return LastZipResult;
}

ZipResult CloseZipArchive(ZipArchive* archive) {
    if (archive == nullptr) return Finish(ZipBadArgument);
    if (archive->kind != kZipArchiveKind) return Finish(ZipWrongHandle);
    ReleaseEntryStream(archive->state->reader);
    CloseDirectoryReader(archive->state->reader);
    delete archive->state;
    delete archive;
    return Finish(ZipOk);
}
