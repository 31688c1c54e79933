// The settings a launcher works with: the main program, the folder, the running copy's window,
// the boxes' texts and how the main program is started. Each is a row of
// resources/launcher_settings.inc, from which the record, the defaults and the rules here, the
// packer's options and the build's string table come alike. A launcher reads them from its
// string table, which the packer sets; both check every value by the same rules, so that what
// one accepts the other uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "resources/launcher_contract.h"

struct LauncherSettings {
#define LAUNCHER_SETTING(id, key, member, ...) std::u16string member;
#include "resources/launcher_settings.inc"
#undef LAUNCHER_SETTING
};

// LAUNCHER_STRING_<KEY>: each setting's id in the string table.
enum SettingId : uint16_t {
#define LAUNCHER_SETTING(id, key, ...) LAUNCHER_STRING_##key = id,
#include "resources/launcher_settings.inc"
#undef LAUNCHER_SETTING
};

// What a value must be (the list's comment says what each rule asks).
enum class SettingRule {
    ProgramName,
    FolderName,
    Line,
    LineOrEmpty,
    Text,
    CodeText,
    Choice,
    Switch
};

// One row of the list.
struct SettingField {
    uint16_t id;
    std::u16string LauncherSettings::*member;
    const char16_t* option;
    SettingRule rule;
    size_t limit;             // the most units of a name or text
    const char16_t* choices;  // a Choice's or Switch's words, separated by "|"
    const char16_t* defaultValue;
};

inline constexpr SettingField kSettingFields[] = {
#define LAUNCHER_SETTING(id, key, member, option, rule, limit, choices, value, help) \
    {id, &LauncherSettings::member, u"" option, SettingRule::rule, limit, u"" choices, u"" value},
#include "resources/launcher_settings.inc"
#undef LAUNCHER_SETTING
};

// The row of setting `id`, or null.
constexpr const SettingField* FindSetting(uint16_t id) {
    for (const SettingField& field : kSettingFields) {
        if (field.id == id) return &field;
    }
    return nullptr;
}

// The words of a Switch, and the Choice of the working folder that is not the default.
constexpr char16_t kSwitchOn[] = u"on";
constexpr char16_t kWorkingFolderApplication[] = u"application";

// The values of a launcher built here.
LauncherSettings DefaultSettings();

// Whether `value` may be the setting `id`; else false with the reason (English, naming what is
// wrong, without the setting's own name).
bool CheckSetting(uint16_t id, const std::u16string& value, std::u16string* reason);

// Whether `value` is one of the words of `choices` ("a|b"), spelt exactly; else false with the
// reason, which names them.
bool CheckChoice(const std::u16string& value, const std::u16string& choices,
                 std::u16string* reason);

// The rules between settings, each of which passed its own: the running copy's window needs its
// class or its title. False with the reason otherwise.
bool CheckSettingsTogether(const LauncherSettings& settings, std::u16string* reason);

// A value as the string table holds it, and the value that a text of the table stands for
// (resources/launcher_contract.h: an empty value is one zero unit).
std::u16string StoredSetting(const std::u16string& value);
std::u16string SettingOfStored(const std::u16string& stored);

// The settings of a string table that holds the texts `stored` (by id, as stored; an empty one
// is missing): each value that passes its rule, the default for every other one, and both of the
// window's defaults when its class and title together break CheckSettingsTogether.
using StoredStrings = std::map<uint16_t, std::u16string>;
LauncherSettings SettingsOfTable(const StoredStrings& stored);
