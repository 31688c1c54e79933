// The only way the reader touches an archive's bytes: a read position over a borrowed block of
// memory. Reads past the end deliver nothing; no byte outside the block is ever touched.
#pragma once

#include <cstdint>

#include "zip/reader_result.h"

struct ArchiveSource {
    uint32_t initialOffset;  // position that counts as 0; folded into the reader's prefixBytes
    const uint8_t* data;     // borrowed, never copied or freed
    uint32_t length;
    uint32_t position;  // may lie beyond length; reads there deliver nothing
};

ArchiveSource* CreateMemorySource(const uint8_t* data, uint32_t length, ReaderResult* result);

// Copies up to itemSize * itemCount bytes and returns the number of whole items copied.
uint32_t SourceRead(ArchiveSource* source, void* buffer, uint32_t itemSize, uint32_t itemCount);

// The next `length` bytes at the read position, where they lie, when the source holds all of them;
// the position then moves past them as a read would. None, and no move, when fewer remain.
const uint8_t* SourceView(ArchiveSource* source, uint32_t length);

// ReaderOk also at the end of the data, with `value` left unchanged.
ReaderResult SourceReadByte(ArchiveSource* source, uint32_t* value);
ReaderResult SourceReadUInt16(ArchiveSource* source, uint32_t* value);
ReaderResult SourceReadUInt32(ArchiveSource* source, uint32_t* value);

bool SourceSeek(ArchiveSource* source, uint32_t offset);
void SourceSeekToEnd(ArchiveSource* source);
uint32_t SourceTell(const ArchiveSource* source);
void SourceClose(ArchiveSource* source);
