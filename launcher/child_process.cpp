// Starts the unpacked main program as a process of its own and lets it run on.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {
constexpr size_t kMessageUnits = 1024;
}  // namespace

std::u16string ChildCommandLine(const std::u16string& childPath) {
    // The application name is passed separately and names the file exactly; the path stays
    // unquoted here even when it holds blanks.
    return childPath + u" \"\"";
}

bool CreateChildProcess(const std::u16string& childPath, PlatformHandle pin, uint32_t* error) {
    std::u16string commandLine = ChildCommandLine(childPath);  // CreateProcessW may write to it
    PlatformHandle process = 0;
    PlatformHandle thread = 0;
    if (PlatformCreateProcess(childPath.c_str(), &commandLine[0], nullptr, pin, &process,
                              &thread)) {
        PlatformCloseProcessHandle(process);
        PlatformCloseProcessHandle(thread);
        return true;
    }
    *error = PlatformGetLastError();
    return false;
}

void ShowStartFailure(const LauncherSettings& settings, uint32_t error) {
    // The text holds one "%d" and no other directive, and is short enough for the buffer with
    // any number (CheckSetting).
    char16_t message[kMessageUnits] = {};
    PlatformFormatInteger(message, settings.textStartFailed.c_str(), static_cast<int32_t>(error));
    PlatformMessageBox(message, settings.errorCaption.c_str(), kMessageBoxError);
}
