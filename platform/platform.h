// The one seam between the portable core and the operating system.
//
// Every text crossing this interface is UTF-16 (char16_t). The Win32 implementation hands it to
// the wide ("W") calls unchanged; the POSIX implementation converts paths to UTF-8 and takes
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

// A calendar time read as UTC.
struct CalendarTime {
    uint16_t year;
    uint16_t month;  // 1-12
    uint16_t day;    // 1-31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t millisecond;
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
// the ANSI code page (Windows-1252 on POSIX), terminator included. Returns the units written,
// 0 on failure (including a buffer too small, after which `out` may hold a partial text).
int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits);

// DosDateTimeToFileTime: no time-zone adjustment. False for a date or time it rejects.
bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out);

// SystemTimeToFileTime: the calendar time read as UTC. False for a time it rejects.
bool PlatformSystemTimeToFileTime(const CalendarTime* time, FileTime* out);

// ---- Extraction to disk --------------------------------------------------------------------

// A folder that this process holds open (PlatformHoldFolder), or kNoFolder. The calls below that
// take one resolve `path` relative to it without following any link, on POSIX step by step; with
// kNoFolder `path` is resolved as the system resolves it (relative to the current directory).
constexpr PlatformHandle kNoFolder = kInvalidPlatformHandle;

// CreateFileW(path, GENERIC_WRITE, share mode 0, no security, CREATE_ALWAYS, attributes, none).
// POSIX: read-only means no write permission bits; hidden, system and archive are dropped; an
// existing file without write permission is refused, as Windows refuses a read-only one.
// Returns kInvalidPlatformHandle on failure.
PlatformHandle PlatformCreateFile(PlatformHandle folder, const char16_t* path, uint32_t attributes);

// WriteFile of `size` bytes; true on success.
bool PlatformWriteFile(PlatformHandle file, const void* data, uint32_t size);

// GetFileType(file) == FILE_TYPE_DISK; on POSIX a regular file.
bool PlatformIsDiskFile(PlatformHandle file);

// SetFileTime. POSIX sets the last-access and last-write times; there is no creation time.
bool PlatformSetFileTimes(PlatformHandle file, const FileTime* creation, const FileTime* access,
                          const FileTime* write);

// CloseHandle.
void PlatformCloseFile(PlatformHandle file);

// CreateDirectoryW(path, default security): creates the last folder of the path. Inside a held
// folder it inherits that folder's protection.
bool PlatformCreateDirectory(PlatformHandle folder, const char16_t* path);

// DeleteFileW: removes a file, or a link to a file without touching its target; never a folder.
bool PlatformDeleteFile(PlatformHandle folder, const char16_t* path);

// GetFileAttributesW / SetFileAttributesW. kInvalidAttributes when the path cannot be read.
// POSIX reports the directory bit, the read-only bit (no write permission bits), the reparse-point
// bit for a symbolic link (with the directory bit when it leads to a folder) and otherwise 0x80.
uint32_t PlatformGetFileAttributes(PlatformHandle folder, const char16_t* path);
bool PlatformSetFileAttributes(PlatformHandle folder, const char16_t* path, uint32_t attributes);

// ---- Launcher ------------------------------------------------------------------------------

// A top-level window of another process; 0 is none.
using PlatformWindow = intptr_t;

// FindWindowW(className, title): a top-level window whose class and title both match, else 0.
// POSIX has no such windows and always answers 0.
PlatformWindow PlatformFindWindow(const char16_t* className, const char16_t* title);

// SetForegroundWindow; its result is of no use to the caller.
void PlatformSetForegroundWindow(PlatformWindow window);

// Message box styles: an OK button with the exclamation or the stop icon.
constexpr uint32_t kMessageBoxWarning = 0x30;
constexpr uint32_t kMessageBoxError = 0x10;

// MessageBoxW(no owner, text, caption, style); returns once the user has closed the box.
// POSIX writes the caption, ": ", the text and a line break to standard error.
void PlatformMessageBox(const char16_t* text, const char16_t* caption, uint32_t style);

// wsprintfW(buffer, format, value) for a format whose one directive is "%d" (signed decimal).
// The buffer holds 1024 units, the most wsprintfW ever writes. Returns the units written.
int PlatformFormatInteger(char16_t* buffer, const char16_t* format, int32_t value);

// GetTempPathW: the user's temporary directory with its closing separator. Returns its length
// without terminator, the size needed including the terminator when it does not fit, 0 on
// failure. POSIX: TMPDIR when set and not empty, else "/tmp/"; a missing closing "/" is added.
uint32_t PlatformGetTempPath(uint32_t bufferUnits, char16_t* buffer);

// FindResourceW(own module, id, type), SizeofResource, LoadResource, LockResource: the bytes of
// one of the program's own resources, left where they lie. False when the resource is missing,
// empty, or cannot be loaded or locked. POSIX has one resource whatever the id and type: the
// payload that the executable carries (below).
bool PlatformFindResource(uint16_t id, const char16_t* type, const void** data, uint32_t* size);

#ifndef _WIN32
// The payload an executable carries on POSIX. The platform holds empty weak defaults; the
// launcher's build defines them over its embedded archive, and a test may define and set them.
extern "C" const unsigned char* LauncherPayloadData;
extern "C" uint32_t LauncherPayloadSize;
#endif

// CreateDirectoryW(path) with the protection of PlatformProtectFolder from the start, so that
// there is no moment in which others may change the new folder. POSIX: mode 0755.
bool PlatformCreateProtectedFolder(const char16_t* path);

// Opens the folder at `path` (inside `folder`, or kNoFolder) and holds it until released: while
// held it cannot be renamed, deleted or replaced, on Windows because it is open without
// FILE_SHARE_DELETE (read and write stay shared). kInvalidPlatformHandle when it is missing, is
// not a folder, is a link or other reparse point, or another process holds it with delete access.
PlatformHandle PlatformHoldFolder(PlatformHandle folder, const char16_t* path);

// Makes a held folder the launcher's own: owner BUILTIN\Administrators and a protected DACL with
// full control for Administrators and SYSTEM and read and execute, inherited by what is created
// inside, for the user; nothing below it is changed. POSIX: owned by the running user, mode 0755.
bool PlatformProtectFolder(PlatformHandle folder);

// Closes a held folder.
void PlatformReleaseFolder(PlatformHandle folder);

// One entry of a folder enumeration: its name and attribute bits, those of the entry itself (a
// link carries the reparse-point bit, with the directory bit when it leads to a folder). POSIX
// gives the type alone, as the listing has it: the directory bit, the reparse-point bit, else
// 0x80; never the read-only bit, which costs a call per entry to learn and keeps no file from
// being deleted there.
struct PlatformFoundEntry {
    uint32_t attributes;
    char16_t name[260];
};

// FindFirstFileW / FindNextFileW / FindClose over a held folder, "." and ".." included.
// PlatformNextEntry gives 1 for an entry, 0 at the end, -1 when the enumeration failed.
PlatformHandle PlatformOpenSearch(PlatformHandle folder);
int PlatformNextEntry(PlatformHandle search, PlatformFoundEntry* found);
void PlatformCloseSearch(PlatformHandle search);

// lstrcmpW: 0 when the two texts are equal.
int PlatformCompareText(const char16_t* a, const char16_t* b);

// Compares two file names as the file system does: negative, 0 (the same file name) or positive.
// Windows ignores case (CompareStringOrdinal); POSIX compares unit by unit.
int PlatformCompareFileNames(const char16_t* a, const char16_t* b);

// File names in the order of the file system's comparison, so that one name matches its file
// however the case differs where the file system ignores case.
struct FileNameOrder {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return PlatformCompareFileNames(a.c_str(), b.c_str()) < 0;
    }
};

// RemoveDirectoryW: removes an empty folder, or a link to a folder without touching its target.
// POSIX removes a symbolic link with unlink and a folder with rmdir.
bool PlatformRemoveDirectory(PlatformHandle folder, const char16_t* path);

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): the libraries the launcher itself loads
// later come from the system folder only, never from the folder it was started from. Processes it
// starts do not inherit this. POSIX: nothing to do.
void PlatformLimitLibrarySearch();

// The variable through which the child's loader finds libraries, the separator of its list, and
// whether a missing or empty value becomes the folder alone (POSIX) or is left alone (Windows).
#ifdef _WIN32
constexpr char16_t kSearchPathVariable[] = u"Path";
constexpr char16_t kSearchPathSeparator[] = u";";
constexpr bool kSearchPathMayStartEmpty = false;
#else
constexpr char16_t kSearchPathVariable[] = u"LD_LIBRARY_PATH";
constexpr char16_t kSearchPathSeparator[] = u":";
constexpr bool kSearchPathMayStartEmpty = true;
#endif

// GetEnvironmentVariableW(name, buffer, bufferUnits): with no buffer and size 0, the size of the
// value including its terminator, 0 when the variable is missing; with a buffer, the length
// copied without terminator (0 for an empty value), or the size needed when it does not fit.
uint32_t PlatformGetEnvironmentVariable(const char16_t* name, char16_t* buffer,
                                        uint32_t bufferUnits);

// SetEnvironmentVariableW in the launcher's own environment, which children inherit. POSIX
// takes "\" in the value as "/", as in paths.
bool PlatformSetEnvironmentVariable(const char16_t* name, const char16_t* value);

// CreateProcessW(application, commandLine, no security attributes, no handle inheritance,
// creation flags 0, the launcher's environment and current directory, a zeroed start-up record).
// On success both handles are filled; on failure PlatformGetLastError tells why. POSIX spawns the
// application with the arguments that follow the application at the start of the command line
// (blank-separated, double quotes grouping), with argv[0] the application, and does not wait; a
// program file without execute permission is given it first.
bool PlatformCreateProcess(const char16_t* application, char16_t* commandLine,
                           PlatformHandle* process, PlatformHandle* thread);

// CloseHandle on a process or thread handle. POSIX has nothing to release.
void PlatformCloseProcessHandle(PlatformHandle handle);

// ---- The table of calls -------------------------------------------------------------------

// Every call of the two sections above goes through this table: the functions declared there pass
// their arguments on to its entries. The product runs with the system's own calls; a test may
// replace one entry (to make the Nth call fail, say) and put kSystemCalls back afterwards.
struct PlatformCalls {
    PlatformHandle (*createFile)(PlatformHandle folder, const char16_t* path, uint32_t attributes);
    bool (*writeFile)(PlatformHandle file, const void* data, uint32_t size);
    bool (*isDiskFile)(PlatformHandle file);
    bool (*setFileTimes)(PlatformHandle file, const FileTime* creation, const FileTime* access,
                         const FileTime* write);
    void (*closeFile)(PlatformHandle file);
    bool (*createDirectory)(PlatformHandle folder, const char16_t* path);
    bool (*deleteFile)(PlatformHandle folder, const char16_t* path);
    uint32_t (*getFileAttributes)(PlatformHandle folder, const char16_t* path);
    bool (*setFileAttributes)(PlatformHandle folder, const char16_t* path, uint32_t attributes);
    PlatformWindow (*findWindow)(const char16_t* className, const char16_t* title);
    void (*setForegroundWindow)(PlatformWindow window);
    void (*messageBox)(const char16_t* text, const char16_t* caption, uint32_t style);
    int (*formatInteger)(char16_t* buffer, const char16_t* format, int32_t value);
    uint32_t (*getTempPath)(uint32_t bufferUnits, char16_t* buffer);
    bool (*findResource)(uint16_t id, const char16_t* type, const void** data, uint32_t* size);
    bool (*createProtectedFolder)(const char16_t* path);
    PlatformHandle (*holdFolder)(PlatformHandle folder, const char16_t* path);
    bool (*protectFolder)(PlatformHandle folder);
    void (*releaseFolder)(PlatformHandle folder);
    PlatformHandle (*openSearch)(PlatformHandle folder);
    int (*nextEntry)(PlatformHandle search, PlatformFoundEntry* found);
    void (*closeSearch)(PlatformHandle search);
    int (*compareText)(const char16_t* a, const char16_t* b);
    int (*compareFileNames)(const char16_t* a, const char16_t* b);
    bool (*removeDirectory)(PlatformHandle folder, const char16_t* path);
    void (*limitLibrarySearch)();
    uint32_t (*getEnvironmentVariable)(const char16_t* name, char16_t* buffer,
                                       uint32_t bufferUnits);
    bool (*setEnvironmentVariable)(const char16_t* name, const char16_t* value);
    bool (*createProcess)(const char16_t* application, char16_t* commandLine,
                          PlatformHandle* process, PlatformHandle* thread);
    void (*closeProcessHandle)(PlatformHandle handle);
};

// The calls of this system (platform_win32.cpp or platform_posix.cpp).
extern const PlatformCalls kSystemCalls;

// The table in use; starts as kSystemCalls.
extern PlatformCalls ActivePlatformCalls;

// GetLastError; POSIX: the error number of the last failed PlatformCreateProcess.
uint32_t PlatformGetLastError();

// ---- Packing tool --------------------------------------------------------------------------

// The separator the system writes between the steps of a path it shows to the user.
#ifdef _WIN32
constexpr char16_t kNativeSeparator = u'\\';
#else
constexpr char16_t kNativeSeparator = u'/';
#endif

// One entry of a folder listing. A link carries the reparse-point bit; a link to a folder also
// the directory bit. The other bits, the size and the times are those of the file a link leads
// to (of the entry itself when it leads nowhere). POSIX reports the directory and read-only bits
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

// Calls `visit` for every entry of the folder but "." and "..", in the system's order, until it
// returns false. False when the folder cannot be listed (POSIX: also when a name in it is not
// UTF-8, which no path could name again).
using ListedEntryVisitor = bool (*)(const PlatformListedEntry& entry, void* context);
bool PlatformListFolder(const char16_t* folder, ListedEntryVisitor visit, void* context);

// The whole content of a regular file. False when it cannot be opened or read, is no regular file
// or holds more than `maxBytes` bytes.
bool PlatformReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* bytes);

// Whether both paths exist and name the same file, however they are spelt (hard links included).
bool PlatformSameFile(const char16_t* a, const char16_t* b);

// Creates a new empty file beside `path` (in its folder, under a name made from it) for
// PlatformWriteFile; `created` receives its path. kInvalidPlatformHandle on failure.
PlatformHandle PlatformCreateFileBeside(const char16_t* path, std::u16string* created);

// Writes the file's data through to the disk and closes it; false when either fails.
bool PlatformFinishFile(PlatformHandle file);

// Renames `from` to `to` in one step, replacing a file at `to`.
bool PlatformReplaceFile(const char16_t* from, const char16_t* to);

// What the system said about the failure of the last call of this section, for the user.
std::u16string PlatformLastErrorText();

// Writes text to standard output or standard error: a console gets UTF-16, anything else UTF-8.
void PlatformWriteStream(bool toError, const char16_t* text);
