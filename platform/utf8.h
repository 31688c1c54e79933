// UTF-16 and UTF-8, for the edges where text leaves or enters the core as bytes: the POSIX
// system calls and the developers' tools' output.
#pragma once

#include <string>

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const char16_t* text);

// Malformed or overlong-looking sequences become U+FFFD.
std::u16string Utf8ToUtf16(const char* text);
