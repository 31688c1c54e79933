// launcher-pack: puts an application into a copy of launcher.exe (see packer/command_line.h).
#include <string>
#include <vector>

#include "packer/pack_tool.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace {

void WriteToStream(bool toError, const std::u16string& text, void*) {
    PlatformWriteStream(toError, text.c_str());
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
#else
int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
#endif
    // Ctrl-C and the like are noted, so that the packing removes what it began before it ends.
    PlatformCatchStopRequests();
    return RunPackTool(args, PackConsole{WriteToStream, nullptr, PlatformOutputIsTerminal()});
}
