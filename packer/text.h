// Small text helpers of the packer: pieces of its messages, how a refusal is reported, and the
// ASCII case that resource and version lookups ignore.
#pragma once

#include <cstdint>
#include <string>

// The text in double quotes.
std::u16string Quoted(const std::u16string& text);

// The decimal text of a number.
std::u16string NumberText(uint64_t value);

// A count and what it counts, in the singular for one: "1 file", "3 files".
std::u16string Counted(uint64_t count, const char16_t* one, const char16_t* many);

// A byte count for people: "1 byte", "812 bytes", "3.4 MB" (10^6 bytes), "1.20 GB".
std::u16string SizeText(uint64_t bytes);

// Whether the texts are equal when ASCII letters are compared without their case.
bool SameIgnoringAsciiCase(const std::u16string& a, const std::u16string& b);

// What starts every error line the packer writes.
constexpr char16_t kErrorPrefix[] = u"launcher-pack: error: ";

// Sets `*error` to `reason` and returns false: a refusal in one statement.
bool Fail(std::u16string* error, const std::u16string& reason);
