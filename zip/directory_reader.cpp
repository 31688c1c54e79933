#include "zip/directory_reader.h"

#include <new>

int32_t LastOpenResult = 0;

namespace {

constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kNoSource = 0x10000;
constexpr uint32_t kMaxEndRecordDistance = 0xFFFF;  // 16-bit comment length plus the record
constexpr uint32_t kSearchBlock = 1024;
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodDeflated = 8;
constexpr uint32_t kFlagDataDescriptor = 0x0008;

// Reads one field; a failed read gives 0 and turns `result` into ReaderIoError.
uint32_t ReadField(ArchiveSource* source, int bits, ReaderResult* result) {
    uint32_t value = 0;
    const ReaderResult r =
        bits == 16 ? SourceReadUInt16(source, &value) : SourceReadUInt32(source, &value);
    if (r != ReaderOk) {
        *result = ReaderIoError;
        return 0;
    }
    return value;
}

}  // namespace

uint32_t SaturatedPosition(uint64_t position) {
    return position > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(position);
}

bool SeekToArchiveOffset(ZipDirectoryReader* reader, uint64_t archiveOffset) {
    return SourceSeek(reader->source, SaturatedPosition(reader->prefixBytes + archiveOffset));
}

uint64_t CentralExtraOffset(const ZipDirectoryReader* reader) {
    return static_cast<uint64_t>(reader->entryDirectoryPosition) + kCentralHeaderSize +
           reader->currentEntry.nameLength;
}

uint32_t FindEndRecord(ArchiveSource* source) {
    SourceSeekToEnd(source);
    const uint32_t size = SourceTell(source);
    const uint32_t maxBack = size < kMaxEndRecordDistance ? size : kMaxEndRecordDistance;
    uint8_t* buffer = new (std::nothrow) uint8_t[kSearchBlock + 4];
    if (buffer == nullptr) return 0;

    // Blocks are read from the tail backwards and overlap by 4 bytes, so a signature across a
    // block boundary is still seen; the match nearest the end wins.
    uint32_t backRead = 4;
    uint32_t found = 0;
    while (backRead < maxBack && found == 0) {
        backRead = backRead + kSearchBlock < maxBack ? backRead + kSearchBlock : maxBack;
        const uint32_t readPos = size - backRead;
        const uint32_t readSize =
            size - readPos < kSearchBlock + 4 ? size - readPos : kSearchBlock + 4;
        if (!SourceSeek(source, readPos) || SourceRead(source, buffer, readSize, 1) != 1) break;
        for (uint32_t i = readSize - 4 + 1; i-- > 0;) {
            const uint32_t word = buffer[i] | (buffer[i + 1] << 8) | (buffer[i + 2] << 16) |
                                  (static_cast<uint32_t>(buffer[i + 3]) << 24);
            if (word == kEndRecordSignature) {
                found = readPos + i;
                break;
            }
        }
    }
    delete[] buffer;
    return found;
}

ZipDirectoryReader* OpenDirectoryReader(ArchiveSource* source) {
    LastOpenResult = 0;
    if (source == nullptr) {
        LastOpenResult = kNoSource;
        return nullptr;
    }

    ReaderResult result = ReaderOk;
    // Without an end record the fields are still read at position 0, so that bytes which fail
    // the consistency checks report ReaderBadArchive rather than ReaderIoError.
    const uint32_t endPos = FindEndRecord(source);
    if (endPos == 0) result = ReaderIoError;
    if (!SourceSeek(source, endPos)) result = ReaderIoError;

    ReadField(source, 32, &result);  // the signature, already matched by the search
    const uint32_t thisDisk = ReadField(source, 16, &result);
    const uint32_t directoryDisk = ReadField(source, 16, &result);
    const uint32_t entriesOnDisk = ReadField(source, 16, &result);
    const uint32_t entriesTotal = ReadField(source, 16, &result);
    if (entriesTotal != entriesOnDisk || directoryDisk != 0 || thisDisk != 0) {
        result = ReaderBadArchive;
    }
    const uint32_t directorySize = ReadField(source, 32, &result);
    const uint32_t directoryOffset = ReadField(source, 32, &result);
    ReadField(source, 16, &result);  // the archive comment length

    // The directory must end where the end record begins; summed in 64 bits so that an offset
    // and size that wrap around 32 bits cannot pass.
    const uint64_t endOfArchive = static_cast<uint64_t>(source->initialOffset) + endPos;
    const uint64_t endOfDirectory = static_cast<uint64_t>(directoryOffset) + directorySize;
    if (result == ReaderOk && endOfArchive < endOfDirectory) result = ReaderBadArchive;

    if (result != ReaderOk) {
        SourceClose(source);
        LastOpenResult = result;
        return nullptr;
    }

    auto* reader = new ZipDirectoryReader{};
    reader->source = source;
    reader->entryCount = entriesOnDisk;
    reader->prefixBytes = static_cast<uint32_t>(endOfArchive - endOfDirectory);
    reader->directoryOffset = directoryOffset;
    reader->openStream = nullptr;
    reader->idleStream = nullptr;
    source->initialOffset = 0;  // now carried by prefixBytes
    // A broken first header shows as entryValid false; the open itself has succeeded.
    GoToFirstEntry(reader);
    return reader;
}

void CloseDirectoryReader(ZipDirectoryReader* reader) {
    if (reader == nullptr) return;
    SourceClose(reader->source);
    delete reader;
}

ReaderResult ReadCurrentEntryInfo(ZipDirectoryReader* reader, CentralEntryInfo* outInfo,
                                  uint32_t* outLocalHeaderOffset, uint8_t* nameBuffer,
                                  uint32_t nameBufferSize) {
    if (reader == nullptr) return ReaderBadArgument;
    ArchiveSource* source = reader->source;
    ReaderResult result = ReaderOk;
    if (!SeekToArchiveOffset(reader, reader->entryDirectoryPosition)) result = ReaderIoError;

    if (ReadField(source, 32, &result) != kCentralHeaderSignature && result == ReaderOk) {
        result = ReaderBadArchive;
    }
    CentralEntryInfo info{};
    info.versionMadeBy = ReadField(source, 16, &result);
    info.versionNeeded = ReadField(source, 16, &result);
    info.flags = ReadField(source, 16, &result);
    info.compressionMethod = ReadField(source, 16, &result);
    info.dosDateTime = ReadField(source, 32, &result);
    info.storedCrc32 = ReadField(source, 32, &result);
    info.compressedSize = ReadField(source, 32, &result);
    info.uncompressedSize = ReadField(source, 32, &result);
    info.nameLength = ReadField(source, 16, &result);
    info.extraLength = ReadField(source, 16, &result);
    info.commentLength = ReadField(source, 16, &result);
    info.diskNumberStart = ReadField(source, 16, &result);
    info.internalAttributes = ReadField(source, 16, &result);
    info.externalAttributes = ReadField(source, 32, &result);
    ReaderResult offsetResult = ReaderOk;
    const uint32_t localHeaderOffset = ReadField(source, 32, &offsetResult);
    if (offsetResult != ReaderOk) return offsetResult;
    if (result != ReaderOk) return result;

    if (nameBuffer != nullptr) {
        // A name that does not fit is cut to the buffer and left unterminated.
        uint32_t n = nameBufferSize;
        if (info.nameLength < nameBufferSize) {
            nameBuffer[info.nameLength] = 0;
            n = info.nameLength;
        }
        if (info.nameLength > 0 && nameBufferSize > 0 &&
            SourceRead(source, nameBuffer, n, 1) != 1) {
            return ReaderIoError;
        }
    }
    if (outInfo != nullptr) *outInfo = info;
    if (outLocalHeaderOffset != nullptr) *outLocalHeaderOffset = localHeaderOffset;
    return ReaderOk;
}

namespace {

ReaderResult ReadCurrentIntoReader(ZipDirectoryReader* reader) {
    const ReaderResult r =
        ReadCurrentEntryInfo(reader, &reader->currentEntry, &reader->localHeaderOffset, nullptr, 0);
    reader->entryValid = r == ReaderOk;
    return r;
}

}  // namespace

ReaderResult GoToFirstEntry(ZipDirectoryReader* reader) {
    if (reader == nullptr) return ReaderBadArgument;
    reader->entryDirectoryPosition = reader->directoryOffset;
    reader->entryIndex = 0;
    return ReadCurrentIntoReader(reader);
}

ReaderResult GoToNextEntry(ZipDirectoryReader* reader) {
    if (reader == nullptr) return ReaderBadArgument;
    // ">=" rather than "==": with an entry count of 0 there is no next entry either.
    if (!reader->entryValid || reader->entryIndex + 1 >= reader->entryCount) {
        return ReaderEndOfList;
    }
    const CentralEntryInfo& e = reader->currentEntry;
    reader->entryDirectoryPosition =
        SaturatedPosition(static_cast<uint64_t>(reader->entryDirectoryPosition) +
                          kCentralHeaderSize + e.nameLength + e.extraLength + e.commentLength);
    reader->entryIndex += 1;
    return ReadCurrentIntoReader(reader);
}

ReaderResult CheckLocalHeader(ZipDirectoryReader* reader, uint32_t* variableSize,
                              uint32_t* localExtraOffset, uint32_t* localExtraSize) {
    *variableSize = 0;
    *localExtraOffset = 0;
    *localExtraSize = 0;
    // Without a valid current entry there is no central header to compare with.
    if (reader == nullptr || !reader->entryValid) return ReaderBadArgument;
    if (!SeekToArchiveOffset(reader, reader->localHeaderOffset)) return ReaderIoError;

    ArchiveSource* source = reader->source;
    const CentralEntryInfo& central = reader->currentEntry;
    ReaderResult result = ReaderOk;
    // Every comparison is made only while nothing has failed yet; a failed read overrides all.
    auto mismatch = [&result](bool differs) {
        if (result == ReaderOk && differs) result = ReaderBadArchive;
    };

    mismatch(ReadField(source, 32, &result) != kLocalHeaderSignature);
    ReadField(source, 16, &result);  // version needed to extract
    const uint32_t flags = ReadField(source, 16, &result);
    const uint32_t method = ReadField(source, 16, &result);
    mismatch(method != central.compressionMethod || (central.compressionMethod != kMethodStored &&
                                                     central.compressionMethod != kMethodDeflated));
    ReadField(source, 32, &result);  // time and date
    // With a data descriptor (flag bit 3) the local CRC and sizes may be zeros.
    const bool compareSizes = (flags & kFlagDataDescriptor) == 0;
    const uint32_t crc = ReadField(source, 32, &result);
    mismatch(compareSizes && crc != central.storedCrc32);
    const uint32_t compressedSize = ReadField(source, 32, &result);
    mismatch(compareSizes && compressedSize != central.compressedSize);
    const uint32_t uncompressedSize = ReadField(source, 32, &result);
    mismatch(compareSizes && uncompressedSize != central.uncompressedSize);
    const uint32_t nameLength = ReadField(source, 16, &result);
    mismatch(nameLength != central.nameLength);
    const uint32_t extraLength = ReadField(source, 16, &result);

    *variableSize = nameLength + extraLength;
    *localExtraSize = extraLength;
    *localExtraOffset = SaturatedPosition(static_cast<uint64_t>(reader->localHeaderOffset) +
                                          kLocalHeaderSize + nameLength);
    return result;
}
