// What the Linux platform does as Windows would, in plain functions without the system: the
// ANSI code page, the wsprintfW subset the launcher uses, a command line split into arguments,
// text comparison, and attribute bits and permissions. File times are in file_time.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// MultiByteToWideChar(CP_ACP, ...) with Windows-1252 as the ANSI code page: the terminated `text`
// into `out`, terminator included. With `outUnits` 0, the units needed; else the units written,
// or 0 when they do not fit, after the buffer has been filled with as much as fits.
int Windows1252ToWide(const char* text, char16_t* out, int outUnits);

// wsprintfW with a format whose only directive is one "%d": `value` in place of its first "%d",
// every other unit copied. At most 1023 units and the terminator are written; returns the units
// written without the terminator.
int FormatOneInteger(char16_t* buffer, const char16_t* format, int32_t value);

// The arguments of `commandLine` after the program's name: the text of `application` itself when
// the command line starts with it (it may hold blanks), else the first word. They are split as
// CommandLineToArgvW splits them: blanks and tabs separate, double quotes group (so "" is one
// empty argument), and backslashes are literal but before a quote (2n give n and the quote
// groups; 2n+1 give n and a literal quote).

std::vector<std::string> ArgumentsAfterProgram(const char16_t* application,
                                               const char16_t* commandLine);

// The argument as ArgumentsAfterProgram reads it back: as it is, or quoted when it is empty or
// holds a blank, a tab or a quote.
std::string QuotedArgument(const std::string& argument);

// Negative, 0 or positive as `a` sorts before, with or after `b`, unit by unit.
int CompareUnits(const char16_t* a, const char16_t* b);

// Windows attribute bits of what the Linux `mode` describes, a link excepted: the directory bit,
// and the read-only bit when nobody may write to it. 0 for a writable file.
uint32_t ModeAttributes(uint32_t mode);

// `attributes`, or the normal bit alone when there are none, as Windows reports them.
uint32_t NormalWhenNone(uint32_t attributes);

// The permission bits (07777) of `mode` once given the read-only attribute (nobody may write) or
// once it is taken away (the owner may write, where nobody could).
uint32_t ModeWithReadOnly(uint32_t mode, bool readOnly);

// The permission bits (07777) that a regular file with the Linux `mode` needs to be run, as
// Windows runs any program file: execute where read is allowed, when no execute bit is set.
uint32_t RunnableMode(uint32_t mode);
