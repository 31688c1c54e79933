// The one seam between the portable core and the operating system.
//
// Every text crossing this interface is UTF-16 (char16_t). The Win32 implementation hands it to
// the wide ("W") calls unchanged; the Linux implementation converts paths to UTF-8 and takes
// "\" as "/". The core never includes <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A Windows file time: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, low half first.
struct FileTime {
    uint32_t low;
    uint32_t high;
};

// Handles are opaque integers; -1 is never a valid one.
using PlatformHandle = intptr_t;
constexpr PlatformHandle kInvalidPlatformHandle = -1;

// Windows file attribute bits, used on every platform.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// ---- Archive reader ------------------------------------------------------------------------

// GetCurrentDirectoryW: the length without terminator when it fits, else the size needed
// including the terminator; 0 on failure.
uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer);

// MultiByteToWideChar(CP_ACP, 0, text, -1, out, outUnits): converts a terminated 8-bit text in
// the ANSI code page (Windows-1252 on Linux), terminator included. Returns the units written,
// 0 on failure (including a buffer too small, after which `out` may hold a partial text).
int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits);

// DosDateTimeToFileTime: no time-zone adjustment. False for a date or time it rejects.
bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out);

// ---- Types of the calls in the table --------------------------------------------------------

// Which file an open file is, among the files of its volume (those of one held folder share one:
// the launcher refuses a reparse point, which alone could lead to another): the same index is the
// same file, whatever its name.
struct FileIdentity {
    uint64_t index;  // the file's index on its volume; Linux: the inode
    uint32_t links;  // how many names the file has
};

// One entry of a folder listing: its name, its attribute bits (those of the entry itself: a link
// carries the reparse-point bit) and its index on the folder's volume. Linux gives the type alone,
// as the listing has it: the directory bit, the reparse-point bit for a link, else 0x80.
struct PlatformFoundEntry {
    uint32_t attributes;
    uint64_t index;
    char16_t name[260];
};

// One entry of a folder listing. A link carries the reparse-point bit; a link to a folder also
// the directory bit. The other bits, the size and the times are those of the file a link leads
// to (of the entry itself when it leads nowhere). Linux reports the directory and read-only bits
// only, and no creation time.
struct PlatformListedEntry {
    char16_t name[260];
    uint32_t attributes;
    uint64_t size;
    FileTime creationTime;
    FileTime accessTime;
    FileTime writeTime;
    bool hasCreationTime;
};

// Called for each entry of a listing; returns false to stop it.
using ListedEntryVisitor = bool (*)(const PlatformListedEntry& entry, void* context);

// Who a removal or a move acts for. An elevated launcher acts for the user it was elevated from
// on what it did not make itself: the system judges by that user's rights whether the user could
// do the same, and what the user could not is left alone.
enum class ActingFor { Launcher, User };

// What became of an entry that was to be removed.
enum class Removal {
    Done,     // the name is gone (or was never there)
    Running,  // the file of a running program, which the system never removes
    InUse,    // another process holds it without delete sharing, or an oplock break is under way
    Refused,  // the user the launcher acts for could not remove it
    Failed,   // anything else
};

// How the launcher's token stands. An elevated token with a linked one (its user's own, without
// elevation) is the case to guard: what that user could plant must not reach the elevated side.
// Elevated alone (elevation turned off, the built-in Administrator) has no such user.
enum class Elevation { None, Alone, OverUser };

// A top-level window of another process; 0 is none.
using PlatformWindow = intptr_t;

// What PlatformListWindows tells of a window, for a person who looks for one.
struct PlatformWindowFacts {
    std::u16string className;
    std::u16string title;
    std::u16string program;  // the path of the owner's program file; empty when unknown
};
using WindowVisitor = void (*)(const PlatformWindowFacts& window, void* context);

// Message box styles: an OK button with the exclamation or the stop icon.
constexpr uint32_t kMessageBoxWarning = 0x30;
constexpr uint32_t kMessageBoxError = 0x10;

#ifndef _WIN32
// The payload an executable carries on Linux. The platform holds empty weak defaults; the
// launcher's build defines them over its embedded archive, and a test may define and set them.
extern "C" const unsigned char* LauncherPayloadData;
extern "C" uint32_t LauncherPayloadSize;
#endif

// The variable through which the child's loader finds libraries, the separator of its list, and
// whether a missing or empty value becomes the folder alone (Linux) or is left alone (Windows).
#ifdef _WIN32
constexpr char16_t kSearchPathVariable[] = u"Path";
constexpr char16_t kSearchPathSeparator[] = u";";
constexpr bool kSearchPathMayStartEmpty = false;
#else
constexpr char16_t kSearchPathVariable[] = u"LD_LIBRARY_PATH";
constexpr char16_t kSearchPathSeparator[] = u":";
constexpr bool kSearchPathMayStartEmpty = true;
#endif

// ---- The table of calls -------------------------------------------------------------------

// The calls of the extraction, the launcher and the packing tool's file handling are the rows of
// platform/call_list.inc, which says what each does; this table, the names the code calls and both
// platforms' tables are all made from it. Calling PlatformCreateFile(...) calls the entry of that
// name in the table in use. The product runs with the system's own calls; a test may replace one
// entry (to make the Nth call fail, say) and put kSystemCalls back afterwards.
struct PlatformCalls {
#define PLATFORM_CALL(Result, Name, Parameters) Result(*Platform##Name) Parameters;
#include "platform/call_list.inc"
#undef PLATFORM_CALL
};

// The calls of this system (platform/win32/ or platform/linux/).
extern const PlatformCalls kSystemCalls;

// The table in use; starts as kSystemCalls.
extern PlatformCalls ActivePlatformCalls;

// PlatformCreateFile and the rest: each name stands for its entry of the table in use.
#define PLATFORM_CALL(Result, Name, Parameters) \
    inline Result(*&Platform##Name) Parameters = ActivePlatformCalls.Platform##Name;
#include "platform/call_list.inc"
#undef PLATFORM_CALL

// GetLastError; Linux: the error number of the last failed PlatformCreateProcess.
uint32_t PlatformGetLastError();

// ---- Packing tool --------------------------------------------------------------------------

// The separator the system writes between the steps of a path it shows to the user, and whether
// the system has windows that PlatformListWindows can list.
#ifdef _WIN32
constexpr char16_t kNativeSeparator = u'\\';
constexpr bool kSystemHasWindows = true;
#else
constexpr char16_t kNativeSeparator = u'/';
constexpr bool kSystemHasWindows = false;
#endif

// The whole content of a regular file, read through the table's calls. False when it cannot be
// opened or read, is no regular file or holds more than `maxBytes` bytes.
bool PlatformReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* bytes);
