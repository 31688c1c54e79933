// Starts the unpacked main program as a process of its own and lets it run on.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {
constexpr size_t kMessageUnits = 1024;
}  // namespace

std::u16string CommandLinePath(const std::u16string& path) {
    // A name holds no quote, so the quotes need no escapes.
    if (path.find_first_of(u" \t") == std::u16string::npos) return path;
    return u"\"" + path + u"\"";
}

std::u16string ArgumentsOf(const std::u16string& commandLine) {
    size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == u'"') {
        at = commandLine.find(u'"', 1);
        at = at == std::u16string::npos ? commandLine.size() : at + 1;
    } else {
        at = commandLine.find_first_of(u" \t");
        if (at == std::u16string::npos) at = commandLine.size();
    }
    at = commandLine.find_first_not_of(u" \t", at);
    return at == std::u16string::npos ? std::u16string() : commandLine.substr(at);
}

std::u16string ChildCommandLine(const std::u16string& childPath, const std::u16string& arguments,
                                const std::u16string& forwarded) {
    std::u16string line = CommandLinePath(childPath);
    for (const std::u16string* part : {&arguments, &forwarded}) {
        if (!part->empty()) line += u" " + *part;
    }
    return line;
}

ChildStart PlanChildStart(const std::u16string& folderText, const LauncherSettings& settings,
                          const std::u16string& launcherCommandLine) {
    ChildStart start;
    start.path = JoinPath(folderText, settings.mainProgram);
    const bool forward = settings.forwardArguments == kSwitchOn;
    start.commandLine = ChildCommandLine(start.path, settings.arguments,
                                         forward ? ArgumentsOf(launcherCommandLine) : u"");
    // What a double-click on the program itself gives it.
    if (settings.workingFolder == kWorkingFolderApplication) start.directory = folderText;
    return start;
}

bool CreateChildProcess(const ChildStart& start, PlatformHandle pin, uint32_t* error) {
    std::u16string commandLine = start.commandLine;  // CreateProcessW may write to it
    PlatformHandle process = 0;
    PlatformHandle thread = 0;
    if (PlatformCreateProcess(start.path.c_str(), &commandLine[0],
                              start.directory.empty() ? nullptr : start.directory.c_str(), pin,
                              &process, &thread)) {
        PlatformCloseProcessHandle(process);
        PlatformCloseProcessHandle(thread);
        return true;
    }
    *error = PlatformGetLastError();
    return false;
}

void ShowStartFailure(const LauncherSettings& settings, uint32_t error) {
    // The text holds one "%d" and no other directive, and is short enough for the buffer with
    // any number (its rule).
    static_assert(FindSetting(LAUNCHER_STRING_TEXT_START_FAILED)->limit + 11 < kMessageUnits,
                  "the start-failed text and any number fit the formatted message");
    char16_t message[kMessageUnits] = {};
    PlatformFormatInteger(message, settings.textStartFailed.c_str(), static_cast<int32_t>(error));
    PlatformMessageBox(message, settings.errorCaption.c_str(), kMessageBoxError);
}
