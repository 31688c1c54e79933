#include "packer/pe_checksum.h"

#include <cstring>

void PeWordSum::Add(uint64_t offset, const uint8_t* data, size_t size) {
    if (size == 0) return;
    uint64_t sum = 0;
    if ((offset & 1) != 0) {  // a word's high byte
        sum += static_cast<uint64_t>(data[0]) << 8;
        ++data;
        --size;
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Four words at a time, two in each 32-bit half of `lanes`, which can take 16384 rounds of
    // at most 2 * 0xFFFF each before it must be emptied.
    constexpr uint64_t kLowWords = 0x0000FFFF0000FFFFull;
    while (size >= 8) {
        uint64_t lanes = 0;
        const size_t rounds = size / 8 < 16384 ? size / 8 : 16384;
        for (size_t i = 0; i < rounds; ++i) {
            uint64_t word = 0;
            std::memcpy(&word, data + 8 * i, 8);
            lanes += (word & kLowWords) + ((word >> 16) & kLowWords);
        }
        sum += (lanes & 0xFFFFFFFF) + (lanes >> 32);
        data += 8 * rounds;
        size -= 8 * rounds;
    }
#endif
    for (; size >= 2; data += 2, size -= 2) sum += data[0] | (static_cast<uint32_t>(data[1]) << 8);
    if (size == 1) sum += data[0];
    total += sum;
}

uint32_t FinishPeChecksum(uint64_t total, uint64_t length) {
    // Folding keeps the sum's remainder by 0xFFFF; it is 0 only when every word was.
    while ((total >> 16) != 0) total = (total & 0xFFFF) + (total >> 16);
    return static_cast<uint32_t>(total + length);
}
