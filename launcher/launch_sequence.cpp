// The launch: a running copy is only brought to the front; otherwise the payload is unpacked and
// its main program started.
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {
constexpr char16_t kWindowClass[] = u"vornix";
constexpr char16_t kWindowTitle[] = u"Kelmora";  // also the caption of this sequence's boxes
constexpr char16_t kChildName[] = u"\\zandro.exe";
constexpr char16_t kAlreadyOpen[] = u"程序已打开!";
constexpr char16_t kChildMissing[] = u"释放文件失败或文件被占用！";
}  // namespace

int RunLauncher() {
    const PlatformWindow running = PlatformFindWindow(kWindowClass, kWindowTitle);
    if (running != 0) {
        PlatformSetForegroundWindow(running);
        PlatformMessageBox(kAlreadyOpen, kWindowTitle, kMessageBoxWarning);
        return 0;
    }
    const ExtractedPayload payload = ExtractPayload();
    PrependToPath(payload.folderText);
    const std::u16string childPath = payload.folderText + kChildName;
    // Started with administrator rights, the child may run only what this run wrote into a folder
    // that nobody else could change meanwhile: not an old copy, not a file planted beside it.
    if (payload.folder != kNoFolder && payload.mainProgramWritten && !payload.leftBehind) {
        StartMainProgram(childPath);
    } else {
        PlatformMessageBox(kChildMissing, kWindowTitle, kMessageBoxError);
    }
    // Held until the child has started.
    if (payload.folder != kNoFolder) PlatformReleaseFolder(payload.folder);
    return 0;
}
