// The launcher's own calls: windows and boxes, its temporary directory, resources and environment,
// and the start of the child.
#include <string>
#include <vector>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

PlatformWindow SystemFindWindow(const char16_t* className, const char16_t* title) {
    return reinterpret_cast<PlatformWindow>(FindWindowW(Wide(className), Wide(title)));
}

void SystemSetForegroundWindow(PlatformWindow window) {
    SetForegroundWindow(reinterpret_cast<HWND>(window));
}

void SystemMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    MessageBoxW(nullptr, Wide(text), Wide(caption), style);
}

int SystemFormatInteger(char16_t* buffer, const char16_t* format, int32_t value) {
    return wsprintfW(Wide(buffer), Wide(format), static_cast<int>(value));
}

uint32_t SystemGetTempPath(uint32_t bufferUnits, char16_t* buffer) {
    return GetTempPathW(bufferUnits, Wide(buffer));
}

bool SystemFindResource(uint16_t id, const char16_t* type, const void** data, uint32_t* size) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), Wide(type));
    if (found == nullptr) return false;
    *size = SizeofResource(nullptr, found);
    if (*size == 0) return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (loaded == nullptr) return false;
    *data = LockResource(loaded);
    return *data != nullptr;
}

bool SystemLoadString(uint16_t id, std::u16string* text) {
    // With no buffer, LoadStringW gives the address of the text inside the loaded resource.
    const wchar_t* found = nullptr;
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&found), 0);
    if (length <= 0 || found == nullptr) return false;
    text->assign(reinterpret_cast<const char16_t*>(found), static_cast<size_t>(length));
    return true;
}

int SystemCompareText(const char16_t* a, const char16_t* b) { return lstrcmpW(Wide(a), Wide(b)); }

int SystemCompareFileNames(const char16_t* a, const char16_t* b) {
    // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN are 1, 2, 3; 0 is a failure, which no two
    // terminated texts give.
    return CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) - CSTR_EQUAL;
}

void SystemLimitLibrarySearch() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

uint32_t SystemGetEnvironmentVariable(const char16_t* name, char16_t* buffer,
                                      uint32_t bufferUnits) {
    return GetEnvironmentVariableW(Wide(name), Wide(buffer), bufferUnits);
}

bool SystemSetEnvironmentVariable(const char16_t* name, const char16_t* value) {
    return SetEnvironmentVariableW(Wide(name), Wide(value)) != FALSE;
}

std::u16string SystemGetCommandLine() {
    return reinterpret_cast<const char16_t*>(GetCommandLineW());
}

bool SystemCreateProcess(const char16_t* application, char16_t* commandLine,
                         const char16_t* directory, PlatformHandle pin, PlatformHandle* process,
                         PlatformHandle* thread) {
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup.StartupInfo);
    DWORD flags = 0;
    // The one handle the child may inherit, named in a list of one attribute.
    HANDLE inherited = ToHandle(pin);
    std::vector<BYTE> listBuffer;
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;
    if (pin != kInvalidPlatformHandle) {
        SIZE_T listSize = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);  // asks for the size only
        listBuffer.resize(listSize);
        list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return false;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                       sizeof(inherited), nullptr, nullptr)) {
            KeepingLastError([&] { DeleteProcThreadAttributeList(list); });
            return false;
        }
        startup.StartupInfo.cb = sizeof(startup);
        startup.lpAttributeList = list;
        flags = EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION info = {};
    const bool started = CreateProcessW(Wide(application), Wide(commandLine), nullptr, nullptr,
                                        pin != kInvalidPlatformHandle, flags, nullptr,
                                        Wide(directory), &startup.StartupInfo, &info) != FALSE;
    if (pin != kInvalidPlatformHandle)
        KeepingLastError([&] { DeleteProcThreadAttributeList(list); });
    if (!started) return false;
    *process = FromHandle(info.hProcess);
    *thread = FromHandle(info.hThread);
    return true;
}

void SystemCloseProcessHandle(PlatformHandle handle) { CloseHandle(ToHandle(handle)); }

uint32_t PlatformGetLastError() { return GetLastError(); }
