#include "packer/setting_options.h"

#include "packer/text.h"

namespace {

const std::u16string* GivenValue(const SettingValues& values, uint16_t id) {
    for (const auto& value : values) {
        if (value.first == id) return &value.second;
    }
    return nullptr;
}

}  // namespace

const SettingField* FindSettingOption(const std::u16string& name) {
    for (const SettingField& field : kSettingFields) {
        if (name == field.option) return &field;
    }
    return nullptr;
}

bool ApplySettingOption(const SettingField& field, const std::u16string& value,
                        SettingValues* values, std::u16string* error) {
    std::u16string reason;
    if (!CheckSetting(field.id, value, &reason)) {
        return Fail(error, field.option + (u" " + Quoted(value)) + u" is refused: " + reason);
    }
    values->emplace_back(field.id, value);
    return true;
}

bool CompleteFromLauncher(const LauncherSettings& launcher, SettingValues* values,
                          std::vector<std::u16string>* notes, std::u16string* error) {
    const std::u16string* program = GivenValue(*values, LAUNCHER_STRING_MAIN_PROGRAM);
    if (program != nullptr && !SameIgnoringAsciiCase(*program, launcher.mainProgram) &&
        GivenValue(*values, LAUNCHER_STRING_ARGUMENTS) == nullptr && !launcher.arguments.empty()) {
        notes->push_back(*program + u" is started without arguments: the launcher gave " +
                         launcher.mainProgram + u" " + launcher.arguments +
                         u" (--arguments gives " + *program + u" some)");
        values->emplace_back(LAUNCHER_STRING_ARGUMENTS, u"");
        program = GivenValue(*values, LAUNCHER_STRING_MAIN_PROGRAM);  // `values` has grown
    }
    const std::u16string* title = GivenValue(*values, LAUNCHER_STRING_WINDOW_TITLE);
    if (title != nullptr && title->empty() &&
        GivenValue(*values, LAUNCHER_STRING_CAPTION) == nullptr) {
        const std::u16string& name = program != nullptr ? *program : launcher.mainProgram;
        values->emplace_back(LAUNCHER_STRING_CAPTION, name.substr(0, name.size() - 4));
    }
    LauncherSettings result = launcher;
    for (const auto& value : *values) result.*FindSetting(value.first)->member = value.second;
    std::u16string reason;
    if (!CheckSettingsTogether(result, &reason)) return Fail(error, reason);
    return true;
}
