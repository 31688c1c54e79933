#include "zip/extract.h"

#include <cstring>

#include "zip/entry_stream.h"
#include "zip/path_rules.h"

namespace {

// The caller's destination folder is left to the caller when it is absolute, names a drive or
// steps up: only plain relative folders are made under the root folder.
bool MayCreateFoldersFor(const char16_t* folder) {
    if (IsSeparator(folder[0]) || (folder[0] != 0 && folder[1] == u':')) return false;
    return !HasParentStep(folder);
}

ZipResult ExtractFolderEntry(const char16_t* root, const NarrowEntryInfo& rec) {
    const char16_t* name = rec.wideName;
    if (!IsSafeEntryName(name) || !FitsPathBuffer(root, name)) return ZipCannotCreateFile;
    EnsureFolderPath(root, name);
    return ZipOk;
}

// Makes the parent folders of a relative destination path under the root folder. False when the
// path does not fit the working buffers; nothing is created then.
bool PrepareFolders(const char16_t* root, const char16_t* path) {
    const size_t length = TextLength(path);
    const long cut = LastSeparator(path, length);
    if (cut < 0) return true;
    if (length >= kPathUnits) return false;

    char16_t folder[kPathUnits];
    std::memcpy(folder, path, static_cast<size_t>(cut) * sizeof(char16_t));
    folder[cut] = 0;
    if (!MayCreateFoldersFor(folder)) return true;
    if (!FitsPathBuffer(root, folder)) return false;
    EnsureFolderPath(root, folder);
    return true;
}

// Copies the entry into the file, one write per block that the stream delivers (stored data from
// the archive itself, inflated data from the stream's output block). True when the file received
// exactly the entry's size in bytes and their CRC-32 matched; the stream is closed either way.
bool CopyEntry(ZipDirectoryReader* reader, PlatformHandle file, uint32_t expectedSize) {
    OpenEntryStream(reader);
    bool failed = false;
    uint32_t written = 0;
    for (;;) {
        const uint8_t* block = nullptr;
        const int32_t n = ReadEntryBlock(reader, &block);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) break;
        if (!PlatformWriteFile(file, block, static_cast<uint32_t>(n))) {
            failed = true;
            break;
        }
        written += static_cast<uint32_t>(n);
    }
    const ReaderResult verdict = CloseEntryStream(reader);
    return !failed && verdict == ReaderOk && written == expectedSize;
}

ZipResult ExtractFileEntry(ZipArchiveState* state, const NarrowEntryInfo& rec,
                           const char16_t* path) {
    if (!PrepareFolders(state->rootFolder, path)) return ZipCannotCreateFile;

    const PlatformHandle file = PlatformCreateFile(path, rec.attributes);
    if (file == kInvalidPlatformHandle) return ZipCannotCreateFile;

    const bool complete = CopyEntry(state->reader, file, rec.uncompressedSize);
    const bool diskFile = PlatformIsDiskFile(file);
    if (complete && diskFile) {
        PlatformSetFileTimes(file, &rec.creationTime, &rec.accessTime, &rec.writeTime);
    }
    PlatformCloseFile(file);
    if (complete) return ZipOk;

    // A short or corrupted file must not be left looking complete. Only a file on disk is
    // removed: a pipe or device at the path is not ours to delete.
    if (diskFile) {
        PlatformSetFileAttributes(path, kAttributeNormal);
        PlatformDeleteFile(path);
    }
    return ZipExtractFailed;
}

// Finds the entry and stands the reader on it, where the stream opens.
ZipResult Reach(ZipArchive* archive, int32_t index, NarrowEntryInfo* rec) {
    if (archive->kind != kZipArchiveKind) return ZipWrongHandle;
    const ZipResult reached = ReachZipEntry(archive->state, index, rec);
    if (reached != ZipOk) return reached;
    // An entry whose name cannot be converted is refused whatever the destination: nothing is
    // created for it.
    return rec->nameConverted ? ZipOk : ZipBadName;
}

ZipResult Extract(ZipArchive* archive, const char16_t* path, int32_t index) {
    if (archive == nullptr || path == nullptr) return ZipBadArgument;
    NarrowEntryInfo rec;
    const ZipResult found = Reach(archive, index, &rec);
    if (found != ZipOk) return found;
    if ((rec.attributes & kAttributeDirectory) != 0) {
        return ExtractFolderEntry(archive->state->rootFolder, rec);
    }
    return ExtractFileEntry(archive->state, rec, path);
}

ZipResult ExtractData(ZipArchive* archive, int32_t index, PlatformHandle file) {
    if (archive == nullptr || file == kInvalidPlatformHandle) return ZipBadArgument;
    NarrowEntryInfo rec;
    const ZipResult found = Reach(archive, index, &rec);
    if (found != ZipOk) return found;
    if ((rec.attributes & kAttributeDirectory) != 0) return ZipBadArgument;
    return CopyEntry(archive->state->reader, file, rec.uncompressedSize) ? ZipOk : ZipExtractFailed;
}

}  // namespace

ZipResult UnzipEntryToFile(ZipArchive* archive, const char16_t* path, int32_t index) {
    LastZipResult = Extract(archive, path, index);
    return LastZipResult;
}

ZipResult UnzipEntryData(ZipArchive* archive, int32_t index, PlatformHandle file) {
    LastZipResult = ExtractData(archive, index, file);
    return LastZipResult;
}

void EnsureFolderPath(const char16_t* root, const char16_t* folder) {
    if (root == nullptr || folder == nullptr || folder[0] == 0) return;
    // A path cut to fit would name some other folder; one that does not fit is not made at all.
    if (!FitsPathBuffer(root, folder)) return;
    const size_t length = TextLength(folder);
    const long cut = LastSeparator(folder, length);
    if (cut > 0) {
        char16_t prefix[kPathUnits];
        std::memcpy(prefix, folder, static_cast<size_t>(cut) * sizeof(char16_t));
        prefix[cut] = 0;
        EnsureFolderPath(root, prefix);
    }
    char16_t full[kPathUnits];
    const size_t rootLength = TextLength(root);
    std::memcpy(full, root, rootLength * sizeof(char16_t));
    std::memcpy(full + rootLength, folder, (length + 1) * sizeof(char16_t));
    PlatformCreateDirectory(full);
}
