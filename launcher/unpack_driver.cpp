// The unpacking driver: forms the extraction folder under the temporary directory, takes hold of
// it, readies it and unpacks the payload archive from the program's resources into it.
#include <iterator>
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "zip/extract.h"
#include "zip/zip_archive.h"

namespace {

constexpr uint32_t kTempPathUnits = 2046;
constexpr uint16_t kPayloadId = 117;
constexpr char16_t kPayloadType[] = u"zip";
constexpr char16_t kFolderName[] = u"VORNIX";
constexpr char16_t kMainProgram[] = u"zandro.exe";

// Whether the entry's path below `folder` runs into a link, at a folder step or at the file itself.
// Readying the folder removes the links it finds, but one that could not be removed would carry
// the entry to wherever it points. A folder that this run created, and whatever lies inside it,
// needs no look: nobody else can change it, and this run puts no link there.
bool ReachesLink(PlatformHandle folder, const std::u16string& name, const FolderRecord& folders) {
    std::u16string path;
    bool insideCreated = false;
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find_first_of(u"/\\", start);
        if (end == std::u16string::npos) end = name.size();
        const bool dot = end == start + 1 && name[start] == u'.';
        if (end > start && !dot) {
            if (!path.empty()) path += u'\\';
            path.append(name, start, end - start);
            insideCreated = insideCreated || folders.created.count(path) != 0;
            if (!insideCreated) {
                const uint32_t attributes = PlatformGetFileAttributes(folder, path.c_str());
                if (attributes == kInvalidAttributes) return false;  // nothing below it exists yet
                if ((attributes & kAttributeReparsePoint) != 0) return true;
            }
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

PlatformHandle PrepareExtractionFolder(const std::u16string& folder, bool* leftBehind) {
    const char16_t* path = folder.c_str();
    const uint32_t attributes = PlatformGetFileAttributes(kNoFolder, path);
    const bool isLink = attributes != kInvalidAttributes && (attributes & kAttributeReparsePoint);
    if (isLink && !RemoveLink(kNoFolder, path, attributes)) return kNoFolder;
    // One level: the temporary directory is taken to exist. Protected from the start, so that
    // nobody else can change the new folder before it is held.
    if (isLink || attributes == kInvalidAttributes) PlatformCreateProtectedFolder(path);

    // Held first, so that it cannot be swapped for another between the checks and the use;
    // protected again whoever made it.
    const PlatformHandle held = PlatformHoldFolder(kNoFolder, path);
    if (held == kInvalidPlatformHandle) return kNoFolder;
    if (!PlatformProtectFolder(held)) {
        PlatformReleaseFolder(held);
        return kNoFolder;
    }
    *leftBehind = !ClearHeldFolder(held);
    return held;
}

bool UnpackArchive(PlatformHandle folder, const std::u16string& folderText, const void* data,
                   uint32_t size, WrittenFiles* written) {
    ZipArchive* archive = OpenZipFromMemory(data, size);
    if (archive == nullptr) return false;
    // Folders are made below the extraction folder itself, never below the current directory.
    const std::u16string root = folderText + u'\\';
    FolderRecord folders;
    auto next = written->end();
    ZipEntryInfo entry;
    for (int32_t index = 0;; ++index) {
        const ZipResult found = GetZipEntry(archive, index, &entry);
        // An entry whose name cannot be converted is skipped; any other failure ends the list.
        if (found == ZipBadName) continue;
        if (found != ZipOk) break;
        if (!IsSafeEntryName(entry.name)) continue;
        const std::u16string name = entry.name;
        if (ReachesLink(folder, name, folders)) continue;
        if ((entry.attributes & kAttributeDirectory) != 0 ||
            (!name.empty() && name.find_last_of(u"/\\") == name.size() - 1)) {
            EnsureFolderPath(folder, root.c_str(), name.c_str(), &folders);
            continue;
        }
        const ZipResult result =
            UnzipEntryIntoFolder(archive, folder, root.c_str(), name.c_str(), index, &folders);
        // Archives mostly list the entries of a folder in order: inserted right after the one
        // before, such an entry costs two comparisons.
        if (result == ZipOk) next = std::next(written->insert(next, NormalizedPath(name.c_str())));
        // A later entry of the same name that fails midway leaves no whole file of that name;
        // one whose file could not even be created leaves the earlier copy as it was.
        if (result == ZipExtractFailed) {
            written->erase(NormalizedPath(name.c_str()));
            next = written->end();
        }
    }
    CloseZipArchive(archive);
    return true;
}

ExtractedPayload ExtractPayload() {
    ExtractedPayload result{u"", kNoFolder, false, false};
    char16_t tempPath[kTempPathUnits] = {};
    const uint32_t length = PlatformGetTempPath(kTempPathUnits - 1, tempPath);
    if (length == 0 || length >= kTempPathUnits) return result;
    // The temporary directory ends with a separator and JoinPath adds one more: the folder text
    // holds two in a row before the folder name, and every path formed from it keeps them.
    result.folderText = JoinPath(tempPath, kFolderName);

    const void* payload = nullptr;
    uint32_t payloadSize = 0;
    if (!PlatformFindResource(kPayloadId, kPayloadType, &payload, &payloadSize)) return result;
    result.folder = PrepareExtractionFolder(result.folderText, &result.leftBehind);
    if (result.folder == kNoFolder) return result;
    WrittenFiles written;
    if (!UnpackArchive(result.folder, result.folderText, payload, payloadSize, &written)) {
        return result;
    }
    result.mainProgramWritten = written.count(kMainProgram) != 0;
    // Files that other processes kept from deletion or put in meanwhile, through handles opened
    // before the folder was protected, show here.
    if (!result.leftBehind) result.leftBehind = !HoldsOnlyWrittenFiles(result.folder, written);
    return result;
}
