#include "packer/command_line.h"

#include <utility>

#include "packer/setting_options.h"
#include "packer/text.h"

const char16_t kPackUsage[] =
    u"usage: launcher-pack [options] LAUNCHER SOURCE OUTPUT\n"
    u"\n"
    u"Makes OUTPUT, a copy of LAUNCHER (a launcher.exe built by this project) that carries\n"
    u"SOURCE as its application: a folder, which is zipped, or a .zip, embedded as it is.\n"
    u"The main program (zandro.exe unless --main-program says otherwise) must be at the top\n"
    u"of SOURCE.\n"
    u"\n"
    u"options:\n"
    u"  --icon FILE.ico       replace the program's icon by all images of FILE.ico\n"
    u"  --version A.B.C.D     file and product version (four numbers up to 65535)\n"
    u"  --product-name TEXT   the version record's ProductName\n"
    u"  --description TEXT    its FileDescription\n"
    u"  --company TEXT        its CompanyName\n"
    u"  --copyright TEXT      its LegalCopyright\n"
    u"  --original-filename NAME  its OriginalFilename (default: OUTPUT's file name)\n"
    u"  --internal-name NAME  its InternalName (default: that name without its extension)\n"
    u"  --level 0-9           deflate level for a folder SOURCE (default 9, 0 stores)\n"
    u"  --execution-level requireAdministrator|highestAvailable|asInvoker\n"
    u"                        what the launcher's manifest asks Windows for (default\n"
    u"                        requireAdministrator: a prompt for administrator rights)\n"
    u"\n"
    u"The launcher's names and texts (each kept as LAUNCHER has it unless given):\n"
    u"  --main-program NAME.exe  the program it starts, at the top of SOURCE\n"
    u"  --folder-name NAME       its folder in %TEMP%, a name of its application's own\n"
    u"  --window-class TEXT      the class and title of the application's window, by which\n"
    u"  --window-title TEXT        a running copy is found and brought to the front; one of\n"
    u"                           them may be \"\", and then only the other is matched\n"
    u"  --caption TEXT           caption of the first two boxes (default: the window title,\n"
    u"                           or the main program's name when the title is \"\")\n"
    u"  --error-caption TEXT     caption of the box for a failed start\n"
    u"  --text-running TEXT      box text: the application is running already\n"
    u"  --text-unpack-failed TEXT  box text: unpacking failed or a file is in use\n"
    u"  --text-start-failed TEXT   box text: the start failed; one %d shows the error code\n"
    u"  --texts en|zh            the three box texts and the error caption in English, or\n"
    u"                           the launcher's own Chinese ones; options above win\n"
    u"\n"
    u"How the main program starts (each kept as LAUNCHER has it unless given):\n"
    u"  --arguments TEXT         what follows its path on its command line (default \"\",\n"
    u"                           one empty argument; none for another --main-program)\n"
    u"  --forward-arguments      the launcher's own arguments follow (=off: no longer)\n"
    u"  --working-folder launcher|application\n"
    u"                           its current folder: the launcher's (default), or its own\n"
    u"  --progress               a window shows the progress of a long unpacking (=off: none)\n"
    u"\n"
    u"  --dry-run             check everything and show what OUTPUT's launcher would use: its\n"
    u"                        names and texts, folder, main program and size; write nothing\n"
    u"  --quiet               show warnings and errors only\n"
    u"  --list-windows        (Windows) list the visible windows with their class, title and\n"
    u"                        program: start the application first, then copy its\n"
    u"                        --window-class and --window-title\n"
    u"  --help                show this text\n"
    u"\n"
    u"Exit status: 0 done, 1 OUTPUT could not be written, 2 refused (the reason is shown);\n"
    u"stopped (Ctrl-C), the status of the signal, such as 130, and nothing is left behind.\n"
    u"A signature of LAUNCHER does not survive: sign OUTPUT after packing.\n";

namespace {

// Options that take a value, but for the launcher's settings (packer/setting_options.h): the
// version record's key that a version text sets.
struct ValueOption {
    const char16_t* name;
    const char16_t* versionKey;  // null for all but the version texts
};
constexpr ValueOption kOptions[] = {
    {u"--icon", nullptr},
    {u"--version", nullptr},
    {u"--level", nullptr},
    {u"--texts", nullptr},
    {u"--execution-level", nullptr},
    {u"--product-name", u"ProductName"},
    {u"--description", u"FileDescription"},
    {u"--company", u"CompanyName"},
    {u"--copyright", u"LegalCopyright"},
    {u"--original-filename", u"OriginalFilename"},
    {u"--internal-name", u"InternalName"},
};

// Options that take no value.
struct FlagOption {
    const char16_t* name;
    bool PackOptions::*member;
};
constexpr FlagOption kFlags[] = {
    {u"--dry-run", &PackOptions::dryRun},
    {u"--quiet", &PackOptions::quiet},
    {u"--list-windows", &PackOptions::listWindows},
};

// The ready sets of --texts: the error caption and the three box texts.
struct TextSet {
    const char16_t* name;
    const char16_t* errorCaption;
    const char16_t* running;
    const char16_t* unpackFailed;
    const char16_t* startFailed;
};
constexpr TextSet kTextSets[] = {
    {u"en", u"Error", u"The application is already running.",
     u"Could not unpack the application, or one of its files is in use.",
     u"Could not start the application (error %d)."},
    {u"zh", FindSetting(LAUNCHER_STRING_ERROR_CAPTION)->defaultValue,
     FindSetting(LAUNCHER_STRING_TEXT_RUNNING)->defaultValue,
     FindSetting(LAUNCHER_STRING_TEXT_UNPACK_FAILED)->defaultValue,
     FindSetting(LAUNCHER_STRING_TEXT_START_FAILED)->defaultValue},
};

bool HasSetting(const SettingValues& values, uint16_t id) {
    for (const auto& value : values) {
        if (value.first == id) return true;
    }
    return false;
}

// What the single options leave unset: the texts of --texts, and the caption from a title.
void CompleteSettings(const TextSet* texts, SettingValues* values) {
    SettingValues implied;  // copies: `values` grows below
    if (texts != nullptr) {
        implied = {{LAUNCHER_STRING_ERROR_CAPTION, texts->errorCaption},
                   {LAUNCHER_STRING_TEXT_RUNNING, texts->running},
                   {LAUNCHER_STRING_TEXT_UNPACK_FAILED, texts->unpackFailed},
                   {LAUNCHER_STRING_TEXT_START_FAILED, texts->startFailed}};
    }
    for (const auto& value : *values) {
        if (value.first == LAUNCHER_STRING_WINDOW_TITLE && !value.second.empty()) {
            implied.emplace_back(LAUNCHER_STRING_CAPTION, value.second);
        }
    }
    for (const auto& value : implied) {
        if (!HasSetting(*values, value.first)) values->push_back(value);
    }
}

// A main program given with its folder: the launcher starts a file at the top of its folder.
// False with the reason for such a value.
bool NamesNoFolder(const SettingField& setting, const std::u16string& path, std::u16string* error) {
    const size_t cut = path.find_last_of(u"/\\");
    if (setting.id != LAUNCHER_STRING_MAIN_PROGRAM || cut == std::u16string::npos ||
        cut + 1 == path.size()) {
        return true;
    }
    const std::u16string name = path.substr(cut + 1);
    return Fail(error, u"--main-program " + Quoted(path) +
                           u" is refused: the main program is a file at the top of SOURCE, "
                           u"named without a folder. To start " +
                           name + u" from " + Quoted(path.substr(0, cut)) +
                           u", pack that folder as SOURCE, with --main-program " + name);
}

bool ApplyOption(const ValueOption& option, const std::u16string& value, PackOptions* options,
                 std::u16string* error) {
    const std::u16string name = option.name;
    std::u16string reason;
    if (option.versionKey != nullptr) {
        options->version.texts.emplace_back(option.versionKey, value);
    } else if (name == u"--icon") {
        if (value.empty()) return Fail(error, u"--icon needs a file");
        options->icon = value;
    } else if (name == u"--version") {
        if (!ParseVersionNumbers(value, options->version.numbers)) {
            return Fail(error,
                        u"--version needs four numbers from 0 to 65535 separated by dots, "
                        u"such as 1.2.0.0; got \"" +
                            value + u"\"");
        }
        options->version.setNumbers = true;
    } else if (name == u"--texts") {
        // Found here, applied once all single options are known.
        if (value != u"en" && value != u"zh") {
            return Fail(error, u"--texts needs en or zh; got " + Quoted(value));
        }
    } else if (name == u"--execution-level") {
        if (!CheckChoice(value, u"" LAUNCHER_EXECUTION_LEVELS, &reason)) {
            return Fail(error, u"--execution-level " + Quoted(value) + u" is refused: " + reason);
        }
        options->executionLevel = value;
    } else if (name == u"--level") {
        if (value.size() != 1 || value[0] < u'0' || value[0] > u'9') {
            return Fail(error, u"--level needs a number from 0 to 9; got \"" + value + u"\"");
        }
        options->level = value[0] - u'0';
        options->levelGiven = true;
    } else {
        return Fail(error, u"unknown option " + name);
    }
    return true;
}

}  // namespace

bool ParseVersionNumbers(const std::u16string& text, uint16_t numbers[4]) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != u'.') return false;
            ++at;
        }
        uint32_t value = 0;
        const size_t start = at;
        while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && at - start < 6) {
            value = value * 10 + (text[at] - u'0');
            ++at;
        }
        if (at == start || value > 0xFFFF) return false;
        numbers[i] = static_cast<uint16_t>(value);
    }
    return at == text.size();
}

bool ParseCommandLine(const std::vector<std::u16string>& args, PackOptions* options,
                      std::u16string* error) {
    *options = PackOptions{};
    std::vector<std::u16string> positional;
    std::vector<std::u16string> seen;
    const TextSet* texts = nullptr;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, u"--") != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        if (arg == u"--help") {
            options->help = true;
            return true;
        }
        const size_t equals = arg.find(u'=');
        const std::u16string name = arg.substr(0, equals);
        for (const std::u16string& earlier : seen) {
            if (earlier == name) return Fail(error, name + u" is given twice");
        }
        seen.push_back(name);
        const FlagOption* flag = nullptr;
        for (const FlagOption& candidate : kFlags) {
            if (name == candidate.name) flag = &candidate;
        }
        if (flag != nullptr) {
            if (equals != std::u16string::npos) return Fail(error, name + u" takes no value");
            options->*flag->member = true;
            continue;
        }
        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : kOptions) {
            if (name == candidate.name) option = &candidate;
        }
        const SettingField* setting = FindSettingOption(name);
        if (option == nullptr && setting == nullptr) return Fail(error, u"unknown option " + name);
        std::u16string value;
        if (equals != std::u16string::npos) {
            value = arg.substr(equals + 1);
        } else if (setting != nullptr && setting->rule == SettingRule::Switch) {
            value = kSwitchOn;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Fail(error, name + u" needs a value");
        }
        if (setting != nullptr ? !NamesNoFolder(*setting, value, error) ||
                                     !ApplySettingOption(*setting, value, &options->settings, error)
                               : !ApplyOption(*option, value, options, error)) {
            return false;
        }
        for (const TextSet& set : kTextSets) {
            if (name == u"--texts" && value == set.name) texts = &set;
        }
    }
    CompleteSettings(texts, &options->settings);
    if (options->listWindows) {
        return positional.empty() ||
               Fail(error, u"--list-windows takes no LAUNCHER, SOURCE or OUTPUT");
    }
    if (positional.size() != 3) {
        return Fail(error, u"expected LAUNCHER, SOURCE and OUTPUT, got " +
                               NumberText(positional.size()) +
                               (positional.size() == 1 ? u" argument" : u" arguments"));
    }
    options->launcher = positional[0];
    options->source = positional[1];
    options->output = positional[2];
    return true;
}
