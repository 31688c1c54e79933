// The launcher's settings from its own string table, which a packed launcher may carry with values
// of its own.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

LauncherSettings LoadLauncherSettings() {
    StoredStrings stored;
    for (const SettingField& field : kSettingFields) {
        std::u16string text;
        if (PlatformLoadString(field.id, &text)) stored[field.id] = text;
    }
    return SettingsOfTable(stored);
}
