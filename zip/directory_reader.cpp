#include "zip/directory_reader.h"
