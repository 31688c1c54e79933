#include "packer/file_sink.h"

#include <algorithm>
#include <cstring>

FileSink::FileSink(PlatformHandle file, uint64_t start, size_t blockSize)
    : file_(file), start_(start), blockSize_(blockSize) {
    block_.reserve(blockSize_);
}

bool FileSink::Append(const uint8_t* data, size_t size) {
    while (size > 0) {
        const size_t n = std::min(size, blockSize_ - block_.size());
        block_.insert(block_.end(), data, data + n);
        data += n;
        size -= n;
        position_ += n;
        if (block_.size() == blockSize_ && !Flush()) return false;
    }
    return true;
}

bool FileSink::Overwrite(uint64_t at, const uint8_t* data, size_t size) {
    if (at < blockAt_) {  // the part already written goes to the file again
        const size_t written = static_cast<size_t>(std::min<uint64_t>(size, blockAt_ - at));
        if (!WriteFileAt(file_, start_ + at, data, written)) return false;
        at += written;
        data += written;
        size -= written;
    }
    if (size > 0) std::memcpy(block_.data() + (at - blockAt_), data, size);
    return true;
}

void FileSink::MoveBack(uint64_t to) {
    if (to >= blockAt_) {
        block_.resize(static_cast<size_t>(to - blockAt_));
    } else {
        block_.clear();
        blockAt_ = to;
    }
    position_ = to;
}

bool FileSink::Flush() {
    if (block_.empty()) return true;
    if (!WriteFileAt(file_, start_ + blockAt_, block_.data(), block_.size())) return false;
    blockAt_ += block_.size();
    block_.clear();
    return true;
}

bool WriteFileAt(PlatformHandle file, uint64_t at, const uint8_t* data, size_t size) {
    if (!PlatformSeekFile(file, at)) return false;
    constexpr size_t kMostAtOnce = size_t{1} << 30;
    while (size > 0) {
        const size_t n = std::min(size, kMostAtOnce);
        if (!PlatformWriteFile(file, data, static_cast<uint32_t>(n))) return false;
        data += n;
        size -= n;
    }
    return true;
}

bool CopyWithinFile(PlatformHandle file, uint64_t from, uint64_t to, uint64_t size,
                    size_t blockSize) {
    ByteBuffer block(blockSize);
    for (uint64_t done = 0; done < size;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(size - done, blockSize));
        uint32_t got = 0;
        if (!PlatformSeekFile(file, from + done) || !PlatformReadFile(file, block.data(), n, &got))
            return false;
        if (got == 0) return false;  // the file is shorter than it should be
        if (!WriteFileAt(file, to + done, block.data(), got)) return false;
        done += got;
    }
    return true;
}
