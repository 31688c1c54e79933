#include "platform/utf8.h"

#include <cstring>

namespace {

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// One code point as UTF-16: one unit, or a surrogate pair. Returns the number of units.
size_t EncodeUtf16(uint32_t c, char16_t units[2]) {
    if (c < 0x10000) {
        units[0] = static_cast<char16_t>(c);
        return 1;
    }
    units[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    return 2;
}

}  // namespace

size_t DecodeUtf8Step(const uint8_t* bytes, size_t available, uint32_t* codePoint) {
    if (available == 0) return 0;
    const uint8_t lead = bytes[0];
    size_t length = 0;
    uint32_t c = 0;
    uint32_t smallest = 0;  // below it the code point has a shorter form
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        c = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        c = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (length > available) return 0;
    for (size_t i = 1; i < length; ++i) {
        if (!IsContinuation(bytes[i])) return 0;
        c = (c << 6) | (bytes[i] & 0x3F);
    }
    if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *codePoint = c;
    return length;
}

bool Utf8ToUtf16Strict(const uint8_t* bytes, size_t length, char16_t* out, size_t outUnits) {
    if (outUnits == 0) return false;
    size_t at = 0;
    for (size_t i = 0; i < length;) {
        uint32_t c = 0;
        char16_t units[2];
        const size_t step = DecodeUtf8Step(bytes + i, length - i, &c);
        const size_t count = step == 0 ? 0 : EncodeUtf16(c, units);
        if (step == 0 || at + count >= outUnits) {
            out[0] = 0;
            return false;
        }
        for (size_t k = 0; k < count; ++k) out[at++] = units[k];
        i += step;
    }
    out[at] = 0;
    return true;
}

std::string Utf16ToUtf8(const char16_t* text, bool backslashAsSlash) {
    size_t units = 0;
    while (text[units] != 0) ++units;
    // One pass into room for the longest form: at most three bytes per unit (a surrogate pair
    // takes four for its two units).
    std::string out(units * 3, '\0');
    char* at = &out[0];
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = text[i];
        if (c < 0x80) {
            *at++ = static_cast<char>(backslashAsSlash && c == u'\\' ? u'/' : c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *at++ = static_cast<char>(0xC0 | (c >> 6));
        } else {
            if (c < 0x10000) {
                *at++ = static_cast<char>(0xE0 | (c >> 12));
            } else {
                *at++ = static_cast<char>(0xF0 | (c >> 18));
                *at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            }
            *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        *at++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    out.resize(static_cast<size_t>(at - out.data()));
    return out;
}

std::u16string Utf8ToUtf16(const char* text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    const size_t length = std::strlen(text);
    std::u16string wide;
    for (size_t i = 0; i < length;) {
        uint32_t c = 0xFFFD;  // kept when no sequence starts here
        char16_t units[2];
        const size_t step = DecodeUtf8Step(bytes + i, length - i, &c);
        wide.append(units, EncodeUtf16(c, units));
        i += step == 0 ? 1 : step;
    }
    return wide;
}
