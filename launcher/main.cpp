// The program's entry point: the launch sequence is all it does. The command line is not read.
#include "launcher/launcher.h"

#ifdef _WIN32
extern "C" int __stdcall wWinMain(void*, void*, wchar_t*, int) { return RunLauncher(); }
#else
int main() { return RunLauncher(); }
#endif
