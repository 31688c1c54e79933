#include "platform/windows_emulation.h"

#include <cstring>

#include "platform/utf8.h"

namespace {

// Windows-1252 for 0x80-0x9F; the five bytes it leaves undefined map to the same code points,
// as Windows and Wine map them. Every other byte is its own code point.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr uint32_t kReadBits = 0444;
constexpr uint32_t kWriteBits = 0222;
constexpr uint32_t kExecuteBits = 0111;
constexpr uint32_t kOwnerWrite = 0200;
constexpr uint32_t kTypeBits = 0170000;
constexpr uint32_t kDirectoryType = 0040000;

// CommandLineToArgvW's rules: blanks and tabs separate, double quotes group; backslashes are
// literal but before a quote, where each pair gives one and an odd one makes the quote literal.
std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> arguments;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i == text.size()) break;
        std::string argument;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            size_t backslashes = 0;
            for (; i < text.size() && text[i] == '\\'; ++i) ++backslashes;
            if (i < text.size() && text[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, '\\');
                if (backslashes == 0) argument += text[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

}  // namespace

int Windows1252ToWide(const char* text, char16_t* out, int outUnits) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t needed = std::strlen(text) + 1;
    if (outUnits == 0) return static_cast<int>(needed);
    for (size_t i = 0; i < needed && i < static_cast<size_t>(outUnits); ++i) {
        const unsigned char c = bytes[i];
        out[i] = c >= 0x80 && c <= 0x9F ? kWindows1252High[c - 0x80] : c;
    }
    return needed <= static_cast<size_t>(outUnits) ? static_cast<int>(needed) : 0;
}

int FormatOneInteger(char16_t* buffer, const char16_t* format, int32_t value) {
    constexpr int kLimit = 1023;  // wsprintfW writes at most 1024 units with the terminator
    const std::string number = std::to_string(value);
    int written = 0;
    bool substituted = false;
    for (size_t i = 0; format[i] != 0 && written < kLimit; ++i) {
        if (!substituted && format[i] == u'%' && format[i + 1] == u'd') {
            for (size_t k = 0; k < number.size() && written < kLimit; ++k) {
                buffer[written++] = static_cast<char16_t>(number[k]);
            }
            substituted = true;
            ++i;
        } else {
            buffer[written++] = format[i];
        }
    }
    buffer[written] = 0;
    return written;
}

std::vector<std::string> ArgumentsAfterProgram(const char16_t* application,
                                               const char16_t* commandLine) {
    size_t skip = 0;
    while (application[skip] != 0 && commandLine[skip] == application[skip]) ++skip;
    const bool startsWithApplication = application[skip] == 0;
    std::vector<std::string> arguments =
        SplitArguments(Utf16ToUtf8(commandLine + (startsWithApplication ? skip : 0)));
    if (!startsWithApplication && !arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}

std::string QuotedArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote, and before the closing one, are doubled.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

int CompareUnits(const char16_t* a, const char16_t* b) {
    size_t i = 0;
    while (a[i] != 0 && a[i] == b[i]) ++i;
    return static_cast<int>(a[i]) - static_cast<int>(b[i]);
}

uint32_t RunnableMode(uint32_t mode) {
    const uint32_t permissions = mode & 07777;
    if ((mode & kExecuteBits) != 0) return permissions;
    return permissions | ((mode & kReadBits) >> 2);
}

uint32_t ModeAttributes(uint32_t mode) {
    uint32_t attributes = (mode & kTypeBits) == kDirectoryType ? kAttributeDirectory : 0;
    if ((mode & kWriteBits) == 0) attributes |= kAttributeReadOnly;
    return attributes;
}

uint32_t NormalWhenNone(uint32_t attributes) {
    return attributes == 0 ? kAttributeNormal : attributes;
}

uint32_t ModeWithReadOnly(uint32_t mode, bool readOnly) {
    const uint32_t permissions = mode & 07777;
    if (readOnly) return permissions & ~kWriteBits;
    return (permissions & kWriteBits) == 0 ? permissions | kOwnerWrite : permissions;
}
