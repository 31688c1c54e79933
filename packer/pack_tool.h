// The packer's run from command line to OUTPUT: read and check every input, build the new
// image, and put it in place in one step. OUTPUT is never left half-written: the image goes to
// a temporary file beside it, renamed over it only when complete and removed otherwise, also
// when a stop is asked for (PlatformStopRequested) on the way.
#pragma once

#include <string>
#include <vector>

constexpr int kPackDone = 0;
constexpr int kPackWriteFailed = 1;  // the inputs were sound; OUTPUT could not be written
constexpr int kPackRefused = 2;      // a wrong command line or an input the packer refuses

// Where the progress lines (standard output) and warnings and errors (standard error) go, and
// whether standard output is a terminal, where the progress is one line drawn again.
struct PackConsole {
    void (*write)(bool toError, const std::u16string& text, void* context);
    void* context;
    bool terminal = false;
};

// Runs the packer with the arguments after the program's name; returns the exit status.
int RunPackTool(const std::vector<std::u16string>& args, const PackConsole& console);
