// The launch: a running copy is only brought to the front; otherwise, one launcher at a time, the
// payload is unpacked into a new folder and its main program started.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {
constexpr char16_t kWindowClass[] = u"vornix";
constexpr char16_t kWindowTitle[] = u"Kelmora";  // also the caption of this sequence's boxes
constexpr char16_t kChildName[] = u"\\zandro.exe";
constexpr char16_t kAlreadyOpen[] = u"程序已打开!";
constexpr char16_t kChildMissing[] = u"释放文件失败或文件被占用！";

// What the user is told once the launcher has let go of everything.
enum class Outcome { Started, AlreadyOpen, NotStarted, StartFailed };

// Brings the application's window to the front when it has one.
bool BringWindowForward() {
    const PlatformWindow running = PlatformFindWindow(kWindowClass, kWindowTitle);
    if (running != 0) PlatformSetForegroundWindow(running);
    return running != 0;
}

// Unpacks and starts, holding the launchers' lock. `waited`: another launcher worked first, so an
// application found running is the one it started.
Outcome Launch(bool waited, uint32_t* error) {
    // The other launcher started the application meanwhile.
    if (waited && BringWindowForward()) return Outcome::AlreadyOpen;
    ExtractedPayload payload = ExtractPayload();
    Outcome outcome = Outcome::NotStarted;
    if (payload.state == PayloadState::Ready) {
        PrependToPath(payload.folderText);
        // The folder, and the main program in it, stay held until the child has started.
        outcome = CreateChildProcess(payload.folderText + kChildName, error) ? Outcome::Started
                                                                             : Outcome::StartFailed;
    } else if (payload.state == PayloadState::ApplicationRunning && waited) {
        BringWindowForward();
        outcome = Outcome::AlreadyOpen;
    }
    FinishExtraction(&payload);
    return outcome;
}

}  // namespace

int RunLauncher() {
    if (BringWindowForward()) {
        PlatformMessageBox(kAlreadyOpen, kWindowTitle, kMessageBoxWarning);
        return 0;
    }
    // Another launcher at work is waited for; nothing of the folder is touched meanwhile.
    const LauncherLock lock = AcquireLauncherLock();
    uint32_t error = 0;
    const Outcome outcome =
        lock.handle != kInvalidPlatformHandle ? Launch(lock.waited, &error) : Outcome::NotStarted;
    // Released before any box, which may stay open for long: the next launcher need not wait.
    ReleaseLauncherLock(lock);
    switch (outcome) {
        case Outcome::Started:
            break;
        case Outcome::AlreadyOpen:
            PlatformMessageBox(kAlreadyOpen, kWindowTitle, kMessageBoxWarning);
            break;
        case Outcome::NotStarted:
            PlatformMessageBox(kChildMissing, kWindowTitle, kMessageBoxError);
            break;
        case Outcome::StartFailed:
            ShowStartFailure(error);
            break;
    }
    return 0;
}
