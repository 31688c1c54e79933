// The library beside the stand-in main program; the program cannot start without finding it.
#pragma once

#ifdef _WIN32
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PROBE_EXPORT const char* ProbeLibraryGreeting();
