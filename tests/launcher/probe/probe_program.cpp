// A stand-in for the main program: reports how it was started to the file named by
// ZANDRO_REPORT, written whole under another name first so that a reader never sees half of it.
// With ZANDRO_STARTS it first adds a line to that file, so that starts can be counted, and with
// ZANDRO_LINGER_MS it runs on for that long, as an application does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "probe_library.h"

int main(int argc, char** argv) {
    const char* report = std::getenv("ZANDRO_REPORT");
    if (report == nullptr) return 1;
#ifdef _WIN32
    const char* search = std::getenv("Path");
#else
    const char* search = std::getenv("LD_LIBRARY_PATH");
#endif
    const std::string partial = std::string(report) + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (out == nullptr) return 1;
    std::fprintf(out, "argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) std::fprintf(out, "argv%d=[%s]\n", i, argv[i]);
#ifdef _WIN32
    std::fprintf(out, "commandline=%s\n", GetCommandLineA());
#endif
    std::fprintf(out, "cwd=%s\n", std::filesystem::current_path().string().c_str());
    std::fprintf(out, "search=%s\n", search != nullptr ? search : "(none)");
    std::fprintf(out, "library=%s\n", ProbeLibraryGreeting());
    std::fclose(out);
    // The start is counted before the report appears, so that whoever sees the report sees it.
    if (const char* starts = std::getenv("ZANDRO_STARTS")) {
        std::FILE* log = std::fopen(starts, "ab");
        if (log == nullptr) return 1;
        std::fputs("started\n", log);
        std::fclose(log);
    }
    if (std::rename(partial.c_str(), report) != 0) return 1;
    if (const char* linger = std::getenv("ZANDRO_LINGER_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(linger)));
    }
    return 0;
}
