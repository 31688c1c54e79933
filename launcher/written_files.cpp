// The final check before the start: the folder holds exactly what this run wrote.
#include "launcher/written_files.h"

#include <string>

#include "launcher/folder_listing.h"

namespace {

// Opens the file `name` of the folder for reading, so that it can be neither changed nor removed
// until closed, when it still is the file `wrote`, of one name. kInvalidPlatformHandle otherwise.
PlatformHandle OpenIfWritten(PlatformHandle folder, const char16_t* name,
                             const FileIdentity& wrote) {
    const PlatformHandle file = PlatformOpenFileIn(folder, name);
    if (file == kInvalidPlatformHandle) return file;
    FileIdentity identity{};
    if (!PlatformFileIdentity(file, &identity) || identity.index != wrote.index ||
        identity.links != 1) {
        PlatformCloseFile(file);
        return kInvalidPlatformHandle;
    }
    return file;
}

// Whether the file `name` of the folder is the written one. The listing's index serves where the
// file system gives one; elsewhere the file is asked itself.
bool SameFile(PlatformHandle folder, const PlatformFoundEntry& found, const FileIdentity& wrote) {
    if (found.index != 0) return found.index == wrote.index;
    const PlatformHandle file = OpenIfWritten(folder, found.name, wrote);
    if (file == kInvalidPlatformHandle) return false;
    PlatformCloseFile(file);
    return true;
}

struct CheckState {
    const WrittenFiles& written;
    size_t found;  // written files met so far
};

// Every file below the held folder must be a written one, as the same file. `path` holds the
// folder's path relative to the extraction folder (and gets back to it).
bool OnlyWrittenBelow(PlatformHandle folder, std::u16string* path, CheckState* state) {
    bool sound = true;
    const size_t folderLength = path->size();
    const bool listed = ForEachEntry(folder, nullptr, [&](const PlatformFoundEntry& found) {
        if ((found.attributes & kAttributeReparsePoint) != 0) return sound = false;
        if (folderLength != 0) *path += u'\\';
        *path += found.name;
        if ((found.attributes & kAttributeDirectory) != 0) {
            const PlatformHandle sub = PlatformOpenSubFolder(folder, found.name, true);
            sound = sub != kInvalidPlatformHandle && OnlyWrittenBelow(sub, path, state);
            if (sub != kInvalidPlatformHandle) PlatformReleaseFolder(sub);
        } else {
            // A file swapped in under the name, or the name of a file that was not written whole,
            // does not pass.
            const auto match = state->written.find(*path);
            sound = match != state->written.end() && SameFile(folder, found, match->second);
            state->found += sound ? 1 : 0;
        }
        path->resize(folderLength);
        return sound;
    });
    return listed && sound;
}

}  // namespace

bool HoldsExactlyWrittenFiles(PlatformHandle folder, const WrittenFiles& written) {
    std::u16string path;
    CheckState state{written, 0};
    // Every written file was found, and each once: two names that the file system takes for one
    // (a case variant in a folder that tells case apart) would count twice.
    return OnlyWrittenBelow(folder, &path, &state) && state.found == written.size();
}

PlatformHandle HoldWrittenFile(PlatformHandle folder, const WrittenFiles& written,
                               const char16_t* name) {
    const auto match = written.find(name);
    return match != written.end() ? OpenIfWritten(folder, name, match->second)
                                  : kInvalidPlatformHandle;
}
