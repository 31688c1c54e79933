#include "launcher/launcher_settings.h"

#include "zip/path_rules.h"

namespace {

bool Fail(std::u16string* reason, const char16_t* text) {
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
bool CheckStartFailedText(const std::u16string& text, std::u16string* reason) {
    if (!CheckText(text, kMaxTextUnits, true, reason)) return false;
    const size_t first = text.find(u'%');
    if (first == std::u16string::npos || first + 1 == text.size() || text[first + 1] != u'd' ||
        text.find(u'%', first + 1) != std::u16string::npos) {
        return Fail(reason,
                    u"it must hold exactly one %d, where the error code goes, and no other %");
    }
    return true;
}

}  // namespace

const SettingField kSettingFields[9] = {
    {LAUNCHER_STRING_MAIN_PROGRAM, &LauncherSettings::mainProgram},
    {LAUNCHER_STRING_FOLDER_NAME, &LauncherSettings::folderName},
    {LAUNCHER_STRING_WINDOW_CLASS, &LauncherSettings::windowClass},
    {LAUNCHER_STRING_WINDOW_TITLE, &LauncherSettings::windowTitle},
    {LAUNCHER_STRING_CAPTION, &LauncherSettings::caption},
    {LAUNCHER_STRING_ERROR_CAPTION, &LauncherSettings::errorCaption},
    {LAUNCHER_STRING_TEXT_RUNNING, &LauncherSettings::textRunning},
    {LAUNCHER_STRING_TEXT_UNPACK_FAILED, &LauncherSettings::textUnpackFailed},
    {LAUNCHER_STRING_TEXT_START_FAILED, &LauncherSettings::textStartFailed},
};

LauncherSettings DefaultSettings() {
    return {u"" LAUNCHER_DEFAULT_MAIN_PROGRAM,     u"" LAUNCHER_DEFAULT_FOLDER_NAME,
            u"" LAUNCHER_DEFAULT_WINDOW_CLASS,     u"" LAUNCHER_DEFAULT_WINDOW_TITLE,
            u"" LAUNCHER_DEFAULT_CAPTION,          u"" LAUNCHER_DEFAULT_ERROR_CAPTION,
            u"" LAUNCHER_DEFAULT_TEXT_RUNNING,     u"" LAUNCHER_DEFAULT_TEXT_UNPACK_FAILED,
            u"" LAUNCHER_DEFAULT_TEXT_START_FAILED};
}

bool CheckSetting(uint16_t id, const std::u16string& value, std::u16string* reason) {
    switch (id) {
        case LAUNCHER_STRING_MAIN_PROGRAM:
            if (!CheckName(value, kPathUnits - 1, reason)) return false;
            return EndsWithExe(value) || Fail(reason, u"it must end with .exe");
        case LAUNCHER_STRING_FOLDER_NAME:
            if (!CheckName(value, kMaxExtractionFolderUnits, reason)) return false;
            return !LooksMovedAside(value) ||
                   Fail(reason, u"it ends with .old- and a number, as a folder moved aside does");
        case LAUNCHER_STRING_WINDOW_CLASS:
            return CheckText(value, kMaxWindowClassUnits, false, reason);
        case LAUNCHER_STRING_WINDOW_TITLE:
        case LAUNCHER_STRING_CAPTION:
        case LAUNCHER_STRING_ERROR_CAPTION:
            return CheckText(value, kMaxTextUnits, false, reason);
        case LAUNCHER_STRING_TEXT_RUNNING:
        case LAUNCHER_STRING_TEXT_UNPACK_FAILED:
            return CheckText(value, kMaxTextUnits, true, reason);
        case LAUNCHER_STRING_TEXT_START_FAILED:
            return CheckStartFailedText(value, reason);
        default:
            return Fail(reason, u"it is no setting of the launcher");
    }
}
