// The unpacking driver: forms the extraction folder under the temporary directory, readies it and
// unpacks the payload archive from the program's resources into it.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "zip/extract.h"
#include "zip/zip_archive.h"

std::u16string ExtractionFolderText;

namespace {

constexpr uint32_t kTempPathUnits = 2046;
constexpr uint16_t kPayloadId = 117;
constexpr char16_t kPayloadType[] = u"zip";
constexpr char16_t kFolderName[] = u"VORNIX";

// Whether the entry's path below `folder` runs into a link, at a folder step or at the file itself.
// Readying the folder removes the links it finds, but one that could not be removed, or that was
// placed since, would carry the entry to wherever it points.
bool ReachesLink(const std::u16string& folder, const std::u16string& name) {
    std::u16string path = folder;
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find_first_of(u"/\\", start);
        if (end == std::u16string::npos) end = name.size();
        if (end > start) {
            path += u'\\';
            path.append(name, start, end - start);
            const uint32_t attributes = PlatformGetFileAttributes(path.c_str());
            if (attributes == kInvalidAttributes) return false;  // nothing below it exists yet
            if ((attributes & kAttributeReparsePoint) != 0) return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

bool PrepareExtractionFolder(const std::u16string& folder) {
    const char16_t* path = folder.c_str();
    const uint32_t attributes = PlatformGetFileAttributes(path);
    if (attributes != kInvalidAttributes && (attributes & kAttributeReparsePoint) != 0) {
        if (!RemoveLink(path, attributes)) return false;
        PlatformCreateDirectory(path);
    } else if (PlatformPathExists(path)) {
        ClearFolder(path);
    } else {
        PlatformCreateDirectory(path);  // one level: the temporary directory is taken to exist
    }
    return true;
}

bool UnpackArchive(const std::u16string& folder, const void* data, uint32_t size) {
    ZipArchive* archive = OpenZipFromMemory(data, size);
    if (archive == nullptr) return false;
    // Folders are made below the extraction folder itself, never below the current directory.
    const std::u16string root = folder + u'\\';
    ZipEntryInfo entry;
    for (int32_t index = 0;; ++index) {
        const ZipResult found = GetZipEntry(archive, index, &entry);
        // An entry whose name cannot be converted is skipped; any other failure ends the list.
        if (found == ZipBadName) continue;
        if (found != ZipOk) break;
        if (!IsSafeEntryName(entry.name)) continue;
        const std::u16string name = entry.name;
        if (ReachesLink(folder, name)) continue;
        const size_t lastSeparator = name.find_last_of(u"/\\");
        if ((entry.attributes & kAttributeDirectory) != 0 ||
            (!name.empty() && lastSeparator == name.size() - 1)) {
            EnsureFolderPath(root.c_str(), name.c_str());
            continue;
        }
        if (lastSeparator != std::u16string::npos) {
            EnsureFolderPath(root.c_str(), name.substr(0, lastSeparator).c_str());
        }
        UnzipEntryToFile(archive, JoinPath(folder, name).c_str(), index);
    }
    CloseZipArchive(archive);
    return true;
}

bool ExtractPayload() {
    char16_t tempPath[kTempPathUnits] = {};
    const uint32_t length = PlatformGetTempPath(kTempPathUnits - 1, tempPath);
    if (length == 0 || length >= kTempPathUnits) return false;
    // The temporary directory ends with a separator and JoinPath adds one more: the folder text
    // holds two in a row before the folder name, and every path formed from it keeps them.
    ExtractionFolderText = JoinPath(tempPath, kFolderName);

    const void* payload = nullptr;
    uint32_t payloadSize = 0;
    if (!PlatformFindResource(kPayloadId, kPayloadType, &payload, &payloadSize)) return false;
    if (!PrepareExtractionFolder(ExtractionFolderText)) return false;
    return UnpackArchive(ExtractionFolderText, payload, payloadSize);
}
