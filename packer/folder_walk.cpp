#include "packer/folder_walk.h"

#include <algorithm>

#include "packer/entry_names.h"
#include "packer/text.h"
#include "platform/utf8.h"

namespace {

bool Collect(const PlatformListedEntry& entry, void* context) {
    static_cast<std::vector<PlatformListedEntry>*>(context)->push_back(entry);
    return true;
}

bool NameBefore(const PlatformListedEntry& a, const PlatformListedEntry& b) {
    return Utf16ToUtf8(a.name) < Utf16ToUtf8(b.name);
}

// The walk's record of `entry`, named `name` in the payload and found at `path`.
WalkedEntry EntryOf(const PlatformListedEntry& entry, const std::u16string& name, bool isFolder,
                    const std::u16string& path) {
    const ZipEntryFacts facts{name,
                              isFolder,
                              entry.attributes,
                              entry.writeTime,
                              entry.accessTime,
                              entry.creationTime,
                              entry.hasCreationTime};
    return WalkedEntry{facts, path, entry.size};
}

// A folder's path and a name in it (a drive root such as "C:\" already ends in a separator).
std::u16string Join(const std::u16string& folder, const char16_t* name) {
    const bool separated = !folder.empty() && (folder.back() == u'/' || folder.back() == u'\\');
    return separated ? folder + name : folder + kNativeSeparator + name;
}

bool WalkInto(const std::u16string& folder, const std::u16string& prefix, const NameLimits& limits,
              std::vector<WalkedEntry>* entries, std::u16string* error) {
    std::vector<PlatformListedEntry> listed;
    if (!PlatformListFolder(folder.c_str(), Collect, &listed)) {
        *error = u"cannot list the folder " + Quoted(folder) + u": " + PlatformLastErrorText();
        return false;
    }
    std::sort(listed.begin(), listed.end(), NameBefore);
    std::vector<const PlatformListedEntry*> folders;
    for (const PlatformListedEntry& entry : listed) {
        const std::u16string path = Join(folder, entry.name);
        const bool isFolder = (entry.attributes & kAttributeDirectory) != 0;
        if (isFolder && (entry.attributes & kAttributeReparsePoint) != 0) {
            *error = Quoted(path) +
                     u" is a link to a folder, which the packer does not follow: put the "
                     u"folder itself in its place";
            return false;
        }
        // A "\" in a POSIX name would become a separator on Windows.
        const std::u16string step = entry.name;
        const std::u16string name = prefix + step + (isFolder ? u"/" : u"");
        std::u16string reason;
        if (step.find(u'\\') != std::u16string::npos) {
            *error = Quoted(path) + u" holds \"\\\", which Windows does not allow in names";
            return false;
        }
        if (!CheckEntryName(name, isFolder, Utf16ToUtf8(name.c_str()).size(), limits, &reason)) {
            *error = reason;
            return false;
        }
        if (isFolder) {
            folders.push_back(&entry);
        } else {
            entries->push_back(EntryOf(entry, name, false, path));
        }
    }
    for (const PlatformListedEntry* entry : folders) {
        const std::u16string path = Join(folder, entry->name);
        const std::u16string name = prefix + entry->name + u"/";
        entries->push_back(EntryOf(*entry, name, true, path));
        if (!WalkInto(path, name, limits, entries, error)) return false;
    }
    return true;
}

}  // namespace

bool WalkFolder(const std::u16string& root, const NameLimits& limits,
                std::vector<WalkedEntry>* entries, std::u16string* error) {
    entries->clear();
    std::u16string folder = root;
    // Without its closing separators, except where one is the root ("/", "C:\\").
    while (folder.size() > 1 && (folder.back() == u'/' || folder.back() == u'\\') &&
           folder[folder.size() - 2] != u':') {
        folder.pop_back();
    }
    return WalkInto(folder, u"", limits, entries, error);
}
