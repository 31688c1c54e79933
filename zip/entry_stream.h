// Delivers the uncompressed bytes of the reader's current entry, stored or raw-deflated, with a
// running CRC-32 that is compared with the central header's when the stream is closed.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "zip/archive_source.h"
#include "zip/directory_reader.h"
#include "zip/reader_result.h"

constexpr uint32_t kEntryStreamBufferSize = 16384;

struct EntryStream {
    uint8_t* inputBuffer;  // kEntryStreamBufferSize bytes, owned
    z_stream decoder;
    uint32_t dataPosition;  // archive offset of the next byte of entry data
    bool decoderReady;
    uint32_t crc;
    uint32_t expectedCrc;
    uint32_t compressedLeft;
    uint32_t uncompressedLeft;
    ArchiveSource* source;  // borrowed from the reader
    uint32_t method;
    uint32_t prefixBytes;
};

ReaderResult OpenEntryStream(ZipDirectoryReader* reader);
// Bytes delivered (0 when nothing more comes), or a negative ReaderResult.
int32_t ReadEntryStream(ZipDirectoryReader* reader, void* buffer, uint32_t length);
ReaderResult CloseEntryStream(ZipDirectoryReader* reader);
