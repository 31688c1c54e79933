// The demo application that the launcher carries by default: one window of class "vornix" titled
// "Kelmora" that shows where the program runs from, how it was started and which library copy
// it loaded. When ZANDRO_REPORT names a file, the same facts are written there (UTF-8, one
// "key=value" line each) once the window exists, so scripts and tests can read what it saw.
// ZANDRO_WINDOW_CLASS and ZANDRO_WINDOW_TITLE give the window another class and title, as
// another application packed into a launcher of its own has. The report also says whether the
// process runs elevated.
#include <windows.h>

#include <string>

#include "demo/zandrolib.h"

namespace {

// The window that a launcher built here looks for: the defaults of its settings.
#define LAUNCHER_SETTING(id, key, member, option, rule, limit, choices, value, help) \
    const wchar_t kDefault_##key[] = L"" value;
#include "resources/launcher_settings.inc"
#undef LAUNCHER_SETTING
const wchar_t* const kClassName = kDefault_WINDOW_CLASS;
const wchar_t* const kTitle = kDefault_WINDOW_TITLE;
// The window shows only the start of a long Path; the report carries the whole value.
const size_t kShownPathUnits = 160;

struct Facts {
    std::wstring module;
    std::wstring commandLine;
    std::wstring directory;
    std::wstring path;
    std::wstring library;
    std::wstring elevated;
};

Facts g_facts;

std::wstring ModulePath() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::wstring CurrentDirectory() {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return L"";
    std::wstring directory(needed, L'\0');
    DWORD length = GetCurrentDirectoryW(needed, &directory[0]);
    directory.resize(length < needed ? length : 0);
    return directory;
}

std::wstring Environment(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return L"";
    std::wstring value(needed, L'\0');
    DWORD length = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(length < needed ? length : 0);
    return value;
}

// Loads the library by its bare name, so the loader's search order (the program's folder, then
// Path) picks the copy.
std::wstring DescribeLibrary() {
    HMODULE library = LoadLibraryW(L"zandrolib.dll");
    if (library == nullptr) {
        return L"zandrolib.dll not loaded (error " + std::to_wstring(GetLastError()) + L")";
    }
    using DescribeFunction = int (*)(wchar_t*, int);
    auto describe = reinterpret_cast<DescribeFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, ZANDROLIB_DESCRIBE_NAME)));
    if (describe == nullptr) return L"zandrolib.dll has no " ZANDROLIB_DESCRIBE_NAME;
    wchar_t text[1024] = {};
    describe(text, 1024);
    return text;
}

// Whether the process runs with an elevated token: "1", "0", or "unknown".
std::wstring Elevation() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"unknown";
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const BOOL read =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    if (!read) return L"unknown";
    return elevation.TokenIsElevated != 0 ? L"1" : L"0";
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return "";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

// Written beside its final name and then moved there, so a reader never sees half a report.
void WriteReport(const std::wstring& target) {
    std::string text;
    text += "module=" + Utf8(g_facts.module) + "\n";
    text += "commandline=" + Utf8(g_facts.commandLine) + "\n";
    text += "directory=" + Utf8(g_facts.directory) + "\n";
    text += "path=" + Utf8(g_facts.path) + "\n";
    text += "library=" + Utf8(g_facts.library) + "\n";
    text += "elevated=" + Utf8(g_facts.elevated) + "\n";
    std::wstring partial = target + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (ok && written == text.size()) {
        MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    } else {
        DeleteFileW(partial.c_str());
    }
}

std::wstring ShownText() {
    std::wstring path = g_facts.path.substr(0, kShownPathUnits);
    if (g_facts.path.size() > kShownPathUnits) path += L"...";
    return L"Running from: " + g_facts.module + L"\r\nCommand line: " + g_facts.commandLine +
           L"\r\nCurrent directory: " + g_facts.directory + L"\r\nPath: " + path + L"\r\n" +
           g_facts.library;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            InflateRect(&area, -12, -12);
            HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            std::wstring text = ShownText();
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                      DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, oldFont);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    g_facts.module = ModulePath();
    g_facts.commandLine = GetCommandLineW();
    g_facts.directory = CurrentDirectory();
    g_facts.path = Environment(L"Path");
    g_facts.library = DescribeLibrary();
    g_facts.elevated = Elevation();

    std::wstring className = Environment(L"ZANDRO_WINDOW_CLASS");
    std::wstring title = Environment(L"ZANDRO_WINDOW_TITLE");
    if (className.empty()) className = kClassName;
    if (title.empty()) title = kTitle;

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className.c_str();
    if (RegisterClassW(&windowClass) == 0) return 1;

    HWND window = CreateWindowW(className.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 760,
                                260, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    std::wstring report = Environment(L"ZANDRO_REPORT");
    if (!report.empty()) WriteReport(report);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
