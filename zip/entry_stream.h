// Delivers the uncompressed bytes of the reader's current entry, stored or raw-deflated, with a
// running CRC-32 that is compared with the central header's when the stream is closed. Entry data
// is used where it lies in the archive's memory; it is never copied into a buffer of the stream's.
// A closed stream is kept by the reader, so that the next entry reuses its decoder (reset, not
// made again) and its output block: a whole archive is read with one of each.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "zip/archive_source.h"
#include "zip/directory_reader.h"
#include "zip/reader_result.h"

// Entry data is taken from the source in pieces of at most this size for ReadEntryStream, so that
// data running past the end of the archive fails the read that needs the piece crossing the end.
constexpr uint32_t kEntryInputPiece = 16384;
// The most ReadEntryBlock delivers at once: large enough that writing costs few calls, small
// enough that inflate, the CRC-32 and the write all find it in the processor's cache.
constexpr uint32_t kEntryBlockSize = 256 * 1024;

struct EntryStream {
    z_stream decoder;  // next_in/avail_in: the part of the current piece of entry data not yet used
    uint8_t* outputBlock;   // kEntryBlockSize bytes for inflated data; made for the first deflated
                            // entry and kept
    uint32_t dataPosition;  // archive offset of the next byte of entry data
    bool decoderReady;      // inflateInit2 succeeded; kept across entries, reset for each
    uint32_t crc;
    uint32_t expectedCrc;
    uint32_t compressedLeft;
    uint32_t uncompressedLeft;
    ArchiveSource* source;  // borrowed from the reader
    uint32_t method;
    uint32_t prefixBytes;
};

ReaderResult OpenEntryStream(ZipDirectoryReader* reader);
// Bytes delivered into `buffer` (0 when nothing more comes), or a negative ReaderResult.
int32_t ReadEntryStream(ZipDirectoryReader* reader, void* buffer, uint32_t length);
// The next piece of the open entry, at most kEntryBlockSize bytes, without a copy into the
// caller's memory: stored bytes where they lie in the archive, inflated ones in the stream's
// output block. `*block` stays valid until the next call on the reader's stream. Returns the
// count as ReadEntryStream does; a deflated entry's pieces are whole blocks but for the last.
int32_t ReadEntryBlock(ZipDirectoryReader* reader, const uint8_t** block);
ReaderResult CloseEntryStream(ZipDirectoryReader* reader);
// Closes a stream that is still open and frees the one the reader keeps between entries. Due
// before CloseDirectoryReader.
void ReleaseEntryStream(ZipDirectoryReader* reader);
