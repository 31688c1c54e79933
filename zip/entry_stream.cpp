#include "zip/entry_stream.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kLocalHeaderSize = 30;
// Counts and failures share one signed int, so no single read may deliver more than this.
constexpr uint32_t kMaxReadLength = 0x7FFFFFFF;

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

// Points the decoder's input at the next piece of entry data, at most `limit` bytes, where it lies
// in the archive. The stream's counters change only once the whole piece is there, so a failed
// refill can be tried again by a later read.
ReaderResult Refill(EntryStream* stream, uint32_t limit) {
    const uint32_t piece = Smaller(stream->compressedLeft, limit);
    const uint64_t position = static_cast<uint64_t>(stream->prefixBytes) + stream->dataPosition;
    if (!SourceSeek(stream->source, SaturatedPosition(position))) return ReaderIoError;
    const uint8_t* bytes = SourceView(stream->source, piece);
    if (bytes == nullptr) return ReaderIoError;
    stream->dataPosition = SaturatedPosition(static_cast<uint64_t>(stream->dataPosition) + piece);
    stream->compressedLeft -= piece;
    stream->decoder.next_in = const_cast<Bytef*>(bytes);  // zlib only reads through it
    stream->decoder.avail_in = piece;
    return ReaderOk;
}

void Deliver(EntryStream* stream, const Bytef* bytes, uint32_t count, int32_t* delivered) {
    stream->crc = static_cast<uint32_t>(crc32(stream->crc, bytes, count));
    stream->uncompressedLeft -= count;
    *delivered += static_cast<int32_t>(count);
}

// Moves stored bytes from the archive to the caller's buffer. False when the entry data is used
// up.
bool CopyStored(EntryStream* stream, int32_t* delivered) {
    z_stream& z = stream->decoder;
    if (z.avail_in == 0) return false;
    const uint32_t n = Smaller(z.avail_out, z.avail_in);
    std::memcpy(z.next_out, z.next_in, n);
    Deliver(stream, z.next_out, n, delivered);
    z.avail_in -= n;
    z.avail_out -= n;
    z.next_in += n;
    z.next_out += n;
    return true;
}

// Runs one inflate step straight into the caller's buffer. Output beyond the entry's size (which
// only the stream's own block has room for) is not delivered. False when the decoder can go no
// further: the end of the deflate data, no progress possible, damaged data or any other failure.
bool InflateStep(EntryStream* stream, int32_t* delivered) {
    if (!stream->decoderReady) return false;
    z_stream& z = stream->decoder;
    const uLong before = z.total_out;
    Bytef* start = z.next_out;
    const int r = inflate(&z, Z_SYNC_FLUSH);
    const auto produced = static_cast<uint32_t>(z.total_out - before);
    Deliver(stream, start, Smaller(produced, stream->uncompressedLeft), delivered);
    return r == Z_OK;
}

// Hands out the next stored bytes where they lie in the archive.
int32_t ViewStored(EntryStream* stream, const uint8_t** block) {
    z_stream& z = stream->decoder;
    if (stream->uncompressedLeft == 0) return 0;
    if (z.avail_in == 0 && stream->compressedLeft > 0) {
        const ReaderResult r = Refill(stream, kEntryBlockSize);
        if (r != ReaderOk) return r;
    }
    const uint32_t n = Smaller(Smaller(z.avail_in, stream->uncompressedLeft), kEntryBlockSize);
    int32_t delivered = 0;
    *block = z.next_in;
    Deliver(stream, z.next_in, n, &delivered);
    z.next_in += n;
    z.avail_in -= n;
    return delivered;
}

// Readies the kept decoder for a new entry: reset when it exists, made when it does not (or when
// a reset fails). A decoder that cannot be made leaves decoderReady false.
void PrepareDecoder(EntryStream* stream) {
    z_stream& z = stream->decoder;
    if (stream->decoderReady && inflateReset(&z) != Z_OK) {
        inflateEnd(&z);
        stream->decoderReady = false;
    }
    if (!stream->decoderReady) {
        z.zalloc = nullptr;
        z.zfree = nullptr;
        z.opaque = nullptr;
        z.next_in = nullptr;
        z.avail_in = 0;
        stream->decoderReady = inflateInit2(&z, -MAX_WBITS) == Z_OK;
    }
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

    EntryStream* stream = reader->idleStream;
    if (stream == nullptr) {
        stream = new (std::nothrow) EntryStream{};
        if (stream == nullptr) return ReaderNoMemory;
        reader->idleStream = stream;
    }
    const CentralEntryInfo& entry = reader->currentEntry;
    if (entry.compressionMethod != 0) {
        if (stream->outputBlock == nullptr) {
            stream->outputBlock = new (std::nothrow) uint8_t[kEntryBlockSize];
            if (stream->outputBlock == nullptr) return ReaderNoMemory;
        }
        // A decoder that cannot be set up makes the entry read as empty; the open still succeeds.
        PrepareDecoder(stream);
    }

    stream->expectedCrc = entry.storedCrc32;
    stream->crc = 0;
    stream->method = entry.compressionMethod;
    stream->source = reader->source;
    stream->prefixBytes = reader->prefixBytes;
    stream->decoder.next_in = nullptr;
    stream->decoder.avail_in = 0;
    stream->compressedLeft = entry.compressedSize;
    stream->uncompressedLeft = entry.uncompressedSize;
    stream->dataPosition = SaturatedPosition(static_cast<uint64_t>(reader->localHeaderOffset) +
                                             kLocalHeaderSize + variableSize);

    reader->idleStream = nullptr;
    reader->openStream = stream;
    return ReaderOk;
}

namespace {

// Fills `buffer` from the open stream with at most `length` bytes of the entry, taking entry data
// in pieces of at most `pieceLimit` bytes. `room` is what the buffer holds: inflate may use all of
// it, for it decodes fastest while its output has room to spare, but no more than `length` bytes
// are delivered.
int32_t ReadInto(EntryStream* stream, void* buffer, uint32_t length, uint32_t room,
                 uint32_t pieceLimit) {
    if (length == 0) return 0;
    z_stream& z = stream->decoder;

    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = Smaller(room, kMaxReadLength);
    const uint32_t wanted = Smaller(Smaller(length, stream->uncompressedLeft), kMaxReadLength);
    const uint32_t leftAfter = stream->uncompressedLeft - wanted;
    if (stream->method == 0) z.avail_out = wanted;  // stored bytes are copied as they are wanted
    int32_t delivered = 0;

    while (z.avail_out > 0 && stream->uncompressedLeft > leftAfter) {
        if (z.avail_in == 0 && stream->compressedLeft > 0) {
            const ReaderResult r = Refill(stream, pieceLimit);
            if (r != ReaderOk) return r;
        }
        const bool more =
            stream->method == 0 ? CopyStored(stream, &delivered) : InflateStep(stream, &delivered);
        if (!more) break;
    }
    return delivered;
}

}  // namespace

int32_t ReadEntryStream(ZipDirectoryReader* reader, void* buffer, uint32_t length) {
    if (reader == nullptr || reader->openStream == nullptr) return ReaderBadArgument;
    const uint32_t wanted = Smaller(length, reader->openStream->uncompressedLeft);
    return ReadInto(reader->openStream, buffer, length, wanted, kEntryInputPiece);
}

int32_t ReadEntryBlock(ZipDirectoryReader* reader, const uint8_t** block) {
    if (reader == nullptr || reader->openStream == nullptr) return ReaderBadArgument;
    EntryStream* stream = reader->openStream;
    if (stream->method == 0) return ViewStored(stream, block);
    // Input pieces as large as the block let one inflate call fill it: zlib copies up to its
    // window's 32 KiB of output after every call, which small pieces would repeat for most bytes.
    *block = stream->outputBlock;
    return ReadInto(stream, stream->outputBlock, kEntryBlockSize, kEntryBlockSize, kEntryBlockSize);
}

ReaderResult CloseEntryStream(ZipDirectoryReader* reader) {
    if (reader == nullptr || reader->openStream == nullptr) return ReaderBadArgument;
    EntryStream* stream = reader->openStream;

    // Only a fully delivered entry can be judged; a partial read says nothing about the data.
    ReaderResult result = ReaderOk;
    if (stream->uncompressedLeft == 0 && stream->crc != stream->expectedCrc) {
        result = ReaderCrcMismatch;
    }
    reader->openStream = nullptr;
    reader->idleStream = stream;
    return result;
}

void ReleaseEntryStream(ZipDirectoryReader* reader) {
    if (reader == nullptr) return;
    if (reader->openStream != nullptr) CloseEntryStream(reader);
    EntryStream* stream = reader->idleStream;
    if (stream == nullptr) return;
    if (stream->decoderReady) inflateEnd(&stream->decoder);
    delete[] stream->outputBlock;
    delete stream;
    reader->idleStream = nullptr;
}
