// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {
[[maybe_unused]] const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
[[maybe_unused]] wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
}  // namespace

// ---- Archive reader ------------------------------------------------------------------------

uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer) {
    return GetCurrentDirectoryW(bufferUnits, Wide(buffer));
}

int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, Wide(out), outUnits);
}

bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    FILETIME converted;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &converted)) return false;
    out->low = converted.dwLowDateTime;
    out->high = converted.dwHighDateTime;
    return true;
}

bool PlatformSystemTimeToFileTime(const CalendarTime* time, FileTime* out) {
    SYSTEMTIME calendar{};
    calendar.wYear = time->year;
    calendar.wMonth = time->month;
    calendar.wDay = time->day;
    calendar.wHour = time->hour;
    calendar.wMinute = time->minute;
    calendar.wSecond = time->second;
    calendar.wMilliseconds = time->millisecond;
    FILETIME converted;
    if (!SystemTimeToFileTime(&calendar, &converted)) return false;
    out->low = converted.dwLowDateTime;
    out->high = converted.dwHighDateTime;
    return true;
}

// ---- Extraction to disk --------------------------------------------------------------------

// ---- Launcher ------------------------------------------------------------------------------
