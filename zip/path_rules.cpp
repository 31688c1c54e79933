#include "zip/path_rules.h"

#include <initializer_list>

namespace {

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; }

// Whether the first `length` units of `text` spell `name` (upper-case ASCII) in any case.
bool SpellsIgnoringCase(const char16_t* text, size_t length, const char* name) {
    size_t i = 0;
    for (; i < length && name[i] != 0; ++i) {
        if (AsciiUpper(text[i]) != static_cast<char16_t>(name[i])) return false;
    }
    return i == length && name[i] == 0;
}

// The digits after COM and LPT: 0-9, and the superscripts one, two and three.
bool IsPortDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

}  // namespace

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

size_t TextLength(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

long LastSeparator(const char16_t* text, size_t length) {
    for (size_t i = length; i > 0; --i) {
        if (IsSeparator(text[i - 1])) return static_cast<long>(i - 1);
    }
    return -1;
}

bool IsParentStep(const char16_t* step, size_t length) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (step[i] == u'.') {
            ++dots;
        } else if (step[i] != u' ') {
            return false;
        }
    }
    return dots >= 2;
}

bool HasParentStep(const char16_t* path) {
    size_t stepStart = 0;
    for (size_t i = 0;; ++i) {
        if (path[i] == 0 || IsSeparator(path[i])) {
            if (IsParentStep(path + stepStart, i - stepStart)) return true;
            if (path[i] == 0) return false;
            stepStart = i + 1;
        }
    }
}

bool IsDeviceStep(const char16_t* step, size_t length) {
    // Windows looks at the name before its first dot, without trailing dots and blanks.
    size_t base = 0;
    while (base < length && step[base] != u'.') ++base;
    while (base > 0 && step[base - 1] == u' ') --base;
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (SpellsIgnoringCase(step, base, device)) return true;
    }
    return base == 4 &&
           (SpellsIgnoringCase(step, 3, "COM") || SpellsIgnoringCase(step, 3, "LPT")) &&
           IsPortDigit(step[3]);
}

char16_t ForbiddenNameCharacter(const char16_t* step, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const char16_t c = step[i];
        if (c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' ||
            c == u'*') {
            return c;
        }
    }
    return 0;
}

bool HasUnpairedSurrogate(const char16_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

bool IsSafeEntryName(const char16_t* name) {
    if (IsSeparator(name[0])) return false;
    size_t stepStart = 0;
    for (size_t i = 0;; ++i) {
        if (name[i] == u':') return false;
        if (name[i] == 0 || IsSeparator(name[i])) {
            const size_t length = i - stepStart;
            if (IsParentStep(name + stepStart, length) || IsDeviceStep(name + stepStart, length)) {
                return false;
            }
            if (name[i] == 0) return true;
            stepStart = i + 1;
        }
    }
}

bool FitsPathBuffer(const char16_t* base, const char16_t* rest) {
    return TextLength(base) + TextLength(rest) < kPathUnits;
}

std::u16string NormalizedPath(const char16_t* path) {
    std::u16string normal;
    for (size_t start = 0;;) {
        size_t end = start;
        while (path[end] != 0 && !IsSeparator(path[end])) ++end;
        const bool dot = end - start == 1 && path[start] == u'.';
        if (end > start && !dot) {
            if (!normal.empty()) normal += u'\\';
            normal.append(path + start, end - start);
        }
        if (path[end] == 0) return normal;
        start = end + 1;
    }
}
