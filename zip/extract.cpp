#include "zip/extract.h"

#include <cstring>

#include "zip/entry_stream.h"
#include "zip/path_rules.h"

namespace {

// Where an extraction writes: `path` as the system resolves it, with folders made under the
// archive's root folder; or `path` inside a held folder, with the folders made there too. `root`
// is the text the folders' paths begin with, the held folder's path and a separator for the latter.
struct Target {
    PlatformHandle folder;  // kNoFolder, or the held folder
    const char16_t* root;
    const char16_t* path;
    FolderRecord* folders;  // with a held folder only
};

// The caller's destination folder is left to the caller when it is absolute, names a drive or
// steps up: only plain relative folders are made under the root folder.
bool MayCreateFoldersFor(const char16_t* folder) {
    if (IsSeparator(folder[0]) || (folder[0] != 0 && folder[1] == u':')) return false;
    return !HasParentStep(folder);
}

// Walks the reader to `index`. True when the reader then stands on that entry.
bool WalkTo(ZipDirectoryReader* reader, uint32_t index) {
    if (index < reader->entryIndex) GoToFirstEntry(reader);
    while (reader->entryIndex < index) {
        if (GoToNextEntry(reader) != ReaderOk) return false;
    }
    return reader->entryValid && reader->entryIndex == index;
}

ZipResult ExtractFolderEntry(const Target& target, const NarrowEntryInfo& rec) {
    const char16_t* name = rec.wideName;
    if (!IsSafeEntryName(name) || !FitsPathBuffer(target.root, name)) return ZipCannotCreateFile;
    EnsureFolderPath(target.folder, target.root, name, target.folders);
    return ZipOk;
}

// Makes the parent folders of a relative destination path under the root folder. False when the
// path does not fit the working buffers; nothing is created then.
bool PrepareFolders(const Target& target) {
    const char16_t* path = target.path;
    const size_t length = TextLength(path);
    // Inside a held folder the whole path is formed below it, and must fit like any other.
    if (target.folder != kNoFolder && !FitsPathBuffer(target.root, path)) return false;
    const long cut = LastSeparator(path, length);
    if (cut < 0) return true;
    if (length >= kPathUnits) return false;

    char16_t folder[kPathUnits];
    std::memcpy(folder, path, static_cast<size_t>(cut) * sizeof(char16_t));
    folder[cut] = 0;
    if (!MayCreateFoldersFor(folder)) return true;
    if (!FitsPathBuffer(target.root, folder)) return false;
    EnsureFolderPath(target.folder, target.root, folder, target.folders);
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
                           const Target& target) {
    if (!PrepareFolders(target)) return ZipCannotCreateFile;

    const PlatformHandle file = PlatformCreateFile(target.folder, target.path, rec.attributes);
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
        PlatformSetFileAttributes(target.folder, target.path, kAttributeNormal);
        PlatformDeleteFile(target.folder, target.path);
    }
    return ZipExtractFailed;
}

// A target without a root takes the handle's root folder.
ZipResult Extract(ZipArchive* archive, Target target, int32_t index) {
    if (archive == nullptr || target.path == nullptr) return ZipBadArgument;
    if (archive->kind != kZipArchiveKind) return ZipWrongHandle;
    ZipArchiveState* state = archive->state;
    if (target.root == nullptr) target.root = state->rootFolder;
    ZipDirectoryReader* reader = state->reader;
    if (index < 0 || static_cast<uint32_t>(index) >= reader->entryCount) return ZipBadArgument;

    // The stream is opened on the reader's current entry, so the reader must stand on it even
    // when the record comes from the cache.
    const bool reached = WalkTo(reader, static_cast<uint32_t>(index));
    NarrowEntryInfo rec;
    const ZipResult lookup = GetZipEntryNarrow(state, index, &rec);
    if (lookup != ZipOk) return lookup;
    if (!reached) return ZipCorrupt;
    // An entry whose name cannot be converted is refused whatever the destination: nothing is
    // created for it.
    if (!rec.nameConverted) return ZipBadName;

    if ((rec.attributes & kAttributeDirectory) != 0) return ExtractFolderEntry(target, rec);
    return ExtractFileEntry(state, rec, target);
}

}  // namespace

ZipResult UnzipEntryToFile(ZipArchive* archive, const char16_t* path, int32_t index) {
    LastZipResult = Extract(archive, Target{kNoFolder, nullptr, path, nullptr}, index);
    return LastZipResult;
}

ZipResult UnzipEntryIntoFolder(ZipArchive* archive, PlatformHandle folder,
                               const char16_t* folderRoot, const char16_t* path, int32_t index,
                               FolderRecord* folders) {
    if (folderRoot == nullptr || path == nullptr) {
        LastZipResult = ZipBadArgument;
    } else if (!IsSafeEntryName(path)) {
        LastZipResult = ZipCannotCreateFile;  // it would not stay inside the folder
    } else {
        LastZipResult = Extract(archive, Target{folder, folderRoot, path, folders}, index);
    }
    return LastZipResult;
}

void EnsureFolderPath(PlatformHandle base, const char16_t* root, const char16_t* folder,
                      FolderRecord* folders) {
    if (root == nullptr || folder == nullptr || folder[0] == 0) return;
    // A path cut to fit would name some other folder; one that does not fit is not made at all.
    if (!FitsPathBuffer(root, folder)) return;
    // Asked for before, and so were the folders on its way.
    const bool recorded = base != kNoFolder && folders != nullptr;
    const std::u16string key = recorded ? NormalizedPath(folder) : std::u16string();
    if (recorded && (key.empty() || folders->asked.count(key) != 0)) return;

    const size_t length = TextLength(folder);
    const long cut = LastSeparator(folder, length);
    if (cut > 0) {
        char16_t prefix[kPathUnits];
        std::memcpy(prefix, folder, static_cast<size_t>(cut) * sizeof(char16_t));
        prefix[cut] = 0;
        EnsureFolderPath(base, root, prefix, folders);
    }

    if (base != kNoFolder) {
        // Another spelling of the same folder ("a/b/" after "a/b") was made on the way.
        if (recorded && !folders->asked.insert(key).second) return;
        if (PlatformCreateDirectory(base, folder) && recorded) folders->created.insert(key);
        return;
    }
    char16_t full[kPathUnits];
    const size_t rootLength = TextLength(root);
    std::memcpy(full, root, rootLength * sizeof(char16_t));
    std::memcpy(full + rootLength, folder, (length + 1) * sizeof(char16_t));
    PlatformCreateDirectory(kNoFolder, full);
}
