#include "zip/entry_stream.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kLocalHeaderSize = 30;
// Counts and failures share one signed int, so no single read may deliver more than this.
constexpr uint32_t kMaxReadLength = 0x7FFFFFFF;

// Fills the input buffer with the next block of entry data. The stream's counters change only
// once the whole block has arrived, so a failed refill can be tried again by a later read.
ReaderResult Refill(EntryStream* stream) {
    const uint32_t chunk = stream->compressedLeft < kEntryStreamBufferSize ? stream->compressedLeft
                                                                           : kEntryStreamBufferSize;
    if (!SourceSeek(stream->source, stream->prefixBytes + stream->dataPosition)) {
        return ReaderIoError;
    }
    if (SourceRead(stream->source, stream->inputBuffer, chunk, 1) != 1) return ReaderIoError;
    stream->dataPosition += chunk;
    stream->compressedLeft -= chunk;
    stream->decoder.next_in = stream->inputBuffer;
    stream->decoder.avail_in = chunk;
    return ReaderOk;
}

void Deliver(EntryStream* stream, const Bytef* bytes, uint32_t count, int32_t* delivered) {
    stream->crc = static_cast<uint32_t>(crc32(stream->crc, bytes, count));
    stream->uncompressedLeft -= count;
    *delivered += static_cast<int32_t>(count);
}

// Moves stored bytes from the input buffer to the caller's buffer. False when the entry data is
// used up.
bool CopyStored(EntryStream* stream, int32_t* delivered) {
    z_stream& z = stream->decoder;
    if (z.avail_in == 0) return false;
    const uint32_t n = z.avail_out < z.avail_in ? z.avail_out : z.avail_in;
    std::memcpy(z.next_out, z.next_in, n);
    Deliver(stream, z.next_out, n, delivered);
    z.avail_in -= n;
    z.avail_out -= n;
    z.next_in += n;
    z.next_out += n;
    return true;
}

// Runs one inflate step straight into the caller's buffer. False when the decoder can go no
// further: the end of the deflate data, no progress possible, damaged data or any other failure.
bool InflateStep(EntryStream* stream, int32_t* delivered) {
    if (!stream->decoderReady) return false;
    z_stream& z = stream->decoder;
    const uLong before = z.total_out;
    Bytef* start = z.next_out;
    const int r = inflate(&z, Z_SYNC_FLUSH);
    Deliver(stream, start, static_cast<uint32_t>(z.total_out - before), delivered);
    return r == Z_OK;
}

}  // namespace

ReaderResult OpenEntryStream(ZipDirectoryReader* reader) {
    if (reader == nullptr || !reader->entryValid) return ReaderBadArgument;
    if (reader->openStream != nullptr) CloseEntryStream(reader);

    uint32_t variableSize = 0;
    uint32_t localExtraOffset = 0;
    uint32_t localExtraSize = 0;
    if (CheckLocalHeader(reader, &variableSize, &localExtraOffset, &localExtraSize) != ReaderOk) {
        return ReaderBadArchive;
    }

    auto* stream = new (std::nothrow) EntryStream{};
    if (stream == nullptr) return ReaderNoMemory;
    stream->inputBuffer = new (std::nothrow) uint8_t[kEntryStreamBufferSize];
    if (stream->inputBuffer == nullptr) {
        delete stream;
        return ReaderNoMemory;
    }

    const CentralEntryInfo& entry = reader->currentEntry;
    stream->decoderReady = false;
    stream->expectedCrc = entry.storedCrc32;
    stream->crc = 0;
    stream->method = entry.compressionMethod;
    stream->source = reader->source;
    stream->prefixBytes = reader->prefixBytes;
    stream->decoder.next_in = nullptr;
    stream->decoder.avail_in = 0;
    if (stream->method != 0) {
        stream->decoder.zalloc = nullptr;
        stream->decoder.zfree = nullptr;
        stream->decoder.opaque = nullptr;
        // A decoder that cannot be set up makes the entry read as empty; the open still succeeds.
        stream->decoderReady = inflateInit2(&stream->decoder, -MAX_WBITS) == Z_OK;
    }
    stream->compressedLeft = entry.compressedSize;
    stream->uncompressedLeft = entry.uncompressedSize;
    stream->dataPosition = reader->localHeaderOffset + kLocalHeaderSize + variableSize;

    reader->openStream = stream;
    return ReaderOk;
}

int32_t ReadEntryStream(ZipDirectoryReader* reader, void* buffer, uint32_t length) {
    if (reader == nullptr || reader->openStream == nullptr) return ReaderBadArgument;
    if (length == 0) return 0;
    EntryStream* stream = reader->openStream;
    z_stream& z = stream->decoder;

    uint32_t wanted = length < stream->uncompressedLeft ? length : stream->uncompressedLeft;
    if (wanted > kMaxReadLength) wanted = kMaxReadLength;
    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = wanted;
    int32_t delivered = 0;

    while (z.avail_out > 0) {
        if (z.avail_in == 0 && stream->compressedLeft > 0) {
            const ReaderResult r = Refill(stream);
            if (r != ReaderOk) return r;
        }
        const bool more =
            stream->method == 0 ? CopyStored(stream, &delivered) : InflateStep(stream, &delivered);
        if (!more) break;
    }
    return delivered;
}

ReaderResult CloseEntryStream(ZipDirectoryReader* reader) {
    if (reader == nullptr || reader->openStream == nullptr) return ReaderBadArgument;
    EntryStream* stream = reader->openStream;

    // Only a fully delivered entry can be judged; a partial read says nothing about the data.
    ReaderResult result = ReaderOk;
    if (stream->uncompressedLeft == 0 && stream->crc != stream->expectedCrc) {
        result = ReaderCrcMismatch;
    }

    delete[] stream->inputBuffer;
    if (stream->decoderReady) inflateEnd(&stream->decoder);
    delete stream;
    reader->openStream = nullptr;
    return result;
}
