// Little-endian fields in byte buffers: appends and in-place writes, beside the reads of
// platform/little_endian.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/little_endian.h"

using ByteBuffer = std::vector<uint8_t>;

inline void WriteLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void AppendLe16(ByteBuffer* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLe32(ByteBuffer* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Zero bytes up to the next multiple of `alignment` (a power of two).
inline void PadTo(ByteBuffer* out, size_t alignment) {
    while (out->size() % alignment != 0) out->push_back(0);
}

// Whether `size` bytes at `offset` lie inside a buffer of `length` bytes, without overflow.
inline bool FitsIn(uint64_t offset, uint64_t size, uint64_t length) {
    return offset <= length && size <= length - offset;
}

// `value` rounded up to a multiple of `alignment` (a power of two), in 64 bits.
inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

// Called as a long piece of work goes on, with the files and bytes it has done since the last
// call (bytes done again count 0); false stops the work. An empty hook lets it go on.
struct ProgressHook {
    bool (*call)(void* context, uint64_t files, uint64_t bytes) = nullptr;
    void* context = nullptr;
    bool operator()(uint64_t files, uint64_t bytes) const {
        return call == nullptr || call(context, files, bytes);
    }
};
