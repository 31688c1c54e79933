// The unpacking driver: forms the extraction folder under the temporary directory, makes it anew
// and unpacks the payload archive from the program's resources into it.
#include <string>
#include <vector>

#include "launcher/folder_chain.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "zip/extract.h"
#include "zip/path_rules.h"
#include "zip/zip_archive.h"

namespace {

constexpr uint32_t kTempPathUnits = 2046;
// The payload's resource type is a bare word in the contract, as the resource script takes it.
#define PAYLOAD_WORD_TEXT(word) #word
#define PAYLOAD_WORD(word) PAYLOAD_WORD_TEXT(word)
constexpr char16_t kPayloadType[] = u"" PAYLOAD_WORD(LAUNCHER_PAYLOAD_TYPE);

// The steps of a path in NormalizedPath's form ("a\\b" has "a" and "b").
std::vector<std::u16string> Steps(const std::u16string& normal) {
    std::vector<std::u16string> steps;
    for (size_t start = 0; start < normal.size();) {
        size_t end = normal.find(u'\\', start);
        if (end == std::u16string::npos) end = normal.size();
        steps.push_back(normal.substr(start, end - start));
        start = end + 1;
    }
    return steps;
}

bool IsFolderEntry(const ZipEntryInfo& entry, const std::u16string& name) {
    return (entry.attributes & kAttributeDirectory) != 0 ||
           (!name.empty() && IsSeparator(name.back()));
}

// Writes one file entry, whose path is `path` in NormalizedPath's form and `steps` its steps, into
// the folder that path leads to. True when it was written whole; its identity then goes into
// `written`, and a file of that name written before is replaced.
bool UnpackFile(ZipArchive* archive, int32_t index, const ZipEntryInfo& entry,
                const std::u16string& path, std::vector<std::u16string> steps, FolderChain* chain,
                WrittenFiles* written) {
    const std::u16string leaf = steps.back();
    steps.pop_back();
    const PlatformHandle folder = ReachFolder(chain, steps);
    if (folder == kInvalidPlatformHandle) return false;
    const PlatformHandle file = PlatformCreateFileIn(folder, leaf.c_str(), entry.attributes);
    if (file == kInvalidPlatformHandle) return false;
    const bool whole = UnzipEntryData(archive, index, file) == ZipOk;
    FileIdentity identity{};
    // One name only: no other name could reach what the folder's check sees.
    const bool known = whole && PlatformFileIdentity(file, &identity) && identity.links == 1;
    if (whole) PlatformSetFileTimes(file, &entry.creationTime, &entry.accessTime, &entry.writeTime);
    PlatformCloseFile(file);
    if (!known) {
        // A short or corrupted file must not be left looking complete.
        PlatformRemoveEntry(folder, leaf.c_str(), ActingFor::Launcher);
        written->erase(path);
        return false;
    }
    (*written)[path] = identity;
    return true;
}

}  // namespace

std::u16string JoinPath(const std::u16string& directory, const std::u16string& name) {
    if (!name.empty() && name[0] == u'\\') return directory + name;
    return directory + u'\\' + name;
}

bool UnpackArchive(PlatformHandle folder, const std::u16string& folderText, const void* data,
                   uint32_t size, UnpackResult* result, ProgressWindow* progress) {
    result->written.clear();
    result->complete = false;
    ZipArchive* archive = OpenZipFromMemory(data, size);
    if (archive == nullptr) return false;
    // Every path below the folder must fit the 260-unit paths through which the child opens it.
    const std::u16string root = folderText + u'\\';
    FolderChain chain{folder, {}, {}};
    bool complete = true;
    uint64_t unpacked = 0;  // the payload's bytes behind, by the entries' compressed sizes
    ZipEntryInfo entry;
    for (int32_t index = 0;; ++index) {
        if (progress != nullptr) AdvanceProgress(progress, unpacked, size);
        const ZipResult found = GetZipEntry(archive, index, &entry);
        // An entry whose name cannot be converted is skipped; past the last entry the list ends,
        // and any other failure leaves the rest of the payload unread.
        if (found == ZipBadName) continue;
        if (found != ZipOk) {
            complete = complete && found == ZipBadArgument;
            break;
        }
        unpacked += entry.compressedSize;
        const std::u16string name = entry.name;
        if (!IsSafeEntryName(name.c_str())) continue;
        const std::u16string path = NormalizedPath(name.c_str());
        const std::vector<std::u16string> steps = Steps(path);
        if (steps.empty()) continue;  // the folder itself
        bool done;
        if (!FitsPathBuffer(root.c_str(), name.c_str())) {
            done = false;
        } else if (IsFolderEntry(entry, name)) {
            done = ReachFolder(&chain, steps) != kInvalidPlatformHandle;
        } else {
            done = UnpackFile(archive, index, entry, path, steps, &chain, &result->written);
        }
        complete = complete && done;
    }
    ReleaseChain(&chain);
    CloseZipArchive(archive);
    result->complete = complete;
    return true;
}

ExtractedPayload ExtractPayload(const FolderNames& names, ProgressWindow* progress) {
    ExtractedPayload result{PayloadState::Failed, u"", NoFreshFolder(), kInvalidPlatformHandle};
    char16_t tempPath[kTempPathUnits] = {};
    const uint32_t length = PlatformGetTempPath(kTempPathUnits - 1, tempPath);
    if (length == 0 || length >= kTempPathUnits) return result;
    // The temporary directory ends with a separator and JoinPath adds one more: the folder text
    // holds two in a row before the folder name, and every path formed from it keeps them.
    result.folderText = JoinPath(tempPath, names.folder);
    if (!FitsSearchPath(result.folderText)) return result;

    const void* payload = nullptr;
    uint32_t payloadSize = 0;
    if (!PlatformFindResource(LAUNCHER_PAYLOAD_ID, kPayloadType, &payload, &payloadSize)) {
        return result;
    }
    result.fresh = PrepareFreshFolder(tempPath, names);
    if (result.fresh.state == FolderState::ApplicationRunning) {
        result.state = PayloadState::ApplicationRunning;
    }
    if (result.fresh.state != FolderState::Ready) return result;
    const PlatformHandle folder = result.fresh.folder;
    const std::u16string childText = ChildFolderText(folder, result.folderText);
    if (childText.empty() || !FitsSearchPath(childText)) return result;
    result.folderText = childText;

    UnpackResult unpacked;
    if (!UnpackArchive(folder, childText, payload, payloadSize, &unpacked, progress) ||
        !unpacked.complete) {
        return result;
    }
    // Held from here until the child has started, so that what the check saw is what starts.
    result.mainProgram = HoldWrittenFile(folder, unpacked.written, names.mainProgram.c_str());
    if (result.mainProgram == kInvalidPlatformHandle) return result;
    if (HoldsExactlyWrittenFiles(folder, unpacked.written)) result.state = PayloadState::Ready;
    return result;
}
