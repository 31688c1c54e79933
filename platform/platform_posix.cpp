// POSIX implementation of the platform seam. Paths arrive as UTF-16 and are handed to the system
// as UTF-8, with "\" taken as "/".
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

// UTF-16 to UTF-8; "\" becomes "/" when `isPath`. Unpaired surrogates become U+FFFD.
std::string ToUtf8(const char16_t* text, bool isPath) {
    std::string out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (isPath && c == '\\') c = '/';
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

[[maybe_unused]] std::string NativePath(const char16_t* path) { return ToUtf8(path, true); }

// UTF-8 to UTF-16 into `out` of `outUnits` units, terminated. Returns the units written without
// the terminator, or the units needed including the terminator when they do not fit (the
// convention of the Win32 "get" calls). Malformed bytes become U+FFFD.
[[maybe_unused]] uint32_t FromUtf8(const char* text, char16_t* out, uint32_t outUnits) {
    std::u16string wide;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; s[i] != 0;) {
        uint32_t c = s[i];
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0) {
            wide += u'\uFFFD';
            ++i;
            continue;
        }
        c &= extra == 0 ? 0x7F : (0x3F >> extra);
        int k = 1;
        for (; k <= extra && (s[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (s[i + k] & 0x3F);
        i += static_cast<size_t>(k);
        if (k <= extra || c > 0x10FFFF) {
            wide += u'\uFFFD';
        } else if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
    }
    if (wide.size() + 1 > outUnits) return static_cast<uint32_t>(wide.size() + 1);
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

}  // namespace

// ---- Archive reader ------------------------------------------------------------------------



// ---- Extraction to disk --------------------------------------------------------------------



// ---- Launcher ------------------------------------------------------------------------------


