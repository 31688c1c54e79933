// The packer's options for the launcher's settings, one per row of resources/launcher_settings.inc,
// and what the options given imply for the settings they leave alone.
#pragma once

#include <string>
#include <vector>

#include "launcher/launcher_settings.h"
#include "packer/string_table.h"

// The setting whose option is `name` ("--main-program"), or null.
const SettingField* FindSettingOption(const std::u16string& name);

// Checks the option's value and adds it to `values`; false with the reason for the user.
bool ApplySettingOption(const SettingField& field, const std::u16string& value,
                        SettingValues* values, std::u16string* error);

// Adds to the given `values` what they imply once the settings of the launcher being packed
// (`launcher`) are known, and checks the settings that result together:
// - a main program other than the launcher's, without --arguments, gets no arguments (the empty
//   argument of a launcher built here belongs to its own program), and `notes` says so;
// - an empty window title without --caption gives the boxes the main program's name without
//   ".exe" as their caption.
// False with the reason when the settings together break CheckSettingsTogether.
bool CompleteFromLauncher(const LauncherSettings& launcher, SettingValues* values,
                          std::vector<std::u16string>* notes, std::u16string* error);
