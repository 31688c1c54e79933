#include "zip/extract.h"
