#include "zip/archive_source.h"

#include <cstring>

#include "platform/little_endian.h"

ArchiveSource* CreateMemorySource(const uint8_t* data, uint32_t length, ReaderResult* result) {
    auto* source = new ArchiveSource{0, data, length, 0};
    if (result != nullptr) *result = ReaderOk;
    return source;
}

uint32_t SourceRead(ArchiveSource* source, void* buffer, uint32_t itemSize, uint32_t itemCount) {
    if (itemSize == 0) return 0;
    // The request is computed in 64 bits so that a large item count cannot wrap to a small one.
    const uint64_t wanted = static_cast<uint64_t>(itemSize) * itemCount;
    const uint32_t available =
        source->position < source->length ? source->length - source->position : 0;
    const uint32_t copied = wanted < available ? static_cast<uint32_t>(wanted) : available;
    if (copied > 0) std::memcpy(buffer, source->data + source->position, copied);
    source->position += copied;
    return copied / itemSize;
}

const uint8_t* SourceView(ArchiveSource* source, uint32_t length) {
    if (source->position > source->length || source->length - source->position < length) {
        return nullptr;
    }
    const uint8_t* bytes = source->data + source->position;
    source->position += length;
    return bytes;
}

ReaderResult SourceReadByte(ArchiveSource* source, uint32_t* value) {
    uint8_t byte = 0;
    if (SourceRead(source, &byte, 1, 1) == 1) *value = byte;
    return ReaderOk;
}

namespace {

// Bytes beyond the end of the data count as 0: a memory source's byte reads cannot fail, so
// neither can these.
uint32_t ReadPastEnd(ArchiveSource* source, uint32_t count) {
    uint32_t assembled = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t byte = 0;
        SourceReadByte(source, &byte);
        assembled |= byte << (8 * i);
    }
    return assembled;
}

}  // namespace

ReaderResult SourceReadUInt16(ArchiveSource* source, uint32_t* value) {
    const uint8_t* bytes = SourceView(source, 2);
    *value = bytes != nullptr ? ReadLe16(bytes) : ReadPastEnd(source, 2);
    return ReaderOk;
}

ReaderResult SourceReadUInt32(ArchiveSource* source, uint32_t* value) {
    const uint8_t* bytes = SourceView(source, 4);
    *value = bytes != nullptr ? ReadLe32(bytes) : ReadPastEnd(source, 4);
    return ReaderOk;
}

bool SourceSeek(ArchiveSource* source, uint32_t offset) {
    source->position = offset;
    return true;
}

void SourceSeekToEnd(ArchiveSource* source) { source->position = source->length; }

uint32_t SourceTell(const ArchiveSource* source) { return source->position; }

void SourceClose(ArchiveSource* source) { delete source; }
