#include "zip/entry_stream.h"
