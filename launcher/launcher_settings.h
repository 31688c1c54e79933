// The names and texts a launcher works with: the main program, the folder, the running copy's
// window and the boxes' texts. A launcher reads them from its string table, which the packer
// sets; both check every value by the same rules, so that what one accepts the other uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "resources/launcher_contract.h"

struct LauncherSettings {
    std::u16string mainProgram;  // a file name at the top of the folder, "*.exe"
    std::u16string folderName;   // one name inside the temporary directory
    std::u16string windowClass;
    std::u16string windowTitle;
    std::u16string caption;       // the "running" and "unpack failed" boxes
    std::u16string errorCaption;  // the "start failed" box
    std::u16string textRunning;
    std::u16string textUnpackFailed;
    std::u16string textStartFailed;  // exactly one %d, the error code
};

// The values of a launcher built here (the string table's defaults).
LauncherSettings DefaultSettings();

// One setting: its string id, and the member of the record that holds it.
struct SettingField {
    uint16_t id;
    std::u16string LauncherSettings::*member;
};
extern const SettingField kSettingFields[9];

// The longest values: a window class as window classes are registered; the texts within the box
// and the 1,024 units that the start-failed text's formatting writes at most.
constexpr size_t kMaxWindowClassUnits = 256;
constexpr size_t kMaxTextUnits = 1000;
// The folder's own name, and the name it gets when moved aside (".old-" and up to ten digits),
// within a folder path of 247 units below a temporary directory of 64.
constexpr size_t kMaxExtractionFolderUnits = 247 - 64 - 15;

// Whether `value` may be the setting `id`; else false with the reason (English, naming what is
// wrong, without the setting's own name).
bool CheckSetting(uint16_t id, const std::u16string& value, std::u16string* reason);
