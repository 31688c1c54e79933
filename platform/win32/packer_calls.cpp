// The packing tool's console and error texts, its stop requests and the windows it
// lists.
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

// The first console control event that came; -1 while none did.
volatile LONG stopEvent = -1;

// Runs on a thread that the system starts for the event.
BOOL WINAPI NoteStop(DWORD event) {
    InterlockedCompareExchange(&stopEvent, static_cast<LONG>(event), -1);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        // The system ends the process as soon as this returns: the work must see the note and
        // clean up first, and the process ends when it is done (or when the system's time for
        // it is over).
        Sleep(INFINITE);
    }
    return TRUE;
}

struct WindowSearch {
    WindowVisitor visit;
    void* context;
};

std::u16string ProgramOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) return u"";
    wchar_t path[MAX_PATH * 4];
    DWORD units = MAX_PATH * 4;
    const bool known = QueryFullProcessImageNameW(process, 0, path, &units) != FALSE;
    CloseHandle(process);
    return known ? std::u16string(reinterpret_cast<const char16_t*>(path), units) : u"";
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM data) {
    if (!IsWindowVisible(window)) return TRUE;
    const auto* search = reinterpret_cast<const WindowSearch*>(data);
    wchar_t className[257] = {};  // the longest class name that can be registered
    GetClassNameW(window, className, 257);
    std::wstring title(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    title.resize(
        static_cast<size_t>(GetWindowTextW(window, &title[0], static_cast<int>(title.size()))));
    const PlatformWindowFacts facts{reinterpret_cast<const char16_t*>(className),
                                    reinterpret_cast<const char16_t*>(title.c_str()),
                                    ProgramOf(window)};
    search->visit(facts, search->context);
    return TRUE;
}

}  // namespace

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

bool SystemOutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

void SystemCatchStopRequests() { SetConsoleCtrlHandler(NoteStop, TRUE); }

int SystemStopRequested() { return stopEvent == -1 ? 0 : static_cast<int>(STATUS_CONTROL_C_EXIT); }

bool SystemListWindows(WindowVisitor visit, void* context) {
    WindowSearch search{visit, context};
    return EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search)) != FALSE;
}
