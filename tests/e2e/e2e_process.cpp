#include "tests/e2e/e2e_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;

// Icon and text controls of a message box dialog, as the system creates them.
constexpr int kBoxTextId = 0xFFFF;
constexpr int kBoxIconIds[] = {0x0014, 0x0440};

constexpr wchar_t kBoxClass[] = L"#32770";

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    const bool wanted = search->className != nullptr ? wcscmp(className, search->className) == 0
                                                     : wcscmp(className, kBoxClass) != 0;
    if ((search->processId == 0 || owner == search->processId) && wanted &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Sum of absolute colour differences between two captures of equal size.
uint64_t Difference(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            int x = (a[i] >> shift) & 0xFF;
            int y = (b[i] >> shift) & 0xFF;
            sum += static_cast<uint64_t>(x > y ? x - y : y - x);
        }
    }
    return sum;
}

std::vector<COLORREF> Capture(HDC dc, int width, int height) {
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(dc, x, y));
    }
    return pixels;
}

// The system icon drawn over `background`, captured like the box's icon control.
std::vector<COLORREF> RenderIcon(LPCWSTR which, COLORREF background, int width, int height) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT area = {0, 0, width, height};
    FillRect(memory, &area, brush);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, which), 0, 0, 0, nullptr, DI_NORMAL);
    std::vector<COLORREF> pixels = Capture(memory, width, height);
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Icons belong to the process that shows the box, so they are compared as drawn on the screen:
// the control's pixels against the system's exclamation and stop icons drawn here.
BoxIcon IdentifyIcon(HWND box) {
    HWND control = nullptr;
    for (int id : kBoxIconIds) {
        control = GetDlgItem(box, id);
        if (control != nullptr) break;
    }
    if (control == nullptr) return BoxIcon::Unknown;
    SetForegroundWindow(box);
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(200);
    const int width = GetSystemMetrics(SM_CXICON);
    const int height = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetWindowRect(control, &rect);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    std::vector<COLORREF> shown = Capture(memory, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    const COLORREF background = shown.front();  // a corner, outside the icon's shape
    const uint64_t exclamation =
        Difference(shown, RenderIcon(IDI_EXCLAMATION, background, width, height));
    const uint64_t stop = Difference(shown, RenderIcon(IDI_HAND, background, width, height));
    const uint64_t blank = Difference(shown, std::vector<COLORREF>(shown.size(), background));
    if (exclamation == blank && stop == blank) return BoxIcon::Unknown;  // nothing drawn
    if (exclamation * 4 < stop) return BoxIcon::Exclamation;
    if (stop * 4 < exclamation) return BoxIcon::Stop;
    return BoxIcon::Other;
}

std::wstring WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], length + 1));
    return text;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return L"";
    int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], units);
    return out;
}

}  // namespace

std::wstring DriverFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LaunchedProcess StartProcess(const std::wstring& executable, const std::wstring& arguments,
                             const std::wstring& directory, DWORD flags, HANDLE output) {
    const std::wstring path = DriverFolder() + executable;
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info = {};
    LaunchedProcess launched;
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, flags,
                        nullptr, directory.c_str(), &startup, &info)) {
        ADD_FAILURE() << "cannot start " << std::string(path.begin(), path.end()) << ": error "
                      << GetLastError();
        return launched;
    }
    CloseHandle(info.hThread);
    launched.process = info.hProcess;
    launched.id = info.dwProcessId;
    return launched;
}

DWORD WaitForExit(LaunchedProcess& launched, DWORD timeoutMs) {
    if (launched.process == nullptr) return kTimedOut;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD waited = MsgWaitForMultipleObjects(1, &launched.process, FALSE, kPollMs, QS_ALLINPUT);
        if (waited == WAIT_OBJECT_0) break;
        PumpMessages();
        if (GetTickCount() - start > timeoutMs) return kTimedOut;
    }
    DWORD code = kTimedOut;
    GetExitCodeProcess(launched.process, &code);
    CloseHandle(launched.process);
    launched.process = nullptr;
    return code;
}

void EndProcess(LaunchedProcess& launched) {
    if (launched.process == nullptr) return;
    TerminateProcess(launched.process, 1);
    WaitForSingleObject(launched.process, 5000);
    CloseHandle(launched.process);
    launched.process = nullptr;
}

HWND VisibleWindowOf(DWORD processId, const wchar_t* className) {
    WindowSearch search = {processId, className, nullptr};
    EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForMessageBox(const LaunchedProcess& launched, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const HWND box = VisibleWindowOf(launched.id, kBoxClass);
        if (box != nullptr) return box;
        if (WaitForSingleObject(launched.process, 0) == WAIT_OBJECT_0) return nullptr;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        PumpMessages();
        Sleep(kPollMs);
    }
}

void PrintTo(BoxIcon icon, std::ostream* out) {
    switch (icon) {
        case BoxIcon::Unknown:
            *out << "no icon found";
            break;
        case BoxIcon::Exclamation:
            *out << "exclamation icon";
            break;
        case BoxIcon::Stop:
            *out << "stop icon";
            break;
        case BoxIcon::Other:
            *out << "another icon";
            break;
    }
}

BoxContents ReadMessageBox(HWND box) {
    BoxContents contents;
    contents.caption = WindowText(box);
    HWND text = GetDlgItem(box, kBoxTextId);
    if (text != nullptr) contents.text = WindowText(text);
    contents.icon = IdentifyIcon(box);
    return contents;
}

void CloseMessageBox(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        // Opening, not mere existence: a file just moved into place can stay unopenable for a
        // moment while the mover still holds it.
        if (FILE* file = _wfopen(path.c_str(), L"rb")) {
            fclose(file);
            return true;
        }
        PumpMessages();
        Sleep(kPollMs);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

std::map<std::string, std::wstring> ReadReport(const std::wstring& path) {
    std::map<std::string, std::wstring> report;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return report;
    std::string content;
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof(block), file)) > 0) content.append(block, got);
    fclose(file);
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            report[line.substr(0, equals)] = FromUtf8(line.substr(equals + 1));
        }
        start = end + 1;
    }
    return report;
}

void CloseApplicationWindows(const wchar_t* className, const wchar_t* title) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        HWND window = nullptr;
        HWND found = nullptr;
        while ((window = FindWindowExW(nullptr, window, className, title)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != GetCurrentProcessId()) {
                found = window;
                break;
            }
        }
        if (found == nullptr) return;
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        HANDLE process = OpenProcess(
            SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
        PostMessageW(found, WM_CLOSE, 0, 0);
        if (process != nullptr) {
            LaunchedProcess app = {process, owner};
            if (WaitForExit(app, 10000) == kTimedOut) {
                ADD_FAILURE() << "application did not end";
                EndProcess(app);
            }
        } else {
            Sleep(200);
        }
    }
    ADD_FAILURE() << "application windows keep appearing";
}

bool SaveWindowImage(HWND window, const std::wstring& path) {
    RECT area = {};
    if (!GetWindowRect(window, &area)) return false;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied =
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
    SelectObject(memory, previous);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up rows, as BMP files store them
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(static_cast<size_t>(rowBytes) * height, '\0');
    const bool read =
        copied && GetDIBits(memory, bitmap, 0, height, &pixels[0],
                            reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!read) return false;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) != FALSE;
    ok = ok && WriteFile(out, &info, sizeof info, &written, nullptr) != FALSE;
    ok = ok && WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written,
                         nullptr) != FALSE;
    CloseHandle(out);
    return ok;
}
