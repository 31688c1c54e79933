// The packing tool's console and error texts, its stop requests and the windows it
// cannot list here.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/internal.h"
#include "platform/system_calls.h"
#include "platform/utf8.h"

namespace {

// The first stop signal that came; 0 while none did.
volatile sig_atomic_t stopSignal = 0;

void NoteStop(int signal) {
    if (stopSignal == 0) stopSignal = signal;
}

}  // namespace

std::u16string SystemLastErrorText() { return Utf8ToUtf16(std::strerror(errno)); }

void SystemWriteStream(bool toError, const char16_t* text) {
    const std::string bytes = Utf16ToUtf8(text);
    const int fd = toError ? STDERR_FILENO : STDOUT_FILENO;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

bool SystemOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void SystemCatchStopRequests() {
    struct sigaction action {};
    action.sa_handler = NoteStop;
    action.sa_flags = SA_RESTART;  // reads and writes go on; the work looks at the note
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int SystemStopRequested() { return stopSignal == 0 ? 0 : 128 + stopSignal; }

bool SystemListWindows(WindowVisitor, void*) {
    errno = ENOSYS;
    return false;
}
