// How far a long step has come, for the person who waits: files and bytes done of the total, the
// percentage and the rate. On a terminal one line, drawn again as it moves; elsewhere (a log, a
// pipe) a plain line now and then, a few a minute at most. Either way the last line shows 100%.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "packer/pack_tool.h"

constexpr uint64_t kTerminalRedrawMs = 200;
constexpr uint64_t kPlainLineMs = 15000;

struct Progress {
    const PackConsole* console = nullptr;  // null while nothing is shown (--quiet, or done)
    std::u16string what;                   // "Zipping", "Checking the archive"
    uint64_t files = 0;                    // the totals
    uint64_t bytes = 0;
    uint64_t filesDone = 0;
    uint64_t bytesDone = 0;
    uint64_t startMs = 0;
    uint64_t shownMs = 0;
    size_t drawnUnits = 0;  // a terminal's line drawn and not yet ended: its length
};

// Starts counting towards the totals; shows nothing yet. A null console shows nothing at all.
void StartProgress(Progress* progress, const PackConsole* console, const std::u16string& what,
                   uint64_t files, uint64_t bytes);

// Counts more done, and shows the line when it is due.
void AddProgress(Progress* progress, uint64_t files, uint64_t bytes);

// Shows the last line, at 100%, and stops showing.
void FinishProgress(Progress* progress);

// Ends a terminal's line drawn so far, so that other output starts on a line of its own.
void EndProgressLine(Progress* progress);
