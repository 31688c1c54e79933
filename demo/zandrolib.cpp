#define ZANDROLIB_BUILD
#include "demo/zandrolib.h"

#include <cwchar>

namespace {
HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}
}  // namespace

ZANDROLIB_API int ZandroDescribeLibrary(wchar_t* buffer, int bufferUnits) {
    if (buffer == nullptr || bufferUnits <= 0) return 0;
    wchar_t path[MAX_PATH] = {};
    if (GetModuleFileNameW(ThisModule(), path, MAX_PATH) == 0) wcscpy(path, L"(unknown)");
    int written = _snwprintf(buffer, bufferUnits - 1, L"zandrolib loaded from %ls", path);
    buffer[bufferUnits - 1] = 0;
    return written < 0 ? static_cast<int>(wcslen(buffer)) : written;
}
