#include "launcher/launcher_settings.h"

#include "zip/path_rules.h"

namespace {

bool Fail(std::u16string* reason, const std::u16string& text) {
    *reason = text;
    return false;
}

bool TooLong(std::u16string* reason, size_t maxUnits) {
    std::u16string digits;
    for (size_t n = maxUnits; n > 0 || digits.empty(); n /= 10) {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    }
    *reason = u"it is longer than " + digits + u" units";
    return false;
}

bool HasControl(const std::u16string& text, bool allowLineBreaks) {
    for (const char16_t c : text) {
        const bool lineBreak = c == u'\r' || c == u'\n' || c == u'\t';
        if ((c < 0x20 && !(allowLineBreaks && lineBreak)) || c == 0x7F) return true;
    }
    return false;
}

// One name inside a folder, opened as a file of that name: no separator, ":" or wildcard, no
// name that Windows trims or opens as a device.
bool CheckName(const std::u16string& name, size_t maxUnits, std::u16string* reason) {
    if (name.empty()) return Fail(reason, u"it is empty");
    if (name.size() > maxUnits) return TooLong(reason, maxUnits);
    if (ForbiddenNameCharacter(name.data(), name.size()) != 0 ||
        name.find_first_of(u"/\\:") != std::u16string::npos) {
        return Fail(reason, u"it holds a control character or one of / \\ : * ? \" < > |");
    }
    if (HasUnpairedSurrogate(name.data(), name.size())) {
        return Fail(reason, u"it holds an unpaired surrogate");
    }
    if (name.back() == u'.' || name.back() == u' ') {
        return Fail(reason, u"it ends with a dot or a blank, which Windows drops");
    }
    if (IsDeviceStep(name.data(), name.size())) {
        return Fail(reason, u"Windows opens that name as a device");
    }
    return true;
}

// Whether `text` holds the lower-case ASCII `word` at `at`, in any case.
bool SpellsAt(const std::u16string& text, size_t at, const char* word) {
    for (size_t i = 0; word[i] != 0; ++i) {
        if (at + i >= text.size()) return false;
        const char16_t c = text[at + i];
        if ((c >= u'A' && c <= u'Z' ? c | 0x20 : c) != static_cast<char16_t>(word[i])) return false;
    }
    return true;
}

bool EndsWithExe(const std::u16string& name) {
    return name.size() > 4 && SpellsAt(name, name.size() - 4, ".exe");
}

// A launcher moves its old folder aside as "<folder>.old-<number>" and removes every folder of
// that form later: a folder of such a name would be removed by the launcher of the shorter name.
bool LooksMovedAside(const std::u16string& name) {
    const size_t digits = name.find_last_not_of(u"0123456789") + 1;
    return digits < name.size() && digits >= 5 && SpellsAt(name, digits - 5, ".old-");
}

bool CheckText(const std::u16string& text, size_t maxUnits, bool multiLine,
               std::u16string* reason) {
    if (text.empty()) return Fail(reason, u"it is empty");
    if (text.size() > maxUnits) return TooLong(reason, maxUnits);
    if (HasControl(text, multiLine) || HasUnpairedSurrogate(text.data(), text.size())) {
        return Fail(reason, multiLine ? u"it holds a control character or an unpaired surrogate"
                                      : u"it holds a line break, another control character or "
                                        u"an unpaired surrogate");
    }
    return true;
}

// Exactly one "%d" and no other "%": the text is a format, and the code goes where "%d" is.
bool CheckCodeText(const std::u16string& text, size_t maxUnits, std::u16string* reason) {
    if (!CheckText(text, maxUnits, true, reason)) return false;
    const size_t first = text.find(u'%');
    if (first == std::u16string::npos || first + 1 == text.size() || text[first + 1] != u'd' ||
        text.find(u'%', first + 1) != std::u16string::npos) {
        return Fail(reason,
                    u"it must hold exactly one %d, where the error code goes, and no other %");
    }
    return true;
}

}  // namespace

bool CheckChoice(const std::u16string& value, const std::u16string& choices,
                 std::u16string* reason) {
    std::u16string words;
    for (size_t start = 0; start <= choices.size();) {
        size_t end = choices.find(u'|', start);
        if (end == std::u16string::npos) end = choices.size();
        const std::u16string word = choices.substr(start, end - start);
        if (word == value) return true;
        words += (words.empty() ? u"" : end == choices.size() ? u" or " : u", ") + word;
        start = end + 1;
    }
    return Fail(reason, u"it must be " + words);
}

LauncherSettings DefaultSettings() {
    LauncherSettings settings;
    for (const SettingField& field : kSettingFields) settings.*field.member = field.defaultValue;
    return settings;
}

bool CheckSetting(uint16_t id, const std::u16string& value, std::u16string* reason) {
    const SettingField* field = FindSetting(id);
    if (field == nullptr) return Fail(reason, u"it is no setting of the launcher");
    switch (field->rule) {
        case SettingRule::ProgramName:
            if (!CheckName(value, field->limit, reason)) return false;
            return EndsWithExe(value) || Fail(reason, u"it must end with .exe");
        case SettingRule::FolderName:
            if (!CheckName(value, field->limit, reason)) return false;
            return !LooksMovedAside(value) ||
                   Fail(reason, u"it ends with .old- and a number, as a folder moved aside does");
        case SettingRule::LineOrEmpty:
            return value.empty() || CheckText(value, field->limit, false, reason);
        case SettingRule::Line:
            return CheckText(value, field->limit, false, reason);
        case SettingRule::Text:
            return CheckText(value, field->limit, true, reason);
        case SettingRule::CodeText:
            return CheckCodeText(value, field->limit, reason);
        case SettingRule::Choice:
        case SettingRule::Switch:
            return CheckChoice(value, field->choices, reason);
    }
    return Fail(reason, u"it is no setting of the launcher");
}

bool CheckSettingsTogether(const LauncherSettings& settings, std::u16string* reason) {
    // FindWindowW with neither would take any window at all for the running copy.
    if (settings.windowClass.empty() && settings.windowTitle.empty()) {
        return Fail(reason,
                    u"the window class and the window title are both empty: one of them must "
                    u"name the running copy's window");
    }
    return true;
}

std::u16string StoredSetting(const std::u16string& value) {
    return value.empty() ? std::u16string(1, u'\0') : value;
}

std::u16string SettingOfStored(const std::u16string& stored) {
    return stored == std::u16string(1, u'\0') ? std::u16string() : stored;
}

LauncherSettings SettingsOfTable(const StoredStrings& stored) {
    LauncherSettings settings = DefaultSettings();
    for (const SettingField& field : kSettingFields) {
        const auto found = stored.find(field.id);
        if (found == stored.end() || found->second.empty()) continue;  // as missing
        // A value the rules refuse would misbehave where it is used: its default serves instead,
        // and the other values stand.
        const std::u16string value = SettingOfStored(found->second);
        std::u16string reason;
        if (CheckSetting(field.id, value, &reason)) settings.*field.member = value;
    }
    std::u16string reason;
    if (!CheckSettingsTogether(settings, &reason)) {
        const LauncherSettings defaults = DefaultSettings();
        settings.windowClass = defaults.windowClass;
        settings.windowTitle = defaults.windowTitle;
    }
    return settings;
}
