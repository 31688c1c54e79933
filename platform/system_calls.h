// The system's own call for each row of call_list.inc, written once per platform (platform/win32/,
// platform/linux/) and gathered into kSystemCalls by system_table.cpp. Private to the platform
// folder: the rest of the code calls the rows through the table.
#pragma once

#include <string>

#include "platform/platform.h"

#define PLATFORM_CALL(Result, Name, Parameters) Result System##Name Parameters;
#include "platform/call_list.inc"
#undef PLATFORM_CALL
