// The launcher's verdict on each row of a table of setting values (setting_values.txt), one line
// each, "accept" or "refuse", for setting_rules_test.cmake to hold against the build's own.
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "launcher/launcher_settings.h"
#include "platform/utf8.h"

namespace {

const std::map<std::string, uint16_t> kIds = {
#define LAUNCHER_SETTING(id, key, ...) {#key, id},
#include "resources/launcher_settings.inc"
#undef LAUNCHER_SETTING
};

// The table's escapes: \n \r \t \a \\ and {N*c}.
std::string Decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n'   ? '\n'
                   : next == 'r' ? '\r'
                   : next == 't' ? '\t'
                   : next == 'a' ? '\a'
                                 : next;
        } else if (text[i] == '{' && text.find('*', i) != std::string::npos) {
            const size_t star = text.find('*', i);
            const size_t close = text.find('}', star);
            const std::string unit = text.substr(star + 1, close - star - 1);
            for (int n = std::stoi(text.substr(i + 1, star - i - 1)); n > 0; --n) out += unit;
            i = close;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::ifstream table(argv[1]);
    std::string line;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t first = line.find('\t');
        const size_t second = line.find('\t', first + 1);
        const auto id = kIds.find(line.substr(0, first));
        if (id == kIds.end() || second == std::string::npos) return 2;
        std::u16string reason;
        const std::u16string value = Utf8ToUtf16(Decode(line.substr(second + 1)).c_str());
        std::cout << (CheckSetting(id->second, value, &reason) ? "accept" : "refuse") << "\n";
    }
    return 0;
}
