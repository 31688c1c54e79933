// The names the packer lets into a payload: each must unpack under exactly that name below
// %TEMP%\<the extraction folder>, and no two may land on the same file.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// The packer cannot know the user's %TEMP%. It allows 64 units for it, closing separator
// included: "C:\Users\" with a 20-character user name (the longest Windows allows) and
// "\AppData\Local\Temp\" take 49. Below it come the extraction folder's name between two
// separators (the launcher doubles the first) and the entry's name, in paths of at most 259
// units, and 247 for a folder, which must leave room for an 8.3 name after it.
constexpr size_t kTempFolderAllowance = 64;

// What an entry's name may take below one extraction folder.
struct NameLimits {
    std::u16string folderName;  // the extraction folder's name, as the messages show it
    size_t maxFileUnits;        // a file's whole name
    size_t maxFolderUnits;      // a folder's, and the folder part of a file's
};
NameLimits LimitsBelow(const std::u16string& folderName);

// The launcher's reader keeps at most 259 bytes of a stored name.
constexpr size_t kMaxStoredNameBytes = 259;

// Checks one name as the launcher will see it ("/" or "\" between steps, a folder's may end
// with one). `storedBytes` is its length in the archive. False with the reason, which begins
// with the quoted name.
bool CheckEntryName(const std::u16string& name, bool isFolder, size_t storedBytes,
                    const NameLimits& limits, std::u16string* reason);

// The names of one payload, compared as Windows compares them: ignoring case, with "/" and "\"
// alike. Tells whether the main program (a file name) is at the top, and what a user who put it
// elsewhere needs to know: where it is, the one folder that holds everything, the programs at
// the top.
struct EntryNameSet {
    explicit EntryNameSet(const std::u16string& mainProgram);
    std::u16string mainProgram;
    std::u16string foldedMainProgram;
    struct Seen {
        std::u16string name;
        bool isFolder;
    };
    std::map<std::u16string, Seen> seen;  // by folded path
    bool hasMainProgram = false;
    std::u16string mainProgramBelow;  // the first entry of that name in a sub-folder
    std::u16string topFolder;         // the first step of every entry, while all share one folder
    bool underOneFolder = true;
    std::vector<std::u16string> topPrograms;  // the first few "*.exe" files at the top
};

// Adds a checked name. False with the reason when it lands on a file that another entry makes,
// or a file stands where it needs a folder.
bool AddEntryName(EntryNameSet* set, const std::u16string& name, bool isFolder,
                  std::u16string* reason);

// Why a payload without the main program at its top cannot be used, and what to do about it.
// `source` is SOURCE as given, `isZip` whether it is an archive.
std::u16string MissingMainProgramReason(const EntryNameSet& set, const std::u16string& source,
                                        bool isZip);
