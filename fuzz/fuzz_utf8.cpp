// Arbitrary bytes through both UTF-8 decodings. A text the strict one accepts encodes back to the
// very same bytes (so no other form of a character, such as an overlong "/", ever passes), and
// the lenient one turns nothing but the input's own ASCII bytes into ASCII characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/utf8.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char16_t> wide(size + 1);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool accepted = Utf8ToUtf16Strict(data, size, wide.data(), wide.size());
    if (!accepted) {
        Require(wide[0] == 0);
    } else if (bytes.find('\0') == std::string::npos) {  // a zero would end the text early
        Require(Utf16ToUtf8(wide.data()) == bytes);
    }

    const std::string text = bytes.substr(0, bytes.find('\0'));
    size_t asciiIn = 0;
    for (char c : text) asciiIn += static_cast<unsigned char>(c) < 0x80 ? 1 : 0;
    size_t asciiOut = 0;
    for (char16_t c : Utf8ToUtf16(text.c_str())) asciiOut += c < 0x80 ? 1 : 0;
    Require(asciiIn == asciiOut);
    return 0;
}
