// What the packer shows a user who asks before packing: what a packed launcher would use
// (--dry-run), and the windows on the screen, to find an application's class and title
// (--list-windows).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "launcher/launcher_settings.h"
#include "packer/pack_tool.h"

// What a payload unpacks.
struct PayloadFacts {
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t bytes = 0;
};

// The lines of --dry-run: each name and text of the launcher with the option that sets it, the
// folder and the main program as the launcher forms them, the version record's texts, and what
// unpacks.
std::u16string DryRunReport(const LauncherSettings& settings,
                            const std::vector<std::pair<std::u16string, std::u16string>>& version,
                            const PayloadFacts& payload);

// --list-windows: every visible top-level window with its program and the options that find it.
// Returns the exit status.
int ListWindowsReport(const PackConsole& console);
