// The launch: a running copy is only brought to the front; otherwise, one launcher at a time, the
// payload is unpacked into a new folder and its main program started.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {

// What the user is told once the launcher has let go of everything.
enum class Outcome { Started, AlreadyOpen, NotStarted, StartFailed };

// Brings the application's window to the front when it has one. An empty class or title is not
// matched (the settings never leave both empty).
bool BringWindowForward(const LauncherSettings& settings) {
    const auto matched = [](const std::u16string& text) {
        return text.empty() ? nullptr : text.c_str();
    };
    const PlatformWindow running =
        PlatformFindWindow(matched(settings.windowClass), matched(settings.windowTitle));
    if (running != 0) PlatformSetForegroundWindow(running);
    return running != 0;
}

// Unpacks and starts, holding the launchers' lock. `waited`: another launcher worked first, so an
// application found running is the one it started.
Outcome Launch(const LauncherSettings& settings, bool waited, uint32_t* error) {
    // The other launcher started the application meanwhile.
    if (waited && BringWindowForward(settings)) return Outcome::AlreadyOpen;
    ProgressWindow progress = StartProgress(settings);
    ExtractedPayload payload = ExtractPayload(settings, &progress);
    Outcome outcome = Outcome::NotStarted;
    if (payload.state == PayloadState::Ready) {
        PrependToPath(payload.folderText);
        // The folder, and the main program in it, stay held until the child has started; from
        // then on the child holds the folder in place for as long as it runs.
        const ChildStart start =
            PlanChildStart(payload.folderText, settings, PlatformGetCommandLine());
        const PlatformHandle pin = PlatformPinFolder(payload.fresh.folder);
        if (pin != kInvalidPlatformHandle) {
            outcome =
                CreateChildProcess(start, pin, error) ? Outcome::Started : Outcome::StartFailed;
            PlatformCloseFile(pin);
        }
    } else if (payload.state == PayloadState::ApplicationRunning && waited) {
        BringWindowForward(settings);
        outcome = Outcome::AlreadyOpen;
    }
    // The child has started, or a box comes.
    EndProgress(&progress);
    FinishExtraction(&payload, settings);
    return outcome;
}

}  // namespace

int RunLauncher() {
    const LauncherSettings settings = LoadLauncherSettings();
    if (BringWindowForward(settings)) {
        PlatformMessageBox(settings.textRunning.c_str(), settings.caption.c_str(),
                           kMessageBoxWarning);
        return 0;
    }
    // Another launcher at work is waited for; nothing of the folder is touched meanwhile.
    const LauncherLock lock = AcquireLauncherLock(settings);
    uint32_t error = 0;
    const Outcome outcome = lock.handle != kInvalidPlatformHandle
                                ? Launch(settings, lock.waited, &error)
                                : Outcome::NotStarted;
    // Released before any box, which may stay open for long: the next launcher need not wait.
    ReleaseLauncherLock(lock);
    switch (outcome) {
        case Outcome::Started:
            break;
        case Outcome::AlreadyOpen:
            PlatformMessageBox(settings.textRunning.c_str(), settings.caption.c_str(),
                               kMessageBoxWarning);
            break;
        case Outcome::NotStarted:
            PlatformMessageBox(settings.textUnpackFailed.c_str(), settings.caption.c_str(),
                               kMessageBoxError);
            break;
        case Outcome::StartFailed:
            ShowStartFailure(settings, error);
            break;
    }
    return 0;
}
