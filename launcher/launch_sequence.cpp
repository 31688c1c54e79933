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
    ExtractPayload();
    PrependToPath(ExtractionFolderText);
    const std::u16string childPath = ExtractionFolderText + kChildName;
    // Without a folder text the child path would name a program at the root of the current
    // drive, which this launcher never unpacked.
    if (!ExtractionFolderText.empty() && PlatformPathExists(childPath.c_str())) {
        StartMainProgram(childPath);
    } else {
        PlatformMessageBox(kChildMissing, kWindowTitle, kMessageBoxError);
    }
    return 0;
}
