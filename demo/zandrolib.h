// The demo application's library: loaded by name at run time, so the loader's search order
// decides which copy is used.
#pragma once

#include <windows.h>

#ifdef ZANDROLIB_BUILD
#define ZANDROLIB_API extern "C" __declspec(dllexport)
#else
#define ZANDROLIB_API extern "C" __declspec(dllimport)
#endif

// Writes a greeting that names the library file actually loaded into `buffer` (terminated,
// cut to fit) and returns its length.
ZANDROLIB_API int ZandroDescribeLibrary(wchar_t* buffer, int bufferUnits);

// The exported name as GetProcAddress sees it (cdecl exports carry no decoration).
#define ZANDROLIB_DESCRIBE_NAME "ZandroDescribeLibrary"
