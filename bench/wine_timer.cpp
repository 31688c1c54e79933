// Times Windows programs from inside Wine, where starting a process costs what it costs a
// Windows program, not what starting Wine itself costs.
//   wine_timer.exe SCRATCH PROGRAM...
// Starts each program once, in the order given, with TEMP and TMP set to a fresh folder of its
// own below SCRATCH (so that a launcher unpacks into an empty extraction folder: a first start),
// waits for it to end and prints one line per program: its wall time in milliseconds (from
// CreateProcessW until the process has ended) and the path. Between two programs it pauses, so
// that the program a launcher started has ended before the next one is timed. A program that fails
// to start, runs for more than a minute or ends with a status other than 0 ends the timer with
// status 1.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
constexpr DWORD kPauseMs = 250;
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: wine_timer.exe SCRATCH PROGRAM...\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int i = 2; i < argc; ++i) {
        // A folder per run, unique across the timer's runs through the process id.
        const std::wstring temp = std::wstring(argv[1]) + L"\\run" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(i) + L"\\";
        if (!CreateDirectoryW(temp.c_str(), nullptr) ||
            !SetEnvironmentVariableW(L"TEMP", temp.c_str()) ||
            !SetEnvironmentVariableW(L"TMP", temp.c_str())) {
            std::fwprintf(stderr, L"cannot make %ls (error %lu)\n", temp.c_str(), GetLastError());
            return 1;
        }
        std::wstring commandLine = L"\"" + std::wstring(argv[i]) + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (!CreateProcessW(argv[i], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            std::fwprintf(stderr, L"cannot start %ls (error %lu)\n", argv[i], GetLastError());
            return 1;
        }
        const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
        QueryPerformanceCounter(&end);
        DWORD status = 1;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (waited != WAIT_OBJECT_0 || status != 0) {
            std::fwprintf(stderr, L"%ls did not end well (wait %lu, status %lu)\n", argv[i], waited,
                          status);
            return 1;
        }
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        std::wprintf(L"%.3f %ls\n", ms, argv[i]);
        Sleep(kPauseMs);
    }
    return 0;
}
