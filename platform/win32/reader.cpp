// The archive reader's calls: the current directory, the ANSI code page and DOS times.
#include "platform/win32/internal.h"

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
