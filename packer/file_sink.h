// The new file written as it is produced, in flat memory: bytes appended at a moving position are
// gathered in one block and written when it is full; bytes behind the position can be completed
// later (a zip entry's local header once its sizes are known) and the position moved back to
// write a part again. Positions count from `start`, the file offset where the sink begins.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packer/byte_io.h"
#include "platform/platform.h"

class FileSink {
  public:
    FileSink(PlatformHandle file, uint64_t start, size_t blockSize = size_t{1} << 20);

    uint64_t position() const { return position_; }

    // False when writing failed (PlatformLastErrorText tells why); the sink is of no use then.
    bool Append(const uint8_t* data, size_t size);
    // Replaces bytes that were appended before: `at + size` must not pass the position.
    bool Overwrite(uint64_t at, const uint8_t* data, size_t size);
    // Moves the position back to `to`: what follows will be appended again over what was there.
    void MoveBack(uint64_t to);
    // Writes what the block holds.
    bool Flush();

  private:
    PlatformHandle file_;
    uint64_t start_;
    size_t blockSize_;
    ByteBuffer block_;      // the bytes from blockAt_ to the position, not written yet
    uint64_t blockAt_ = 0;  // relative to start_
    uint64_t position_ = 0;
};

// Writes `size` bytes at the file offset `at` (seek and write). False when either failed.
bool WriteFileAt(PlatformHandle file, uint64_t at, const uint8_t* data, size_t size);

// Copies `size` bytes of the file from offset `from` to offset `to` (the two ranges must not
// overlap) through a block of `blockSize` bytes.
bool CopyWithinFile(PlatformHandle file, uint64_t from, uint64_t to, uint64_t size,
                    size_t blockSize = size_t{1} << 20);
