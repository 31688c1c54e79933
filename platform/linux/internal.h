// What the Linux files of the platform share: paths and texts between UTF-16 and the system's
// UTF-8, file descriptors, and the file calls that more than one section makes.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/utf8.h"

// A path for the system: UTF-8, with "\" taken as "/".
inline std::string NativePath(const char16_t* path) { return Utf16ToUtf8(path, true); }

// UTF-8 to UTF-16 into `out` of `outUnits` units, terminated. Returns the units written without
// the terminator, or the units needed including the terminator when they do not fit (the
// convention of the Win32 "get" calls).
inline uint32_t FromUtf8(const char* text, char16_t* out, uint32_t outUnits) {
    const std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() + 1 > outUnits) return static_cast<uint32_t>(wide.size() + 1);
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

// $TMPDIR, else /tmp, followed by "/".
inline std::string TempFolder() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string folder =
        fromEnvironment != nullptr && *fromEnvironment != 0 ? fromEnvironment : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

constexpr mode_t kExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

inline int FileDescriptor(PlatformHandle file) { return static_cast<int>(file); }

// Runs `step` and keeps the errno of an earlier failure across it.
template <typename Step>
void KeepingErrno(Step step) {
    const int saved = errno;
    step();
    errno = saved;
}

// Creates the file `leaf` in the folder `dir` as CreateFileW's CREATE_ALWAYS does, with the
// attribute bits given (by_path.cpp). `noFollow`: a link there is refused rather than followed.
PlatformHandle CreateAt(int dir, const char* leaf, uint32_t attributes, bool noFollow);

// The attribute bits of the entry `name` in the folder `dir`, whose own status is `info`.
uint32_t AttributesOf(int dir, const char* name, const struct stat& info);

// A name of one step, for the system: false for an empty one, "." and "..", and one that holds a
// separator.
bool StepName(const char16_t* name, std::string* native);
