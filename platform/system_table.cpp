// The table of the system's own calls, and the table in use, which starts as that one.
#include "platform/system_calls.h"

namespace {
constexpr PlatformCalls kSystemTable = {
#define PLATFORM_CALL(Result, Name, Parameters) System##Name,
#include "platform/call_list.inc"
#undef PLATFORM_CALL
};
}  // namespace

const PlatformCalls kSystemCalls = kSystemTable;
PlatformCalls ActivePlatformCalls = kSystemTable;
