// Win32 implementation of the platform seam: each function makes the one system call it names.
#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {
[[maybe_unused]] const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
[[maybe_unused]] wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
}  // namespace

// ---- Archive reader ------------------------------------------------------------------------



// ---- Extraction to disk --------------------------------------------------------------------



// ---- Launcher ------------------------------------------------------------------------------


