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

// Unpacks and starts, holding the launchers' lock. `waited`: another launcher worked first, and
// may have started the application meanwhile. What is held of the folders is left in `fresh` for
// the end of the run.
Outcome Launch(const LauncherSettings& settings, const FolderNames& names, bool waited,
               FreshFolder* fresh, uint32_t* error) {
    // The other launcher started the application meanwhile.
    if (waited && BringWindowForward(settings)) return Outcome::AlreadyOpen;
    ProgressWindow progress = StartProgress(settings);
    ExtractedPayload payload = ExtractPayload(names, &progress);
    *fresh = payload.fresh;
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
    } else if (payload.state == PayloadState::ApplicationRunning) {
        // Its program runs from the folder (the system refused to remove it), whatever became of
        // its window: the application is open, not the folder in use.
        BringWindowForward(settings);
        outcome = Outcome::AlreadyOpen;
    }
    // The child has started, or a box comes.
    EndProgress(&progress);
    if (payload.mainProgram != kInvalidPlatformHandle) PlatformCloseFile(payload.mainProgram);
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
    const FolderNames names{settings.folderName, settings.mainProgram};
    // Another launcher at work is waited for; nothing of the folder is touched meanwhile.
    LauncherLock lock = AcquireLauncherLock(names);
    uint32_t error = 0;
    FreshFolder fresh = NoFreshFolder();
    const Outcome outcome = lock.handle != kInvalidPlatformHandle
                                ? Launch(settings, names, lock.waited, &fresh, &error)
                                : Outcome::NotStarted;
    // The lock goes before any box, which may stay open for long, and before what earlier runs
    // moved aside is removed: the next launcher need not wait.
    FinishWithFolders(&fresh, &lock, names);
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
