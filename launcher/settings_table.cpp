// The launcher's names and texts from its own string table, which a packed launcher may carry
// with values of its own.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

LauncherSettings LoadLauncherSettings() {
    LauncherSettings settings = DefaultSettings();
    for (const SettingField& field : kSettingFields) {
        std::u16string value;
        std::u16string reason;
        // A value the rules refuse would misbehave where it is used: its default serves instead,
        // and the other values stand.
        if (PlatformLoadString(field.id, &value) && CheckSetting(field.id, value, &reason)) {
            settings.*field.member = value;
        }
    }
    return settings;
}
