// The PE checksum built up piece by piece, in any order: the sum of the file's 16-bit
// little-endian words kept as a plain 64-bit total, so that the totals of parts of a file add
// up to the file's. Each byte counts by its file offset's parity: at an even offset as a word's
// low byte, at an odd one as its high byte.
#pragma once

#include <cstddef>
#include <cstdint>

struct PeWordSum {
    uint64_t total = 0;

    // Adds `size` bytes that lie at `offset` in the file.
    void Add(uint64_t offset, const uint8_t* data, size_t size);
};

// The checksum of a file of `length` bytes whose words sum to `total` (its own field counted as
// zero): the one's-complement sum folded to 16 bits, plus the length.
uint32_t FinishPeChecksum(uint64_t total, uint64_t length);
