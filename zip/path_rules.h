// The rules for the paths the unpacking writes: separators, steps that go up, drive letters,
// device names and the fit into the 260-unit path buffers. The extractor, the unpacking driver
// and the packing tool share them, so that what one accepts the others accept too.
#pragma once

#include <cstddef>
#include <string>

// The path buffers of the file and folder calls: at most 259 units and the terminator.
constexpr size_t kPathUnits = 260;

// "/" and "\" both separate the steps of a path.
bool IsSeparator(char16_t c);

// Units before the terminator.
size_t TextLength(const char16_t* text);

// Index of the last separator among the first `length` units, or -1.
long LastSeparator(const char16_t* text, size_t length);

// A step made of dots and blanks only, with at least two dots: "..", and also the forms such as
// "..." or ".. " that Windows trims back to "..".
bool IsParentStep(const char16_t* step, size_t length);

// Whether one of the path's steps goes up a folder.
bool HasParentStep(const char16_t* path);

// A step that Windows opens as a device instead of a file: CON, PRN, AUX, NUL, COM0-COM9,
// LPT0-LPT9 (the digits 1-3 also as superscripts), CONIN$ and CONOUT$, in any case, also with an
// extension and with trailing dots or blanks ("nul.txt", "COM1 ", "aux..").
bool IsDeviceStep(const char16_t* step, size_t length);

// The first unit of a step that Windows does not allow in a name (a control character or one of
// < > " | ? *), or 0. Separators and ":" are the callers' to judge.
char16_t ForbiddenNameCharacter(const char16_t* step, size_t length);

// Whether the text holds a surrogate without its partner: no valid Unicode, and no name that
// converts to UTF-8 and back unchanged.
bool HasUnpairedSurrogate(const char16_t* text, size_t length);

// True when an entry name stays inside the folder it is unpacked into and names files there: not
// absolute, no drive letter or other ":", no step that goes up and no device name in any step.
bool IsSafeEntryName(const char16_t* name);

// Whether `base` followed by `rest` fits a path buffer with its terminator.
bool FitsPathBuffer(const char16_t* base, const char16_t* rest);

// A relative path in the one form that records of written files and made folders keep: its steps
// separated by one "\\", empty and "." steps dropped ("./a//b/" is "a\\b").
std::u16string NormalizedPath(const char16_t* path);
