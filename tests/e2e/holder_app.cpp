// A stand-in application that runs without the window the launcher looks for, as an application
// with a window of another class does. It keeps "data.bin" beside it open the way many programs
// keep their files (reading, with write and delete sharing), writes "module=" and "holding=" to
// the report named by ZANDRO_REPORT, and ends once the file named by ZANDRO_STOP exists, or after
// a minute.
#include <windows.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

// Written beside its final name and then moved there, so a reader never sees half a report.
void WriteReport(const std::wstring& target, const std::string& text) {
    const std::wstring partial = target + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t module[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring path(module, length);
    const std::wstring data = path.substr(0, path.find_last_of(L'\\') + 1) + L"data.bin";
    const HANDLE held = CreateFileW(data.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::wstring report = Environment(L"ZANDRO_REPORT");
    if (!report.empty()) {
        WriteReport(report, "module=" + Utf8(path) + "\nholding=" +
                                (held != INVALID_HANDLE_VALUE ? "yes" : "no") + "\n");
    }
    const std::wstring stop = Environment(L"ZANDRO_STOP");
    for (int waited = 0; waited < 600; ++waited) {
        if (!stop.empty() && GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return 0;
}
