#include "packer/progress.h"

#include "packer/text.h"
#include "platform/platform.h"

namespace {

std::u16string LineOf(const Progress& progress, uint64_t nowMs) {
    std::u16string line = u"  " + progress.what + u": " + NumberText(progress.filesDone) + u" of " +
                          Counted(progress.files, u"file", u"files") + u", " +
                          SizeText(progress.bytesDone) + u" of " + SizeText(progress.bytes);
    const uint64_t percent = progress.bytes != 0   ? progress.bytesDone * 100 / progress.bytes
                             : progress.files != 0 ? progress.filesDone * 100 / progress.files
                                                   : 100;
    line += u" (" + NumberText(percent) + u"%)";
    const uint64_t elapsedMs = nowMs - progress.startMs;
    if (elapsedMs >= 1000) {
        line += u", " + SizeText(progress.bytesDone * 1000 / elapsedMs) + u"/s";
    }
    return line;
}

void Show(Progress* progress, uint64_t nowMs, bool last) {
    const PackConsole& console = *progress->console;
    const std::u16string line = LineOf(*progress, nowMs);
    progress->shownMs = nowMs;
    if (!console.terminal) {
        console.write(false, line + u"\n", console.context);
        return;
    }
    // Drawn over the last one: blanks cover what a shorter line leaves of it.
    std::u16string drawn = u"\r" + line;
    if (line.size() < progress->drawnUnits) drawn.append(progress->drawnUnits - line.size(), u' ');
    progress->drawnUnits = line.size();
    if (last) drawn += u"\n";
    console.write(false, drawn, console.context);
}

}  // namespace

void StartProgress(Progress* progress, const PackConsole* console, const std::u16string& what,
                   uint64_t files, uint64_t bytes) {
    *progress = Progress{};
    progress->console = console;
    progress->what = what;
    progress->files = files;
    progress->bytes = bytes;
    progress->startMs = PlatformMilliseconds();
    progress->shownMs = progress->startMs;
}

void AddProgress(Progress* progress, uint64_t files, uint64_t bytes) {
    progress->filesDone += files;
    progress->bytesDone += bytes;
    if (progress->console == nullptr) return;
    const uint64_t nowMs = PlatformMilliseconds();
    const uint64_t everyMs = progress->console->terminal ? kTerminalRedrawMs : kPlainLineMs;
    if (nowMs - progress->shownMs >= everyMs) Show(progress, nowMs, false);
}

void FinishProgress(Progress* progress) {
    if (progress->console == nullptr) return;
    progress->filesDone = progress->files;
    progress->bytesDone = progress->bytes;
    Show(progress, PlatformMilliseconds(), true);
    progress->console = nullptr;
}

void EndProgressLine(Progress* progress) {
    if (progress->console == nullptr || progress->drawnUnits == 0) return;
    progress->console->write(false, u"\n", progress->console->context);
    progress->drawnUnits = 0;
}
