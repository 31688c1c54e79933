// The packing tool's console and error texts.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/internal.h"
#include "platform/system_calls.h"
#include "platform/utf8.h"

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
