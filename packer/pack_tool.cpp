#include "packer/pack_tool.h"

#include <algorithm>

#include "packer/command_line.h"
#include "packer/entry_names.h"
#include "packer/folder_walk.h"
#include "packer/icon_group.h"
#include "packer/manifest.h"
#include "packer/pack_report.h"
#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/progress.h"
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

bool IsPayload(const ResourceLeaf& leaf) {
    return KeyIsText(leaf.type, kPayloadType) && KeyIsNumber(leaf.name, kPayloadId);
}

// Where the last step of a path starts.
size_t LastStepAt(const std::u16string& path) {
    const size_t cut = path.find_last_of(u"/\\");
    return cut == std::u16string::npos ? 0 : cut + 1;
}

std::u16string LastStep(const std::u16string& path) { return path.substr(LastStepAt(path)); }

// A file name without its extension ("App.exe": "App").
std::u16string Stem(const std::u16string& name) {
    const size_t dot = name.find_last_of(u'.');
    return dot == std::u16string::npos || dot == 0 ? name : name.substr(0, dot);
}

// What SOURCE holds, checked: a folder's entries, or a .zip mapped into memory.
struct Source {
    bool isFolder = false;
    std::vector<WalkedEntry> entries;
    PayloadFacts facts;
    const uint8_t* zip = nullptr;
    uint64_t zipSize = 0;

    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { PlatformUnmapFile(zip, zipSize); }
};

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

// The launcher read and given its new names, texts, icon and version record.
struct Launcher {
    ByteBuffer file;
    PeImage image;
    ResourceTree tree;
};

struct Run {
    const PackConsole& console;
    PackOptions options;
    std::u16string temporary;   // the file beside OUTPUT that becomes it
    LauncherSettings settings;  // the names and texts OUTPUT's launcher works with
    Progress progress;
    int stopStatus = 0;  // once a stop was asked for: the exit status that says so

    void Print(bool toError, const std::u16string& text) {
        EndProgressLine(&progress);
        console.write(toError, text, console.context);
    }
    void Say(const std::u16string& line) {
        if (!options.quiet) Print(false, line + u"\n");
    }
    void Warn(const std::u16string& line) {
        Print(true, u"launcher-pack: warning: " + line + u"\n");
    }
    void Error(const std::u16string& line) { Print(true, kErrorPrefix + line + u"\n"); }
    int Refuse(const std::u16string& reason) {
        Error(reason);
        return kPackRefused;
    }

    // Whether a stop was asked for (Ctrl-C, a signal): asked once, it stays.
    bool Stopped() {
        if (stopStatus == 0) stopStatus = PlatformStopRequested();
        return stopStatus != 0;
    }
    static bool OnProgress(void* context, uint64_t files, uint64_t bytes) {
        Run* run = static_cast<Run*>(context);
        AddProgress(&run->progress, files, bytes);
        return !run->Stopped();
    }
    ProgressHook Hook() { return ProgressHook{OnProgress, this}; }
    void StartShowing(const std::u16string& what, uint64_t files, uint64_t bytes) {
        StartProgress(&progress, options.quiet ? nullptr : &console, what, files, bytes);
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
    int ReadLauncher(Launcher* launcher);
    int Brand(ResourceTree* tree, uint16_t language);
    int EditVersion(ResourceTree* tree);
    void LeaveOutOwnFiles(std::vector<WalkedEntry>* entries);
    int SurveyFolder(Source* source);
    int CheckZip(Source* source);
    int Prepare(Launcher* launcher, Source* source);
    int WriteFailed(const std::u16string& reason);
    int ZipFolder(const Source& source, Payload* payload);
    int CopyZip(const Source& source, Payload* payload);
    int Build(PlatformHandle file, Launcher* launcher, PackedImage* packed, uint64_t* payloadAt);
    int Write(PlatformHandle file, const PackedImage& packed, uint64_t payloadAt);
    int DryRun();
    int Pack();
};

// OUTPUT may replace an earlier OUTPUT, but none of the inputs and no folder, and its folder must
// be there.
int Run::CheckOutputPath() {
    const std::u16string& output = options.output;
    const uint32_t attributes = PlatformGetFileAttributes(output.c_str());
    if (attributes != kInvalidAttributes && (attributes & kAttributeDirectory) != 0) {
        return Refuse(u"OUTPUT " + Quoted(output) + u" is a folder");
    }
    const std::pair<const char16_t*, const std::u16string*> inputs[] = {
        {u"LAUNCHER", &options.launcher},
        {u"SOURCE", &options.source},
        {u"the icon", &options.icon}};
    for (const auto& input : inputs) {
        if (!input.second->empty() && PlatformSameFile(output.c_str(), input.second->c_str())) {
            return Refuse(u"OUTPUT " + Quoted(output) + u" is " + input.first +
                          u" itself: packing would destroy it; choose another OUTPUT");
        }
    }
    const size_t nameAt = LastStepAt(output);
    if (nameAt == output.size()) return Refuse(u"OUTPUT " + Quoted(output) + u" has no file name");
    // Shown without its closing separator, unless that is the root.
    const std::u16string folder = output.substr(0, nameAt > 1 ? nameAt - 1 : nameAt);
    const uint32_t folderAttributes = PlatformGetFileAttributes(output.substr(0, nameAt).c_str());
    if (nameAt > 0 &&
        (folderAttributes == kInvalidAttributes || (folderAttributes & kAttributeDirectory) == 0)) {
        return Refuse(
            u"the folder of OUTPUT, " + Quoted(folder) +
            (folderAttributes == kInvalidAttributes ? u", does not exist" : u", is not a folder") +
            u": make it first, or choose OUTPUT in another folder");
    }
    return kPackDone;
}

int Run::ReadLauncher(Launcher* launcher) {
    Say(u"Reading the launcher " + Quoted(options.launcher));
    std::u16string error;
    if (!ReadInput(u"LAUNCHER", options.launcher, &launcher->file, &error)) return Refuse(error);
    const std::u16string what = u"LAUNCHER " + Quoted(options.launcher) + u" is ";
    if (!ReadPeImage(launcher->file, &launcher->image, &error)) return Refuse(what + error);
    if (!ReadResourceTree(launcher->file, launcher->image, &launcher->tree, &error)) {
        return Refuse(what + error);
    }
    const auto& leaves = launcher->tree.leaves;
    if (std::none_of(leaves.begin(), leaves.end(), IsPayload)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) +
                      u" has no payload resource (type \"" + kPayloadType + u"\", id " +
                      NumberText(kPayloadId) + u"): it is not a launcher built by this project");
    }
    return kPackDone;
}

// The new icon, names and texts when asked for, and the version record.
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
        Say(u"Replacing the icon by the " + Counted(images.size(), u"image", u"images") + u" of " +
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
    return EditVersion(tree);
}

// The version texts and numbers asked for, and the file's own names: OUTPUT's unless given. A
// launcher without a version record gets none, unless something was asked for.
int Run::EditVersion(ResourceTree* tree) {
    VersionEdit edit = options.version;
    const bool asked = edit.setNumbers || !edit.texts.empty();
    const std::u16string name = LastStep(options.output);
    for (const auto& own :
         {std::make_pair(u"OriginalFilename", name), std::make_pair(u"InternalName", Stem(name))}) {
        if (std::none_of(edit.texts.begin(), edit.texts.end(),
                         [&](const auto& text) { return text.first == own.first; })) {
            edit.texts.emplace_back(own.first, own.second);
        }
    }
    bool found = false;
    for (ResourceLeaf& leaf : tree->leaves) {
        if (!KeyIsNumber(leaf.type, kResourceVersion)) continue;
        found = true;
        VersionNode root;
        std::u16string error;
        if (!ReadVersionRecord(leaf.data, &root, &error) ||
            !EditVersionRecord(&root, edit, &error)) {
            return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
        }
        if (!WriteVersionRecord(root, &leaf.data)) {
            return Refuse(u"the version texts are too long for a version record (64 kB)");
        }
    }
    if (!found && asked) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u" has no version record");
    }
    if (found) Say(u"Setting the version record");
    return kPackDone;
}

// A SOURCE that holds OUTPUT holds the file being written too, and perhaps an earlier OUTPUT:
// neither belongs in the payload (each packing would nest the last one in it).
void Run::LeaveOutOwnFiles(std::vector<WalkedEntry>* entries) {
    const std::u16string outputName = LastStep(options.output);
    const std::u16string temporaryName = outputName + u".part";
    auto own = [&](const WalkedEntry& entry) {
        const std::u16string name = LastStep(entry.path);
        if (entry.facts.isFolder || !(SameIgnoringAsciiCase(name, outputName) ||
                                      SameIgnoringAsciiCase(name, temporaryName))) {
            return false;
        }
        if (!temporary.empty() && PlatformSameFile(entry.path.c_str(), temporary.c_str())) {
            return true;
        }
        if (!PlatformSameFile(entry.path.c_str(), options.output.c_str())) return false;
        Say(u"Leaving out " + Quoted(entry.path) + u", which is OUTPUT itself");
        return true;
    };
    entries->erase(std::remove_if(entries->begin(), entries->end(), own), entries->end());
}

int Run::SurveyFolder(Source* source) {
    std::u16string error;
    const std::u16string in = u"SOURCE " + Quoted(options.source) + u": ";
    if (!WalkFolder(options.source, LimitsBelow(settings.folderName), &source->entries, &error)) {
        return Refuse(in + error);
    }
    LeaveOutOwnFiles(&source->entries);
    EntryNameSet names(settings.mainProgram);
    PayloadFacts& facts = source->facts;
    for (const WalkedEntry& entry : source->entries) {
        if (!AddEntryName(&names, entry.facts.name, entry.facts.isFolder, &error)) {
            return Refuse(in + error);
        }
        ++(entry.facts.isFolder ? facts.folders : facts.files);
        facts.bytes += entry.size;
    }
    if (!names.hasMainProgram) {
        return Refuse(MissingMainProgramReason(names, options.source, false));
    }
    if (source->entries.size() > kMaxZipEntries) {
        return Refuse(u"SOURCE holds " + NumberText(source->entries.size()) +
                      u" files and folders; the launcher reads at most 65535");
    }
    if (facts.bytes > kMaxInputBytes) {
        return Refuse(u"SOURCE holds " + SizeText(facts.bytes) +
                      u", more than the launcher's reader can read (4 GiB)");
    }
    return Stopped() ? stopStatus : kPackDone;
}

// The archive is mapped read-only (its pages come from the file as the check and the copy read
// them) and checked through the launcher's own reader.
int Run::CheckZip(Source* source) {
    if (!PlatformMapFile(options.source.c_str(), kMaxInputBytes, &source->zip, &source->zipSize)) {
        return Refuse(u"cannot read SOURCE " + Quoted(options.source) + u": " +
                      PlatformLastErrorText());
    }
    std::u16string error;
    const std::u16string refused = u"SOURCE " + Quoted(options.source) + u" is refused: ";
    ZipSourceFacts zip;
    if (!SurveyZipSource(source->zip, source->zipSize, &zip, &error)) {
        return Refuse(refused + error);
    }
    source->facts = {zip.files, zip.entries - zip.files, zip.bytes};
    Say(u"Checking the archive " + Quoted(options.source) + u": " +
        Counted(zip.entries, u"entry", u"entries") + u", " + SizeText(source->zipSize));
    StartShowing(u"Checking", zip.files, zip.bytes);
    EntryNameSet names(settings.mainProgram);
    const ZipCheck check = CheckZipSource(source->zip, source->zipSize,
                                          LimitsBelow(settings.folderName), &names, Hook(), &error);
    if (check == ZipCheck::kStopped) return stopStatus;
    if (check == ZipCheck::kRefused) return Refuse(refused + error);
    if (!names.hasMainProgram) {
        return Refuse(refused + MissingMainProgramReason(names, options.source, true));
    }
    FinishProgress(&progress);
    if (options.levelGiven) Warn(u"--level has no effect: a .zip SOURCE is embedded as it is");
    return kPackDone;
}

// Reads and checks every input: the launcher gets its new resources, SOURCE is checked.
int Run::Prepare(Launcher* launcher, Source* source) {
    if (const int status = ReadLauncher(launcher)) return status;
    const auto& leaves = launcher->tree.leaves;
    const uint16_t language = std::find_if(leaves.begin(), leaves.end(), IsPayload)->language;
    if (const int status = Brand(&launcher->tree, language)) return status;
    const uint32_t attributes = PlatformGetFileAttributes(options.source.c_str());
    if (attributes == kInvalidAttributes) {
        return Refuse(u"SOURCE " + Quoted(options.source) + u" does not exist");
    }
    source->isFolder = (attributes & kAttributeDirectory) != 0;
    return source->isFolder ? SurveyFolder(source) : CheckZip(source);
}

// "cannot write" the file beside OUTPUT, with the system's reason.
int Run::WriteFailed(const std::u16string& reason) {
    Error(u"cannot write " + Quoted(temporary) + u": " + reason);
    return kPackWriteFailed;
}

int Run::ZipFolder(const Source& source, Payload* payload) {
    const PayloadFacts& facts = source.facts;
    Say(u"Zipping the folder " + Quoted(options.source) + u": " +
        Counted(facts.files, u"file", u"files") + u", " +
        Counted(facts.folders, u"folder", u"folders") + u", " + SizeText(facts.bytes));
    StartShowing(u"Zipping", facts.files, facts.bytes);
    FileSink sink(payload->file, payload->at);
    ZipStream zip;
    zip.sink = &sink;
    zip.level = options.level;
    zip.progress = Hook();
    std::u16string error;
    for (const WalkedEntry& entry : source.entries) {
        const ZipStreamStatus added =
            AddZipStreamEntry(&zip, entry.facts, entry.facts.isFolder ? u"" : entry.path, &error);
        if (added == ZipStreamStatus::kStopped) return stopStatus;
        if (added == ZipStreamStatus::kWriteFailed) return WriteFailed(error);
        if (added != ZipStreamStatus::kAdded) return Refuse(error);
    }
    const ZipStreamStatus finished = FinishZipStream(&zip, &error);
    if (finished == ZipStreamStatus::kWriteFailed) return WriteFailed(error);
    if (finished != ZipStreamStatus::kAdded) return Refuse(error);
    FinishProgress(&progress);
    payload->size = sink.position();
    payload->sum = zip.sum.total;
    Say(u"  payload: " + SizeText(payload->size) + u" from " + SizeText(facts.bytes));
    return kPackDone;
}

// The checked archive, copied into the file beside OUTPUT in blocks.
int Run::CopyZip(const Source& source, Payload* payload) {
    FileSink sink(payload->file, payload->at);
    PeWordSum sum;
    if (!AppendInBlocks(&sink, source.zip, source.zipSize, &sum)) {
        return WriteFailed(PlatformLastErrorText());
    }
    payload->sum = sum.total;
    payload->size = source.zipSize;
    return kPackDone;
}

// Reads and checks the inputs, streams the payload into `file` at its place (`payloadAt`) and
// builds the rest of the image around it.
int Run::Build(PlatformHandle file, Launcher* launcher, PackedImage* packed, uint64_t* payloadAt) {
    Source source;
    if (const int status = Prepare(launcher, &source)) return status;
    Payload payload{file, launcher->file, launcher->image, &launcher->tree};
    std::u16string error;
    if (!PlaceStreamedLeaves(launcher->file, launcher->image, &launcher->tree, IsPayload,
                             &payload.at, &error)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
    }
    const int status = source.isFolder ? ZipFolder(source, &payload) : CopyZip(source, &payload);
    if (status != kPackDone) return status;
    // Every language of the payload carries the new archive (a launcher has one; the others get
    // copies of its bytes in the file).
    *payloadAt = payload.at;
    if (!BuildAroundStreamed(launcher->file, launcher->image, &launcher->tree, payload.at,
                             payload.size, payload.sum, packed, &error)) {
        return Refuse(u"LAUNCHER " + Quoted(options.launcher) + u": " + error);
    }
    if (packed->droppedSignature) {
        Warn(
            u"LAUNCHER was signed; the signature would no longer match and is dropped: sign "
            u"OUTPUT after packing");
    }
    return Stopped() ? stopStatus : kPackDone;
}

// Writes the image around the payload already in the file made beside OUTPUT and renames it
// over OUTPUT, unless a stop was asked for meanwhile.
int Run::Write(PlatformHandle file, const PackedImage& packed, uint64_t payloadAt) {
    Say(u"Writing " + Quoted(options.output) + u" (" + SizeText(packed.size) + u")");
    const bool written = WriteAroundStreamed(file, packed, payloadAt);
    std::u16string failure;
    if (!written) failure = u"cannot write " + Quoted(temporary) + u": " + PlatformLastErrorText();
    const bool finished = PlatformFinishFile(file);
    if (written && !finished) {
        failure = u"cannot write " + Quoted(temporary) + u": " + PlatformLastErrorText();
    }
    if (failure.empty() && Stopped()) {
        PlatformDeleteFile(temporary.c_str());
        return stopStatus;
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

int Run::DryRun() {
    Launcher launcher;
    Source source;
    if (const int status = Prepare(&launcher, &source)) return status;
    std::vector<std::pair<std::u16string, std::u16string>> version;
    for (const ResourceLeaf& leaf : launcher.tree.leaves) {
        VersionNode root;
        std::u16string error;
        if (KeyIsNumber(leaf.type, kResourceVersion) &&
            ReadVersionRecord(leaf.data, &root, &error)) {
            version = VersionTexts(root);
        }
    }
    Print(false, DryRunReport(settings, version, source.facts));
    return kPackDone;
}

int Run::Pack() {
    if (const int status = CheckOutputPath()) return status;
    if (options.dryRun) return DryRun();
    // The file beside OUTPUT comes first: a folder that cannot be written to is found before
    // the work, not after it.
    bool inUse = false;
    const PlatformHandle file =
        PlatformCreateFileBeside(options.output.c_str(), &temporary, &inUse);
    if (file == kInvalidPlatformHandle) {
        Error(u"cannot create " + Quoted(temporary) + u" beside OUTPUT: " +
              PlatformLastErrorText() +
              (inUse ? u"; another launcher-pack is writing the same OUTPUT: let it finish, or "
                       u"choose another OUTPUT"
                     : u""));
        return kPackWriteFailed;
    }
    Launcher launcher;
    PackedImage packed;  // refers to the launcher's bytes and tree
    uint64_t payloadAt = 0;
    int status = Build(file, &launcher, &packed, &payloadAt);
    if (status != kPackDone) {
        PlatformCloseFile(file);
        PlatformDeleteFile(temporary.c_str());
    } else {
        status = Write(file, packed, payloadAt);
    }
    if (status == stopStatus && stopStatus != 0) {
        Print(true, u"launcher-pack: stopped: OUTPUT " + Quoted(options.output) +
                        u" was not written, and nothing is left beside it\n");
    } else if (status == kPackDone) {
        Say(u"Done: " + Quoted(options.output));
    }
    return status;
}

}  // namespace

int RunPackTool(const std::vector<std::u16string>& args, const PackConsole& console) {
    Run run{console, {}, {}, {}, {}, 0};
    std::u16string error;
    if (!ParseCommandLine(args, &run.options, &error)) {
        // Bare, the command shows how it is used; otherwise the reason alone.
        console.write(true,
                      kErrorPrefix + error +
                          (args.empty() ? u"\n\n" + std::u16string(kPackUsage)
                                        : u"; see launcher-pack --help\n"),
                      console.context);
        return kPackRefused;
    }
    if (run.options.help) {
        console.write(false, kPackUsage, console.context);
        return kPackDone;
    }
    if (run.options.listWindows) return ListWindowsReport(console);
    return run.Pack();
}
