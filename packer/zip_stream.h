// The zip writer of packer/zip_writer.h in flat memory: each file is read in blocks, its CRC-32
// computed and its data deflated as it goes, straight into a FileSink; its local header is
// completed once the sizes are known. When deflating does not make a file smaller it is read
// again and stored. The archive comes out byte for byte as ZipWriter makes it from the same
// entries, and the PE checksum's word sum of its bytes (from the archive's start) comes with it.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"
#include "packer/file_sink.h"
#include "packer/pe_checksum.h"
#include "packer/zip_writer.h"

enum class ZipStreamStatus {
    kAdded,
    kRefused,      // a file could not be read or the archive would not fit: `error` says why
    kWriteFailed,  // the sink could not write: `error` holds the system's reason
    kStopped,      // the progress hook asked to stop
};

struct ZipStream {
    FileSink* sink = nullptr;
    int level = 9;                       // 0 stores everything
    size_t blockSize = size_t{1} << 20;  // read from a file at a time
    ByteBuffer directory;                // the central directory so far
    uint32_t entries = 0;
    PeWordSum sum;  // of the archive's bytes written for good, by their offsets from its start
    ByteBuffer readBlock;  // the blocks read and deflated, kept from entry to entry
    ByteBuffer deflatedBlock;
    // Called after each block read (with its size when the file is read for the first time) and
    // after each file.
    ProgressHook progress;
};

// Appends one entry: a folder, or the file at `path`, which must be a regular file of at most
// 4 GiB ("cannot read the file ..." otherwise).
ZipStreamStatus AddZipStreamEntry(ZipStream* zip, const ZipEntryFacts& facts,
                                  const std::u16string& path, std::u16string* error);

// Appends the central directory and the end record and flushes the sink: the sink's position is
// then the archive's size.
ZipStreamStatus FinishZipStream(ZipStream* zip, std::u16string* error);
