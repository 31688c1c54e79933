#include "zip/zip_archive.h"
