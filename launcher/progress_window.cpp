#include "launcher/progress_window.h"

ProgressWindow StartProgress(const LauncherSettings& settings) {
    const bool wanted = settings.progress == kSwitchOn;
    return {wanted, settings.caption, wanted ? PlatformMilliseconds() : 0, 0, 0};
}

void AdvanceProgress(ProgressWindow* progress, uint64_t done, uint64_t total) {
    if (!progress->wanted) return;
    const uint64_t now = PlatformMilliseconds();
    if (progress->window == 0) {
        if (now - progress->startMs < kProgressDelayMs) return;
        progress->window = PlatformOpenProgressWindow(progress->caption.c_str());
        // Without a window (Linux, or none could be made) nothing is asked for again.
        progress->wanted = progress->window != 0;
        if (!progress->wanted) return;
    } else if (now - progress->shownMs < kProgressStepMs) {
        return;
    }
    progress->shownMs = now;
    const uint64_t permille = total == 0 || done >= total ? 1000 : done * 1000 / total;
    PlatformShowProgress(progress->window, static_cast<uint32_t>(permille));
}

void EndProgress(ProgressWindow* progress) {
    if (progress->window != 0) PlatformCloseProgressWindow(progress->window);
    progress->window = 0;
    progress->wanted = false;
}
