// The sign of life of a long unpacking (the setting "progress"): a window of the launcher's own
// with the caption, the application's icon and a bar, opened only once the unpacking has lasted
// kProgressDelayMs, moved on by the payload's bytes as its entries are unpacked, and closed when
// the child has started or could not be, before any box. The launcher has one thread: the window's
// messages are handled whenever the bar is moved.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/launcher_settings.h"
#include "platform/platform.h"

// Quicker unpackings show nothing.
constexpr uint32_t kProgressDelayMs = 500;
// The bar moves, and the window's messages are handled, at most this often.
constexpr uint32_t kProgressStepMs = 40;

struct ProgressWindow {
    bool wanted;             // the setting is on, and no window failed to open
    std::u16string caption;  // the boxes' caption
    uint64_t startMs;
    uint64_t shownMs;       // when the bar last moved
    PlatformWindow window;  // 0 until it is shown
};

// Starts the clock when the setting is on; shows nothing yet.
ProgressWindow StartProgress(const LauncherSettings& settings);

// `done` of the payload's `total` bytes are unpacked: opens the window once the delay is over,
// and moves its bar.
void AdvanceProgress(ProgressWindow* progress, uint64_t done, uint64_t total);

// Closes the window, if it was shown.
void EndProgress(ProgressWindow* progress);
