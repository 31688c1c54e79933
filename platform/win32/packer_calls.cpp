// The packing tool's console and error texts.
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

std::u16string SystemLastErrorText() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string out;
    if (length > 0 && text != nullptr) out.assign(reinterpret_cast<const char16_t*>(text), length);
    LocalFree(text);
    while (!out.empty() && (out.back() == u'\n' || out.back() == u'\r' || out.back() == u'.' ||
                            out.back() == u' ')) {
        out.pop_back();
    }
    if (out.empty()) {
        wchar_t digits[32];
        wsprintfW(digits, L"system error %lu", static_cast<unsigned long>(error));
        out = reinterpret_cast<const char16_t*>(digits);
    }
    return out;
}

void SystemWriteStream(bool toError, const char16_t* text) {
    const HANDLE stream = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
    const int units = static_cast<int>(std::char_traits<char16_t>::length(text));
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, Wide(text), static_cast<DWORD>(units), &written, nullptr);
        return;
    }
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, Wide(text), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide(text), units, &bytes[0], size, nullptr, nullptr);
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
