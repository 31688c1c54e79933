// The packer's command line:
//   launcher-pack [--icon FILE.ico] [--version A.B.C.D] [--product-name TEXT]
//                 [--description TEXT] [--company TEXT] [--copyright TEXT] [--level 0-9]
//                 [--main-program NAME.exe] [--folder-name NAME] [--window-class TEXT]
//                 [--window-title TEXT] [--caption TEXT] [--error-caption TEXT]
//                 [--text-running TEXT] [--text-unpack-failed TEXT] [--text-start-failed TEXT]
//                 [--texts en|zh] [--arguments TEXT] [--forward-arguments[=on|off]]
//                 [--working-folder launcher|application] [--progress[=on|off]]
//                 [--execution-level requireAdministrator|highestAvailable|asInvoker]
//                 [--original-filename NAME] [--internal-name NAME] [--dry-run] [--quiet]
//                 LAUNCHER SOURCE OUTPUT
//   launcher-pack --list-windows
// Options also take the form --name=VALUE; "--" ends them. The options of the launcher's settings
// come from resources/launcher_settings.inc.
#pragma once

#include <string>
#include <vector>

#include "packer/string_table.h"
#include "packer/version_record.h"

struct PackOptions {
    bool help = false;
    bool listWindows = false;
    bool dryRun = false;  // check everything and say what OUTPUT would be, but write nothing
    bool quiet = false;   // warnings and errors only
    std::u16string icon;  // empty: keep the icon
    VersionEdit version;
    int level = 9;
    bool levelGiven = false;
    std::u16string executionLevel;  // empty: keep the manifest's
    // The launcher's settings to set (string id, value), each checked; every other one stays as
    // LAUNCHER has it.
    SettingValues settings;
    std::u16string launcher;
    std::u16string source;
    std::u16string output;
};

extern const char16_t kPackUsage[];

// Reads the arguments after the program's name. False with a reason for a wrong command line.
bool ParseCommandLine(const std::vector<std::u16string>& args, PackOptions* options,
                      std::u16string* error);

// "A.B.C.D": four decimal numbers from 0 to 65535.
bool ParseVersionNumbers(const std::u16string& text, uint16_t numbers[4]);
