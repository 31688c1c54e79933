#include "packer/zip_stream.h"

#include <zlib.h>

#include "packer/text.h"

namespace {

constexpr char16_t kTooLarge[] = u"the archive would pass 4 GiB, which the launcher cannot read";

ZipStreamStatus Refuse(std::u16string* error, const std::u16string& reason) {
    *error = reason;
    return ZipStreamStatus::kRefused;
}

ZipStreamStatus WriteFailed(std::u16string* error) {
    *error = PlatformLastErrorText();
    return ZipStreamStatus::kWriteFailed;
}

ZipStreamStatus ReadFailed(std::u16string* error, const std::u16string& path) {
    *error = u"cannot read the file " + Quoted(path) + u": " + PlatformLastErrorText();
    return ZipStreamStatus::kRefused;
}

// One pass over a file's data: its blocks as they come, with their CRC-32 and count.
struct FileData {
    PlatformHandle file;
    ByteBuffer* buffer;  // as large as a block
    const ProgressHook* hook;
    bool again = false;  // the file is read a second time: its bytes are not counted again
    bool stopped = false;
    const uint8_t* block = nullptr;
    uint32_t blockSize = 0;  // 0 at the end
    uint32_t crc = 0;
    uint64_t size = 0;

    // The next block (none at the end). False when reading failed, the file grew past 4 GiB
    // while being read, or the hook stopped the work (`stopped`).
    bool Next() {
        block = buffer->data();
        if (!PlatformReadFile(file, buffer->data(), static_cast<uint32_t>(buffer->size()),
                              &blockSize)) {
            return false;
        }
        size += blockSize;
        if (size > kZipLimit) return false;
        crc = static_cast<uint32_t>(crc32(crc, block, blockSize));
        stopped = !(*hook)(0, again ? 0 : blockSize);
        return !stopped;
    }
};

// The data written by one pass, and the PE words of it.
struct Written {
    uint64_t size = 0;
    PeWordSum sum;
};

// Appends `size` bytes at the data's offset `at` in the archive.
bool Put(ZipStream* zip, uint64_t at, const uint8_t* data, size_t size, Written* written) {
    written->sum.Add(at + written->size, data, size);
    written->size += size;
    return zip->sink->Append(data, size);
}

enum class Pass { kDone, kReadFailed, kWriteFailed, kNoDeflate, kStopped };

Pass ReadFailedOrStopped(const FileData& data) {
    return data.stopped ? Pass::kStopped : Pass::kReadFailed;
}

// Deflates the file into the sink; kNoDeflate when zlib refuses to start.
Pass DeflatePass(ZipStream* zip, FileData* data, uint64_t at, Written* written, bool* smaller) {
    z_stream stream;
    if (!StartRawDeflate(&stream, zip->level)) return Pass::kNoDeflate;
    ByteBuffer& out = zip->deflatedBlock;
    Pass pass = Pass::kDone;
    int result = Z_OK;
    for (bool end = false; !end && pass == Pass::kDone;) {
        if (!data->Next()) {
            pass = ReadFailedOrStopped(*data);
            break;
        }
        end = data->blockSize == 0;
        stream.next_in = const_cast<Bytef*>(data->block);
        stream.avail_in = data->blockSize;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            result = deflate(&stream, end ? Z_FINISH : Z_NO_FLUSH);
            const size_t n = out.size() - stream.avail_out;
            if (!Put(zip, at, out.data(), n, written)) {
                pass = Pass::kWriteFailed;
                break;
            }
        } while (stream.avail_out == 0 || (end && result == Z_OK));
    }
    deflateEnd(&stream);
    *smaller = result == Z_STREAM_END && written->size < data->size;
    return pass;
}

// Copies the file into the sink as it is.
Pass StorePass(ZipStream* zip, FileData* data, uint64_t at, Written* written) {
    for (;;) {
        if (!data->Next()) return ReadFailedOrStopped(*data);
        if (data->blockSize == 0) return Pass::kDone;
        if (!Put(zip, at, data->block, data->blockSize, written)) {
            return Pass::kWriteFailed;
        }
    }
}

// Writes the file's data after its header at `dataAt`: deflated when that makes it smaller, else
// stored. Fills in the header's fields.
ZipStreamStatus WriteFileData(ZipStream* zip, const std::u16string& path, uint64_t dataAt,
                              ZipEntryData* entry, PeWordSum* sum, std::u16string* error) {
    FileData data{PlatformOpenFileToRead(path.c_str(), kZipLimit), &zip->readBlock, &zip->progress};
    if (data.file == kInvalidPlatformHandle) return ReadFailed(error, path);
    zip->readBlock.resize(zip->blockSize);
    zip->deflatedBlock.resize(zip->blockSize);
    Written written;
    bool smaller = false;
    Pass pass = Pass::kNoDeflate;
    if (zip->level != 0) pass = DeflatePass(zip, &data, dataAt, &written, &smaller);
    if ((pass == Pass::kDone && !smaller) || pass == Pass::kNoDeflate) {
        // Stored: the file again from its start, over what deflating wrote.
        zip->sink->MoveBack(dataAt);
        written = Written{};
        const bool again = pass == Pass::kNoDeflate || PlatformSeekFile(data.file, 0);
        data.crc = 0;
        data.size = 0;
        data.again = pass != Pass::kNoDeflate;
        pass = again ? StorePass(zip, &data, dataAt, &written) : Pass::kReadFailed;
        smaller = false;
    }
    ZipStreamStatus status = ZipStreamStatus::kAdded;
    if (pass == Pass::kReadFailed) status = ReadFailed(error, path);
    if (pass == Pass::kWriteFailed) status = WriteFailed(error);
    if (pass == Pass::kStopped) status = ZipStreamStatus::kStopped;
    PlatformCloseFile(data.file);
    if (status != ZipStreamStatus::kAdded) return status;
    *entry = ZipEntryData{smaller ? kZipDeflated : kZipStored, data.crc,
                          static_cast<uint32_t>(written.size), static_cast<uint32_t>(data.size)};
    sum->total += written.sum.total;
    if (dataAt + written.size > kZipLimit) return Refuse(error, kTooLarge);
    return ZipStreamStatus::kAdded;
}

}  // namespace

ZipStreamStatus AddZipStreamEntry(ZipStream* zip, const ZipEntryFacts& facts,
                                  const std::u16string& path, std::u16string* error) {
    if (zip->entries >= kMaxZipEntries) {
        return Refuse(error, u"more than 65,535 entries, which the launcher cannot read");
    }
    const ZipEntryHeader header = MakeZipEntryHeader(facts);
    const uint64_t offset = zip->sink->position();
    // The header first with the data's fields still empty, completed below.
    ZipEntryData entry{kZipStored, 0, 0, 0};
    ByteBuffer local;
    AppendLocalHeader(&local, header, entry);
    if (!zip->sink->Append(local.data(), local.size())) return WriteFailed(error);
    PeWordSum data;
    if (!facts.isFolder) {
        const ZipStreamStatus status =
            WriteFileData(zip, path, offset + local.size(), &entry, &data, error);
        if (status != ZipStreamStatus::kAdded) return status;
    }
    if (offset + local.size() + entry.compressedSize > kZipLimit) return Refuse(error, kTooLarge);
    local.clear();
    AppendLocalHeader(&local, header, entry);
    if (!zip->sink->Overwrite(offset, local.data(), local.size())) return WriteFailed(error);
    zip->sum.Add(offset, local.data(), local.size());
    zip->sum.total += data.total;
    AppendCentralHeader(&zip->directory, header, entry, static_cast<uint32_t>(offset));
    ++zip->entries;
    if (!facts.isFolder && !zip->progress(1, 0)) return ZipStreamStatus::kStopped;
    return ZipStreamStatus::kAdded;
}

ZipStreamStatus FinishZipStream(ZipStream* zip, std::u16string* error) {
    const uint64_t directoryAt = zip->sink->position();
    if (directoryAt + zip->directory.size() + 22 > kZipLimit) return Refuse(error, kTooLarge);
    AppendEndRecord(&zip->directory, zip->entries, static_cast<uint32_t>(zip->directory.size()),
                    static_cast<uint32_t>(directoryAt));
    zip->sum.Add(directoryAt, zip->directory.data(), zip->directory.size());
    const bool written =
        zip->sink->Append(zip->directory.data(), zip->directory.size()) && zip->sink->Flush();
    ByteBuffer().swap(zip->directory);
    return written ? ZipStreamStatus::kAdded : WriteFailed(error);
}
