#include "zip/archive_source.h"
