#include "packer/command_line.h"

#include <utility>

#include "packer/text.h"

const char16_t kPackUsage[] =
    u"usage: launcher-pack [options] LAUNCHER SOURCE OUTPUT\n"
    u"\n"
    u"Makes OUTPUT, a copy of LAUNCHER (a launcher.exe built by this project) that carries\n"
    u"SOURCE as its application: a folder, which is zipped, or a .zip, embedded as it is.\n"
    u"zandro.exe must be at the top of SOURCE.\n"
    u"\n"
    u"options:\n"
    u"  --icon FILE.ico       replace the program's icon by all images of FILE.ico\n"
    u"  --version A.B.C.D     file and product version (four numbers up to 65535)\n"
    u"  --product-name TEXT   the version record's ProductName\n"
    u"  --description TEXT    its FileDescription\n"
    u"  --company TEXT        its CompanyName\n"
    u"  --copyright TEXT      its LegalCopyright\n"
    u"  --level 0-9           deflate level for a folder SOURCE (default 9, 0 stores)\n"
    u"  --help                show this text\n"
    u"\n"
    u"Exit status: 0 done, 1 OUTPUT could not be written, 2 refused (the reason is shown).\n"
    u"A signature of LAUNCHER does not survive: sign OUTPUT after packing.\n";

namespace {

// Options that take a value, and the version record's key that each text option sets.
struct ValueOption {
    const char16_t* name;
    const char16_t* versionKey;  // null for --icon, --version and --level
};
constexpr ValueOption kOptions[] = {
    {u"--icon", nullptr},
    {u"--version", nullptr},
    {u"--level", nullptr},
    {u"--product-name", u"ProductName"},
    {u"--description", u"FileDescription"},
    {u"--company", u"CompanyName"},
    {u"--copyright", u"LegalCopyright"},
};

bool Fail(std::u16string* error, const std::u16string& reason) {
    *error = reason;
    return false;
}

bool ApplyOption(const ValueOption& option, const std::u16string& value, PackOptions* options,
                 std::u16string* error) {
    const std::u16string name = option.name;
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
    } else {
        if (value.size() != 1 || value[0] < u'0' || value[0] > u'9') {
            return Fail(error, u"--level needs a number from 0 to 9; got \"" + value + u"\"");
        }
        options->level = value[0] - u'0';
        options->levelGiven = true;
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
        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : kOptions) {
            if (name == candidate.name) option = &candidate;
        }
        if (option == nullptr) return Fail(error, u"unknown option " + name);
        for (const std::u16string& earlier : seen) {
            if (earlier == name) return Fail(error, name + u" is given twice");
        }
        seen.push_back(name);
        std::u16string value;
        if (equals != std::u16string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Fail(error, name + u" needs a value");
        }
        if (!ApplyOption(*option, value, options, error)) return false;
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
