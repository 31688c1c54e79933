#include "packer/pack_tool.h"

#include <algorithm>

#include "packer/command_line.h"
#include "packer/entry_names.h"
#include "packer/folder_walk.h"
#include "packer/icon_group.h"
#include "packer/manifest.h"
#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/resource_tree.h"
#include "packer/setting_options.h"
#include "packer/streamed_image.h"
#include "packer/string_table.h"
#include "packer/text.h"
#include "packer/version_record.h"
#include "packer/zip_source.h"
#include "packer/zip_stream.h"
#include "packer/zip_writer.h"
#include "platform/platform.h"

namespace {

constexpr char16_t kPayloadType[] = u"" LAUNCHER_PAYLOAD_TYPE_NAME;
constexpr uint16_t kPayloadId = LAUNCHER_PAYLOAD_ID;
constexpr uint64_t kMaxInputBytes = 0xFFFFFFFF;  // PE files and zip archives use 32-bit offsets
constexpr size_t kProgressStep = 1000;           // files between two count lines

bool IsPayload(const ResourceLeaf& leaf) {
    return KeyIsText(leaf.type, kPayloadType) && KeyIsNumber(leaf.name, kPayloadId);
}

// The last step of a path.
std::u16string LastStep(const std::u16string& path) {
    const size_t cut = path.find_last_of(u"/\\");
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

// The payload on its way into the file beside OUTPUT: written at its place in the image as it is
// made, once that place is known (after the checks of SOURCE).
struct Payload {
    PlatformHandle file;
    const ByteBuffer& launcher;
    const PeImage& image;
    ResourceTree* tree;
    uint64_t at = 0;  // the file offset of the first payload leaf's bytes
    uint64_t size = 0;
    uint64_t sum = 0;  // the PE checksum's word sum of its bytes (PeWordSum from its start)
};

struct Run {
    const PackConsole& console;
    PackOptions options;
    std::u16string temporary;   // the file beside OUTPUT that becomes it
    LauncherSettings settings;  // the names and texts OUTPUT's launcher works with

    void Say(const std::u16string& line) { console.write(false, line + u"\n", console.context); }
    void Warn(const std::u16string& line) {
        console.write(true, u"launcher-pack: warning: " + line + u"\n", console.context);
    }
    void Error(const std::u16string& line) {
        console.write(true, kErrorPrefix + line + u"\n", console.context);
    }
    int Refuse(const std::u16string& reason) {
        Error(reason);
        return kPackRefused;
    }

    // Reads an input file; on failure the reason names its role and path.
    bool ReadInput(const char16_t* role, const std::u16string& path, ByteBuffer* bytes,
                   std::u16string* error) {
        if (PlatformReadWholeFile(path.c_str(), kMaxInputBytes, bytes)) return true;
        *error = std::u16string(u"cannot read ") + role + u" " + Quoted(path) + u": " +
                 PlatformLastErrorText();
        return false;
    }

    int CheckOutputPath();
    int ReadLauncher(ByteBuffer* file, PeImage* image, ResourceTree* tree);
    int Brand(ResourceTree* tree, uint16_t language);
    void LeaveOutOwnFiles(std::vector<WalkedEntry>* entries);
    int WriteFailed(const std::u16string& reason);
    int ZipFolder(Payload* payload);
    int ReadZip(Payload* payload);
    int Build(PlatformHandle file, ByteBuffer* launcher, ResourceTree* tree, PackedImage* packed,
              uint64_t* payloadAt);
    int Write(PlatformHandle file, const std::u16string& temporary, const PackedImage& packed,
              uint64_t payloadAt);
    int Pack();
};

// OUTPUT may replace an earlier OUTPUT, but none of the inputs and no folder.
int Run::CheckOutputPath() {
    const char16_t* output = options.output.c_str();
    const uint32_t attributes = PlatformGetFileAttributes(output);
    if (attributes != kInvalidAttributes && (attributes & kAttributeDirectory) != 0) {
        return Refuse(u"OUTPUT " + Quoted(options.output) + u" is a folder");
    }
    const std::pair<const char16_t*, const std::u16string*> inputs[] = {
        {u"LAUNCHER", &options.launcher},
        {u"SOURCE", &options.source},
        {u"the icon", &options.icon}};
    for (const auto& input : inputs) {
        if (!input.second->empty() && PlatformSameFile(output, input.second->c_str())) {
            return Refuse(u"OUTPUT " + Quoted(options.output) + u" is " + input.first +
                          u" itself: packing would destroy it; choose another OUTPUT");
        }
    }
    return kPackDone;
}

int Run::ReadLauncher(ByteBuffer* file, PeImage* image, ResourceTree* tree) {
    Say(u"Reading the launcher " + Quoted(options.launcher));
    std::u16string error;
    if (!ReadInput(u"LAUNCHER", options.launcher, file, &error)) return Refuse(error);
    const std::u16string what = u"LAUNCHER " + Quoted(options.launcher) + u" is ";
    if (!ReadPeImage(*file, image, &error)) return Refuse(what + error);
    if (!ReadResourceTree(*file, *image, tree, &error)) return Refuse(what + error);
    if (std::none_of(tree->leaves.begin(), tree->leaves.end(), IsPayload)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) +
                      u" has no payload resource (type \"" + kPayloadType + u"\", id " +
                      NumberText(kPayloadId) + u"): it is not a launcher built by this project");
    }
    return kPackDone;
}

// The new icon and version texts, when asked for.
int Run::Brand(ResourceTree* tree, uint16_t language) {
    std::u16string error;
    if (!options.icon.empty()) {
        ByteBuffer file;
        std::vector<IconImage> images;
        if (!ReadInput(u"the icon", options.icon, &file, &error)) return Refuse(error);
        if (!ReadIconFile(file, &images, &error)) {
            return Refuse(u"the icon " + Quoted(options.icon) + u" is refused: " + error);
        }
        if (!ReplaceIconGroup(tree, images, language, &error)) return Refuse(error);
        Say(u"Replacing the icon by the " + NumberText(images.size()) + u" images of " +
            Quoted(options.icon));
    }
    SettingValues values = options.settings;
    std::vector<std::u16string> notes;
    if (!CompleteFromLauncher(SettingsOfTree(*tree, language), &values, &notes, &error)) {
        return Refuse(error);
    }
    for (const std::u16string& note : notes) Say(note);
    if (!values.empty()) {
        if (!SetStrings(tree, values, language, &error)) {
            return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
        }
        Say(u"Setting the launcher's names and texts");
    }
    settings = SettingsOfTree(*tree, language);
    if (!options.executionLevel.empty()) {
        if (!SetExecutionLevel(tree, options.executionLevel, &error)) {
            return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
        }
        Say(u"Setting the execution level " + options.executionLevel);
    }
    const VersionEdit& edit = options.version;
    if (!edit.setNumbers && edit.texts.empty()) return kPackDone;
    bool found = false;
    for (ResourceLeaf& leaf : tree->leaves) {
        if (!KeyIsNumber(leaf.type, kResourceVersion)) continue;
        found = true;
        VersionNode root;
        if (!ReadVersionRecord(leaf.data, &root, &error) ||
            !EditVersionRecord(&root, edit, &error)) {
            return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
        }
        if (!WriteVersionRecord(root, &leaf.data)) {
            return Refuse(u"the version texts are too long for a version record (64 kB)");
        }
    }
    if (!found) return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u" has no version record");
    Say(u"Setting the version record");
    return kPackDone;
}

// A SOURCE that holds OUTPUT holds the file being written too, and perhaps an earlier OUTPUT:
// neither belongs in the payload (each packing would nest the last one in it).
void Run::LeaveOutOwnFiles(std::vector<WalkedEntry>* entries) {
    const std::u16string outputName = LastStep(options.output);
    const std::u16string temporaryName = LastStep(temporary);
    auto own = [&](const WalkedEntry& entry) {
        const std::u16string name = LastStep(entry.path);
        if (entry.facts.isFolder || !(SameIgnoringAsciiCase(name, outputName) ||
                                      SameIgnoringAsciiCase(name, temporaryName))) {
            return false;
        }
        if (PlatformSameFile(entry.path.c_str(), temporary.c_str())) return true;
        if (!PlatformSameFile(entry.path.c_str(), options.output.c_str())) return false;
        Say(u"Leaving out " + Quoted(entry.path) + u", which is OUTPUT itself");
        return true;
    };
    entries->erase(std::remove_if(entries->begin(), entries->end(), own), entries->end());
}

// "cannot write" the file beside OUTPUT, with the system's reason.
int Run::WriteFailed(const std::u16string& reason) {
    Error(u"cannot write " + Quoted(temporary) + u": " + reason);
    return kPackWriteFailed;
}

int Run::ZipFolder(Payload* payload) {
    std::vector<WalkedEntry> entries;
    std::u16string error;
    const std::u16string in = u"SOURCE " + Quoted(options.source) + u": ";
    const NameLimits limits = LimitsBelow(settings.folderName);
    if (!WalkFolder(options.source, limits, &entries, &error)) return Refuse(in + error);
    LeaveOutOwnFiles(&entries);
    EntryNameSet names(settings.mainProgram);
    uint64_t total = 0;
    size_t files = 0;
    for (const WalkedEntry& entry : entries) {
        const ZipEntryFacts& facts = entry.facts;
        if (!AddEntryName(&names, facts.name, facts.isFolder, &error)) return Refuse(in + error);
        if (!facts.isFolder) ++files;
        total += entry.size;
    }
    if (!names.hasMainProgram) {
        return Refuse(u"SOURCE " + Quoted(options.source) + u" has no " + settings.mainProgram +
                      u" at its top level, the main program that the launcher starts (choose "
                      u"another with --main-program)");
    }
    if (entries.size() > kMaxZipEntries) {
        return Refuse(u"SOURCE holds " + NumberText(entries.size()) +
                      u" files and folders; the launcher reads at most 65535");
    }
    if (total > kMaxInputBytes) {
        return Refuse(u"SOURCE holds " + SizeText(total) +
                      u", more than the launcher's reader can read (4 GiB)");
    }
    if (!PlaceStreamedLeaves(payload->launcher, payload->image, payload->tree, IsPayload,
                             &payload->at, &error)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
    }
    Say(u"Zipping the folder " + Quoted(options.source) + u": " + NumberText(files) + u" files, " +
        NumberText(entries.size() - files) + u" folders, " + SizeText(total));

    FileSink sink(payload->file, payload->at);
    ZipStream zip;
    zip.sink = &sink;
    zip.level = options.level;
    size_t done = 0;
    for (const WalkedEntry& entry : entries) {
        const ZipStreamStatus added =
            AddZipStreamEntry(&zip, entry.facts, entry.facts.isFolder ? u"" : entry.path, &error);
        if (added == ZipStreamStatus::kWriteFailed) return WriteFailed(error);
        if (added != ZipStreamStatus::kAdded) return Refuse(error);
        if (!entry.facts.isFolder && ++done % kProgressStep == 0) {
            Say(u"  " + NumberText(done) + u" of " + NumberText(files) + u" files");
        }
    }
    const ZipStreamStatus finished = FinishZipStream(&zip, &error);
    if (finished == ZipStreamStatus::kWriteFailed) return WriteFailed(error);
    if (finished != ZipStreamStatus::kAdded) return Refuse(error);
    payload->size = sink.position();
    payload->sum = zip.sum.total;
    Say(u"  payload: " + SizeText(payload->size) + u" from " + SizeText(total));
    return kPackDone;
}

// The archive is mapped read-only (its pages come from the file as the check and the copy read
// them) and copied into the file beside OUTPUT in blocks.
int Run::ReadZip(Payload* payload) {
    const uint8_t* zip = nullptr;
    uint64_t size = 0;
    if (!PlatformMapFile(options.source.c_str(), kMaxInputBytes, &zip, &size)) {
        return Refuse(u"cannot read SOURCE " + Quoted(options.source) + u": " +
                      PlatformLastErrorText());
    }
    struct Unmap {
        const uint8_t* view;
        uint64_t size;
        ~Unmap() { PlatformUnmapFile(view, size); }
    } unmap{zip, size};
    std::u16string error;
    Say(u"Checking the archive " + Quoted(options.source));
    uint32_t count = 0;
    if (!CheckZipSource(zip, size, LimitsBelow(settings.folderName), settings.mainProgram, &count,
                        &error)) {
        return Refuse(u"SOURCE " + Quoted(options.source) + u" is refused: " + error);
    }
    Say(u"  " + NumberText(count) + u" entries verified, " + SizeText(size));
    if (options.levelGiven) Warn(u"--level has no effect: a .zip SOURCE is embedded as it is");
    if (!PlaceStreamedLeaves(payload->launcher, payload->image, payload->tree, IsPayload,
                             &payload->at, &error)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
    }
    FileSink sink(payload->file, payload->at);
    PeWordSum sum;
    if (!AppendInBlocks(&sink, zip, size, &sum)) return WriteFailed(PlatformLastErrorText());
    payload->sum = sum.total;
    payload->size = size;
    return kPackDone;
}

// Writes the image around the payload already in the file made beside OUTPUT and renames it
// over OUTPUT.
int Run::Write(PlatformHandle file, const std::u16string& temporary, const PackedImage& packed,
               uint64_t payloadAt) {
    Say(u"Writing " + Quoted(options.output) + u" (" + SizeText(packed.size) + u")");
    const bool written = WriteAroundStreamed(file, packed, payloadAt);
    std::u16string failure;
    if (!written) failure = u"cannot write " + Quoted(temporary) + u": " + PlatformLastErrorText();
    const bool finished = PlatformFinishFile(file);
    if (written && !finished) {
        failure = u"cannot write " + Quoted(temporary) + u": " + PlatformLastErrorText();
    }
    if (failure.empty() && !PlatformReplaceFile(temporary.c_str(), options.output.c_str())) {
        failure = u"cannot put the new file in the place of OUTPUT " + Quoted(options.output) +
                  u": " + PlatformLastErrorText();
    }
    if (failure.empty()) return kPackDone;
    PlatformDeleteFile(temporary.c_str());
    Error(failure);
    return kPackWriteFailed;
}

// Reads and checks the inputs, streams the payload into `file` at its place (`payloadAt`) and
// builds the rest of the image around it.
int Run::Build(PlatformHandle file, ByteBuffer* launcher, ResourceTree* tree, PackedImage* packed,
               uint64_t* payloadAt) {
    PeImage image;
    if (const int status = ReadLauncher(launcher, &image, tree)) return status;
    const uint16_t language =
        std::find_if(tree->leaves.begin(), tree->leaves.end(), IsPayload)->language;
    if (const int status = Brand(tree, language)) return status;

    const uint32_t attributes = PlatformGetFileAttributes(options.source.c_str());
    if (attributes == kInvalidAttributes) {
        return Refuse(u"SOURCE " + Quoted(options.source) + u" does not exist");
    }
    Payload payload{file, *launcher, image, tree};
    const bool isFolder = (attributes & kAttributeDirectory) != 0;
    if (const int status = isFolder ? ZipFolder(&payload) : ReadZip(&payload)) return status;
    // Every language of the payload carries the new archive (a launcher has one; the others get
    // copies of its bytes in the file).
    std::u16string error;
    *payloadAt = payload.at;
    if (!BuildAroundStreamed(*launcher, image, tree, payload.at, payload.size, payload.sum, packed,
                             &error)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
    }
    if (packed->droppedSignature) {
        Warn(
            u"LAUNCHER was signed; the signature would no longer match and is dropped: sign "
            u"OUTPUT after packing");
    }
    return kPackDone;
}

int Run::Pack() {
    if (const int status = CheckOutputPath()) return status;
    // The file beside OUTPUT comes first: a folder that cannot be written to is found before
    // the work, not after it.
    const PlatformHandle file = PlatformCreateFileBeside(options.output.c_str(), &temporary);
    if (file == kInvalidPlatformHandle) {
        Error(u"cannot create a file beside OUTPUT " + Quoted(options.output) + u": " +
              PlatformLastErrorText());
        return kPackWriteFailed;
    }
    ByteBuffer launcher;
    ResourceTree tree;
    PackedImage packed;  // refers to the launcher's bytes and the tree
    uint64_t payloadAt = 0;
    const int status = Build(file, &launcher, &tree, &packed, &payloadAt);
    if (status != kPackDone) {
        PlatformCloseFile(file);
        PlatformDeleteFile(temporary.c_str());
        return status;
    }
    if (const int written = Write(file, temporary, packed, payloadAt)) return written;
    Say(u"Done: " + Quoted(options.output));
    return kPackDone;
}

}  // namespace

int RunPackTool(const std::vector<std::u16string>& args, const PackConsole& console) {
    Run run{console, {}, {}, {}};
    std::u16string error;
    if (!ParseCommandLine(args, &run.options, &error)) {
        console.write(true, kErrorPrefix + error + u"\n\n" + kPackUsage, console.context);
        return kPackRefused;
    }
    if (run.options.help) {
        console.write(false, kPackUsage, console.context);
        return kPackDone;
    }
    return run.Pack();
}
