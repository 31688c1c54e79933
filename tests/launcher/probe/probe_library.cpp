#include "probe_library.h"

const char* ProbeLibraryGreeting() { return "library loaded"; }
