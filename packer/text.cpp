#include "packer/text.h"

#include <cstdio>

namespace {

std::u16string Widen(const char* text) {
    std::u16string out;
    for (size_t i = 0; text[i] != 0; ++i) out += static_cast<char16_t>(text[i]);
    return out;
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; }

}  // namespace

bool Fail(std::u16string* error, const std::u16string& reason) {
    *error = reason;
    return false;
}

std::u16string Quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

std::u16string NumberText(uint64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    return Widen(digits);
}

std::u16string Counted(uint64_t count, const char16_t* one, const char16_t* many) {
    return NumberText(count) + u" " + (count == 1 ? one : many);
}

std::u16string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes < 10000) {
        std::snprintf(text, sizeof text, bytes == 1 ? "%llu byte" : "%llu bytes",
                      static_cast<unsigned long long>(bytes));
    } else if (bytes < 1000000000) {
        std::snprintf(text, sizeof text, "%.1f %s", bytes >= 1000000 ? bytes / 1e6 : bytes / 1e3,
                      bytes >= 1000000 ? "MB" : "kB");
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", bytes / 1e9);
    }
    return Widen(text);
}

bool SameIgnoringAsciiCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}
