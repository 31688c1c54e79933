// The archive reader's calls: the current directory, the ANSI code page and DOS times.
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/file_time.h"
#include "platform/linux/internal.h"
#include "platform/windows_emulation.h"

uint32_t PlatformGetCurrentDirectory(uint32_t bufferUnits, char16_t* buffer) {
    std::vector<char> path(256);
    while (getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE) return 0;
        path.resize(path.size() * 2);
    }
    return FromUtf8(path.data(), buffer, bufferUnits);
}

int PlatformAnsiToWide(const char* text, char16_t* out, int outUnits) {
    return Windows1252ToWide(text, out, outUnits);
}

bool PlatformDosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
    return DosDateTimeToFileTimeUtc(dosDate, dosTime, out);
}
