// The program's entry point: the launch sequence is all it does. Its command line is read only
// to be handed on to the main program, when the settings ask for that.
#include "launcher/launcher.h"
#include "platform/platform.h"

#ifdef _WIN32
extern "C" int __stdcall wWinMain(void*, void*, wchar_t*, int) {
    // Before anything can load a library: none from the folder the launcher was started from.
    PlatformLimitLibrarySearch();
    return RunLauncher();
}
#else
int main() { return RunLauncher(); }
#endif
