// Starting launcher executables and watching what they show: message boxes, the application's
// window and its report.
#pragma once

#include <windows.h>

#include <map>
#include <ostream>
#include <string>

// The folder of the test program itself, with a closing backslash; the launcher executables
// under test are built beside it.
std::wstring DriverFolder();

// Serves the driver's own windows while it waits for another process.
void PumpMessages();

struct LaunchedProcess {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// Starts `executable` (a name beside the driver) with `arguments` in `directory`, inheriting
// the driver's environment, with CreateProcessW's `flags`; with an inheritable `output`, its
// standard output and error go there. Fails the current test when it cannot be started.
LaunchedProcess StartProcess(const std::wstring& executable, const std::wstring& arguments,
                             const std::wstring& directory, DWORD flags = 0,
                             HANDLE output = nullptr);

// Waits (serving messages) until the process ends and returns its exit code; kTimedOut when it
// is still running after `timeoutMs`.
constexpr DWORD kTimedOut = 0xFFFFFFFE;
DWORD WaitForExit(LaunchedProcess& launched, DWORD timeoutMs);

// Ends a process that is still running and releases its handle.
void EndProcess(LaunchedProcess& launched);

enum class BoxIcon { Unknown, Exclamation, Stop, Other };
void PrintTo(BoxIcon icon, std::ostream* out);

struct BoxContents {
    std::wstring caption;
    std::wstring text;
    BoxIcon icon = BoxIcon::Unknown;
};

// A visible top-level window of the process (0: of any process) and class (null: any but a
// message box), or nullptr.
HWND VisibleWindowOf(DWORD processId, const wchar_t* className);

// The first message box (dialog class "#32770") that the process shows within `timeoutMs`, or
// nullptr (at once when the process has ended without one).
HWND WaitForMessageBox(const LaunchedProcess& launched, DWORD timeoutMs);

// Reads caption, text and icon back from the box on the screen.
BoxContents ReadMessageBox(HWND box);

// Presses the box's OK button.
void CloseMessageBox(HWND box);

// Waits until the file at `path` can be opened for reading, serving messages; false after
// `timeoutMs`.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

// The demo application's report: its "key=value" lines, values converted from UTF-8.
std::map<std::string, std::wstring> ReadReport(const std::wstring& path);

// Closes every window of the class and title (by default the demo application's) that another
// process owns and waits until those processes have ended.
void CloseApplicationWindows(const wchar_t* className = L"vornix",
                             const wchar_t* title = L"Kelmora");

// Saves what the window shows on the screen as a 24-bit BMP file, for a person to look at.
bool SaveWindowImage(HWND window, const std::wstring& path);
