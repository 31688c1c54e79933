// The launcher with its progress setting from its command line, "on" or "off", as its string
// table would give it, for the cost of the progress window: the same program both ways, timed
// whole, one against the other. Natively no window is shown: what is left is the checks on the
// way. The Windows build is measured with two launchers packed with and without --progress.
#include <cstring>
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {

std::u16string progress = u"off";

bool ProgressOnly(uint16_t id, std::u16string* text) {
    if (id != LAUNCHER_STRING_PROGRESS) return false;
    *text = progress;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "on") == 0) progress = u"on";
    ActivePlatformCalls.PlatformLoadString = ProgressOnly;
    return RunLauncher();
}
