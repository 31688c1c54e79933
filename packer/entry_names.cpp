#include "packer/entry_names.h"

#include <string>
#include <vector>

#include "launcher/launcher_settings.h"
#include "packer/text.h"
#include "platform/platform.h"
#include "zip/path_rules.h"

namespace {

// Upper case as NTFS compares names, for the scripts whose letters have two cases most often
// met in file names: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char16_t FoldCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 0x20;
    if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) return c - 0x20;
    if (c == 0x00FF) return 0x0178;
    if (c >= 0x0100 && c <= 0x017F && c != 0x0131 && c != 0x0138 && c != 0x0149 && c != 0x017F) {
        // Pairs: upper even, lower odd, except 0x0139-0x0148 and 0x0179-0x017E, which are
        // upper odd, lower even.
        const bool oddUpper = (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E);
        const bool lower = oddUpper ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? c - 1 : c;
    }
    if (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2) return c - 0x20;
    if (c >= 0x0430 && c <= 0x044F) return c - 0x20;
    if (c >= 0x0450 && c <= 0x045F) return c - 0x50;
    return c;
}

// The steps of a name, without empty ones (Windows reads "a//b" as "a/b").
std::vector<std::u16string> Steps(const std::u16string& name) {
    std::vector<std::u16string> steps;
    std::u16string step;
    for (char16_t c : name) {
        if (IsSeparator(c)) {
            if (!step.empty()) steps.push_back(step);
            step.clear();
        } else {
            step += c;
        }
    }
    if (!step.empty()) steps.push_back(step);
    return steps;
}

bool Refuse(std::u16string* reason, const std::u16string& name, const std::u16string& why) {
    return Fail(reason, Quoted(name) + u" " + why);
}

std::u16string CharacterText(char16_t c) {
    if (c < 0x20) return u"a control character (" + NumberText(c) + u")";
    return std::u16string(u"\"") + c + u"\"";
}

std::u16string Folded(const std::u16string& name) {
    std::u16string folded;
    for (char16_t c : name) folded += FoldCase(c);
    return folded;
}

std::u16string LengthReason(size_t length, size_t limit, const char16_t* what,
                            const NameLimits& limits) {
    return u"is too long: " + NumberText(length) + u" units, and " + what + u" may have at most " +
           NumberText(limit) + u" so that its path below " + u"%TEMP%\\" + limits.folderName +
           u" fits the 260 units that Windows opens (allowing " + NumberText(kTempFolderAllowance) +
           u" units for %TEMP% itself, as in " +
           u"C:\\Users\\<a 20-character user name>\\AppData\\Local\\Temp\\)";
}

// Where the main program and the other programs are, and whether all of it is in one folder.
void NoteWhereThingsAre(EntryNameSet* set, const std::u16string& name,
                        const std::vector<std::u16string>& steps, bool isFolder) {
    const bool atTop = steps.size() == 1 && !isFolder;
    const bool isMainProgram = !isFolder && Folded(steps.back()) == set->foldedMainProgram;
    if (isMainProgram && atTop) set->hasMainProgram = true;
    if (isMainProgram && !atTop && set->mainProgramBelow.empty()) set->mainProgramBelow = name;
    std::u16string notAProgram;
    if (atTop && set->topPrograms.size() < 3 &&
        CheckSetting(LAUNCHER_STRING_MAIN_PROGRAM, steps[0], &notAProgram)) {
        set->topPrograms.push_back(steps[0]);
    }
    if (atTop || (!set->topFolder.empty() && Folded(set->topFolder) != Folded(steps[0]))) {
        set->underOneFolder = false;
    } else if (set->topFolder.empty()) {
        set->topFolder = steps[0];
    }
}

}  // namespace

NameLimits LimitsBelow(const std::u16string& folderName) {
    // The two separators around the folder's name, and the terminator of the path buffer.
    const size_t prefix = kTempFolderAllowance + folderName.size() + 2;
    const size_t maxFile = kPathUnits - 1 > prefix ? kPathUnits - 1 - prefix : 0;
    const size_t maxFolder = 247 > prefix ? 247 - prefix : 0;
    return {folderName, maxFile, maxFolder};
}

EntryNameSet::EntryNameSet(const std::u16string& mainProgram)
    : mainProgram(mainProgram), foldedMainProgram(Folded(mainProgram)) {}

bool CheckEntryName(const std::u16string& name, bool isFolder, size_t storedBytes,
                    const NameLimits& limits, std::u16string* reason) {
    const std::vector<std::u16string> steps = Steps(name);
    if (steps.empty()) return Refuse(reason, name, u"is an empty name");
    if (IsSeparator(name[0])) {
        return Refuse(reason, name, u"is absolute: the launcher skips it");
    }
    if (name.find(u':') != std::u16string::npos) {
        return Refuse(reason, name,
                      u"holds \":\" (a drive letter or a stream): the launcher skips it");
    }
    for (const std::u16string& step : steps) {
        if (IsParentStep(step.data(), step.size())) {
            return Refuse(reason, name, u"goes up out of the folder: the launcher skips it");
        }
        if (IsDeviceStep(step.data(), step.size())) {
            return Refuse(reason, name,
                          u"names a device (such as CON, NUL or COM1): the launcher skips it");
        }
        if (const char16_t c = ForbiddenNameCharacter(step.data(), step.size())) {
            return Refuse(
                reason, name,
                u"holds " + CharacterText(c) + u", which Windows does not allow in names");
        }
        if (step.back() == u'.' || step.back() == u' ') {
            return Refuse(reason, name,
                          u"has a step that ends in a dot or a blank, which Windows drops: it "
                          u"would unpack under another name");
        }
    }
    if (HasUnpairedSurrogate(name.data(), name.size()))
        return Refuse(reason, name, u"is not valid Unicode");
    if (!IsSafeEntryName(name.c_str())) {  // the launcher's own rule has the last word
        return Refuse(reason, name, u"would be skipped by the launcher");
    }

    size_t length = name.size();
    while (length > 0 && IsSeparator(name[length - 1])) --length;
    if (isFolder && length > limits.maxFolderUnits) {
        return Refuse(reason, name,
                      LengthReason(length, limits.maxFolderUnits, u"a folder's name", limits));
    }
    // A file's path, against the extractor's own rule, below a prefix of the allowed length.
    const std::u16string typicalPrefix(kPathUnits - 1 - limits.maxFileUnits, u'x');
    if (!isFolder && !FitsPathBuffer(typicalPrefix.c_str(), name.c_str())) {
        return Refuse(reason, name,
                      LengthReason(length, limits.maxFileUnits, u"a file's name", limits));
    }
    const long parent = LastSeparator(name.c_str(), length);
    if (parent > 0 && static_cast<size_t>(parent) > limits.maxFolderUnits) {
        return Refuse(reason, name,
                      LengthReason(static_cast<size_t>(parent), limits.maxFolderUnits,
                                   u"the name of the folder it is in", limits));
    }
    if (storedBytes > kMaxStoredNameBytes) {
        return Refuse(reason, name,
                      u"is too long: " + NumberText(storedBytes) +
                          u" bytes as stored, and the launcher reads at most " +
                          NumberText(kMaxStoredNameBytes));
    }
    return true;
}

bool AddEntryName(EntryNameSet* set, const std::u16string& name, bool isFolder,
                  std::u16string* reason) {
    const std::vector<std::u16string> steps = Steps(name);
    std::u16string folded;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i > 0) folded += u'/';
        folded += Folded(steps[i]);
        const bool last = i + 1 == steps.size();
        const bool needsFolder = !last || isFolder;
        auto found = set->seen.find(folded);
        if (found == set->seen.end()) {
            set->seen[folded] = {name, needsFolder};
            continue;
        }
        const EntryNameSet::Seen& earlier = found->second;
        if (needsFolder && earlier.isFolder) continue;  // the same folder again
        if (!earlier.isFolder && !needsFolder) {
            return Refuse(reason, name,
                          u"and " + Quoted(earlier.name) +
                              u" would unpack to the same file (Windows does not tell upper "
                              u"from lower case)");
        }
        return Refuse(
            reason, name,
            u"and " + Quoted(earlier.name) + u" need the same path as a file and as a folder");
    }
    NoteWhereThingsAre(set, name, steps, isFolder);
    return true;
}

std::u16string MissingMainProgramReason(const EntryNameSet& set, const std::u16string& source,
                                        bool isZip) {
    const std::u16string& program = set.mainProgram;
    const std::u16string& below = set.mainProgramBelow;
    std::u16string reason = (isZip ? u"the archive" : u"SOURCE " + Quoted(source)) + u" has no " +
                            program + u" at its top level, the main program that the launcher " +
                            u"starts from the top of its folder";
    const bool oneFolder = set.underOneFolder && !set.topFolder.empty();
    if (!below.empty()) reason += u": it is at " + Quoted(below);
    if (oneFolder) {
        reason += std::u16string(below.empty() ? u": all " : u", and all ") +
                  (isZip ? u"entries of the archive" : u"that SOURCE holds") +
                  u" sit in the folder " + Quoted(set.topFolder + u"/");
    }
    const std::u16string holder = below.substr(0, below.find_last_of(u"/\\"));
    if (isZip && oneFolder && (below.empty() || Folded(holder) == Folded(set.topFolder))) {
        const std::u16string zipName = source.substr(source.find_last_of(u"/\\") + 1);
        return reason + u". Make the archive from inside that folder, so that what it holds is " +
               u"at the top (cd " + Quoted(set.topFolder) + u" && zip -r ../" + zipName +
               u" .), or pack the folder " + Quoted(set.topFolder) + u" itself";
    }
    if (isZip && !below.empty()) {
        return reason + u". Make the archive from inside the folder that holds " + program +
               u", so that it is at the top";
    }
    if (!below.empty() || oneFolder) {
        return reason + u". Pack " +
               (below.empty() ? u"that folder itself" : u"the folder that holds " + program) +
               u" instead: " +
               Quoted(source + kNativeSeparator + (below.empty() ? set.topFolder : holder));
    }
    if (!set.topPrograms.empty()) {
        reason += u". The programs at its top level: ";
        for (size_t i = 0; i < set.topPrograms.size(); ++i) {
            reason += (i > 0 ? u", " : u"") + set.topPrograms[i];
        }
        return reason + u"; name the main program with --main-program";
    }
    return reason + u" (name another with --main-program)";
}
