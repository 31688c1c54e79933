// The launcher's one window of its own: the progress of a long unpacking, drawn by itself (no
// common control, so no library is loaded for it), on the launcher's only thread, which handles
// its messages whenever the bar moves.
#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

constexpr wchar_t kClassName[] = L"LauncherProgressWindow";
constexpr int kWidth = 380;  // the client area
constexpr int kHeight = 84;
constexpr int kMargin = 16;
constexpr int kIconSize = 32;
constexpr int kBarHeight = 14;

// What the window shows; it owns this from its creation to its destruction.
struct Shown {
    std::wstring caption;
    HICON icon;
    uint32_t permille;
};

Shown* ShownOf(HWND window) {
    return reinterpret_cast<Shown*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

RECT BarArea() {
    const int left = kMargin + kIconSize + kMargin;
    return RECT{left, kHeight - kMargin - kBarHeight, kWidth - kMargin, kHeight - kMargin};
}

void Paint(HWND window, const Shown& shown) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (shown.icon != nullptr) {
        DrawIconEx(dc, kMargin, kMargin, shown.icon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
    }
    const RECT bar = BarArea();
    RECT text = {bar.left, kMargin, bar.right, bar.top - 4};
    const HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, shown.caption.c_str(), static_cast<int>(shown.caption.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, font);
    FillRect(dc, &bar, GetSysColorBrush(COLOR_WINDOW));
    RECT done = bar;
    done.right = bar.left + static_cast<LONG>((bar.right - bar.left) * shown.permille / 1000);
    FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
    EndPaint(window, &paint);
}

LRESULT CALLBACK ProgressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
            break;
        case WM_PAINT:
            if (Shown* shown = ShownOf(window)) {
                Paint(window, *shown);
                return 0;
            }
            break;
        case WM_CLOSE:
            return 0;  // it goes when the unpacking is over, not before
        case WM_NCDESTROY:
            delete ShownOf(window);
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Handles what waits for the thread's windows, without waiting for more.
void HandleWaitingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

PlatformWindow SystemOpenProgressWindow(const char16_t* caption) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const HICON icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, kIconSize, kIconSize, LR_SHARED));
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProgressProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_APPSTARTING));
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClassName;
    if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return 0;
    }
    const DWORD style = WS_POPUP | WS_BORDER;
    RECT frame = {0, 0, kWidth, kHeight};
    AdjustWindowRect(&frame, style, FALSE);
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    Shown* shown = new Shown{Wide(caption), icon, 0};
    // Never activated: the application that the launcher starts keeps the right to come to the
    // front, and Wine does not wait for a window manager when the window goes.
    const HWND window = CreateWindowExW(WS_EX_NOACTIVATE, kClassName, L"", style,
                                        screen.left + (screen.right - screen.left - width) / 2,
                                        screen.top + (screen.bottom - screen.top - height) / 2,
                                        width, height, nullptr, nullptr, instance, shown);
    if (window == nullptr) {
        delete shown;
        return 0;
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    HandleWaitingMessages();
    return reinterpret_cast<PlatformWindow>(window);
}

void SystemShowProgress(PlatformWindow window, uint32_t permille) {
    const HWND handle = reinterpret_cast<HWND>(window);
    if (Shown* shown = ShownOf(handle)) {
        if (shown->permille != permille) {
            shown->permille = permille;
            const RECT bar = BarArea();
            InvalidateRect(handle, &bar, FALSE);
        }
    }
    HandleWaitingMessages();
}

void SystemCloseProgressWindow(PlatformWindow window) {
    DestroyWindow(reinterpret_cast<HWND>(window));
    HandleWaitingMessages();
}
