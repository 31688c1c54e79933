// Reading a whole file, the same on every system: built on the streamed-file calls.
#include <cstdint>
#include <vector>

#include "platform/platform.h"

bool PlatformReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* bytes) {
    bytes->clear();
    const PlatformHandle file = PlatformOpenFileToRead(path, maxBytes);
    if (file == kInvalidPlatformHandle) return false;
    uint64_t size = 0;
    bool readOk = PlatformFileSize(file, &size);
    // One allocation of the size it has now: a launcher of a gigabyte and more is read whole.
    if (readOk) bytes->reserve(static_cast<size_t>(size));
    static constexpr uint32_t kBlock = 65536;
    uint8_t block[kBlock];
    while (readOk) {
        uint32_t got = 0;
        readOk = PlatformReadFile(file, block, kBlock, &got);
        if (!readOk || got == 0) break;
        if (bytes->size() + got > maxBytes) {  // grew while being read
            PlatformNoteFileTooLarge();
            readOk = false;
            break;
        }
        bytes->insert(bytes->end(), block, block + got);
    }
    PlatformCloseFile(file);
    return readOk;
}
