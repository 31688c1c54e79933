#include "zip/entry_stream.h"

// Placeholder until the entry stream lands: no stream is ever opened yet.
ReaderResult CloseEntryStream(ZipDirectoryReader*) { return ReaderBadArgument; }
