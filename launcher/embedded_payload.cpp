// The payload archive of a Linux launcher: the file's bytes assembled into read-only data, and
// the two names through which the platform layer finds them.
#include <cstdint>

#include "platform/platform.h"

asm(".section .rodata\n"
    ".balign 16\n"
    ".globl launcher_payload_start\n"
    ".hidden launcher_payload_start\n"
    "launcher_payload_start:\n"
    ".incbin \"" LAUNCHER_PAYLOAD_FILE
    "\"\n"
    ".globl launcher_payload_end\n"
    ".hidden launcher_payload_end\n"
    "launcher_payload_end:\n"
    ".previous\n");

extern "C" const unsigned char launcher_payload_start[];
extern "C" const unsigned char launcher_payload_end[];

const unsigned char* LauncherPayloadData = launcher_payload_start;
uint32_t LauncherPayloadSize = static_cast<uint32_t>(launcher_payload_end - launcher_payload_start);
