#include "packer/pack_report.h"

#include "packer/command_line.h"
#include "packer/text.h"
#include "platform/platform.h"

namespace {

// The text padded with blanks to `units`, for a column.
std::u16string Padded(std::u16string text, size_t units) {
    if (text.size() < units) text.append(units - text.size(), u' ');
    return text;
}

void CollectWindow(const PlatformWindowFacts& window, void* context) {
    static_cast<std::vector<PlatformWindowFacts>*>(context)->push_back(window);
}

}  // namespace

std::u16string DryRunReport(const LauncherSettings& settings,
                            const std::vector<std::pair<std::u16string, std::u16string>>& version,
                            const PayloadFacts& payload) {
    const std::u16string folder = u"%TEMP%\\" + settings.folderName;
    std::u16string report = u"Dry run: nothing was written. The launcher would use:\n";
    for (const SettingField& field : kSettingFields) {
        report += u"  " + Padded(field.option, 22) + u" " + Quoted(settings.*field.member) + u"\n";
    }
    report += u"It would unpack " + Counted(payload.files, u"file", u"files") + u" and " +
              Counted(payload.folders, u"folder", u"folders") + u", " + SizeText(payload.bytes) +
              u", into " + folder + u" and start " + folder + u"\\" + settings.mainProgram + u".\n";
    if (!version.empty()) report += u"Its version record:\n";
    for (const auto& text : version) {
        report += u"  " + Padded(text.first, 22) + u" " + Quoted(text.second) + u"\n";
    }
    return report;
}

int ListWindowsReport(const PackConsole& console) {
    const auto say = [&](bool toError, const std::u16string& text) {
        console.write(toError, text, console.context);
    };
    if (!kSystemHasWindows) {
        say(true, std::u16string(kErrorPrefix) +
                      u"--list-windows lists the windows of a Windows session: run "
                      u"launcher-pack.exe --list-windows on Windows, with the application "
                      u"started\n");
        return kPackRefused;
    }
    std::vector<PlatformWindowFacts> windows;
    if (!PlatformListWindows(CollectWindow, &windows)) {
        say(true, std::u16string(kErrorPrefix) + u"cannot list the windows: " +
                      PlatformLastErrorText() + u"\n");
        return kPackWriteFailed;
    }
    say(false, u"The visible top-level windows (" + Counted(windows.size(), u"window", u"windows") +
                   u"), each with its program and the options that find it:\n");
    for (const PlatformWindowFacts& window : windows) {
        say(false, u"\n" + (window.program.empty() ? u"(program unknown)" : window.program) +
                       u"\n  --window-class " + Quoted(window.className) + u" --window-title " +
                       Quoted(window.title) + u"\n");
    }
    return kPackDone;
}
