// UTF-16 and UTF-8: the strict decoding that entry names declared as UTF-8 must pass, and the
// lenient conversions for the edges where text leaves or enters the core as bytes (the Linux
// system calls and the developers' tools' output). Both decodings share one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes the one sequence at the start of `bytes` (of which `available` may be read). Returns
// its length in bytes with the code point in `codePoint`, or 0 when it is not well-formed UTF-8:
// a stray continuation byte, a lead byte no sequence starts with, a truncated sequence, a longer
// form than the code point needs (C0 AF for "/"), a surrogate, or a code point above U+10FFFF.
size_t DecodeUtf8Step(const uint8_t* bytes, size_t available, uint32_t* codePoint);

// Converts exactly `length` bytes of well-formed UTF-8 into `out`, terminated, in at most
// `outUnits` units with the terminator. False when any sequence is malformed or the text does not
// fit; `out` then holds the empty text, never a part of the text.
bool Utf8ToUtf16Strict(const uint8_t* bytes, size_t length, char16_t* out, size_t outUnits);

// Unpaired surrogates become U+FFFD. With `backslashAsSlash` every "\\" becomes "/" on the way,
// as the Linux calls take paths.
std::string Utf16ToUtf8(const char16_t* text, bool backslashAsSlash = false);

// Each byte at which no well-formed sequence starts becomes U+FFFD.
std::u16string Utf8ToUtf16(const char* text);
