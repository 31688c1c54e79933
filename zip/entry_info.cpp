#include "zip/entry_info.h"

#include <zlib.h>

#include <cstring>

#include "platform/file_time.h"
#include "platform/little_endian.h"
#include "platform/utf8.h"

namespace {

constexpr uint32_t kUnixDirectory = 0x40000000;   // mode 0x4000 in the high half
constexpr uint32_t kUnixOwnerWrite = 0x00800000;  // mode 0x80 in the high half
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosSystem = 0x04;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;

constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT"
constexpr uint16_t kUnicodePathId = 0x7075;        // "up"
constexpr uint8_t kUnicodePathVersion = 1;
constexpr uint32_t kUnicodePathHeader = 5;  // version byte and the stored name's CRC-32

}  // namespace

uint32_t MapExternalAttributes(uint32_t external) {
    uint32_t attributes = kAttributeNormal;
    if ((external & kUnixDirectory) != 0 || (external & kDosDirectory) != 0) {
        attributes = kAttributeNormal | kAttributeDirectory;
    }
    if ((external & kDosArchive) != 0) attributes |= kAttributeArchive;
    if ((external & kDosHidden) != 0) attributes |= kAttributeHidden;
    // Archivers for DOS and Windows leave the high half 0, so their entries come out read-only.
    if ((external & kUnixOwnerWrite) == 0 || (external & kDosReadOnly) != 0) {
        attributes |= kAttributeReadOnly;
    }
    if ((external & kDosSystem) != 0) attributes |= kAttributeSystem;
    return attributes;
}

bool NarrowToWide(const char* narrow, char16_t* wide) {
    // The whole buffer is cleared and at most 259 units are written, so the text stays
    // terminated even when its conversion does not fit.
    std::memset(wide, 0, kZipNameUnits * sizeof(char16_t));
    return PlatformAnsiToWide(narrow, wide, static_cast<int>(kZipNameUnits - 1)) != 0;
}

FileTime FileTimeFromDos(uint32_t dosDateTime) {
    FileTime converted{0, 0};
    if (!PlatformDosDateTimeToFileTime(static_cast<uint16_t>(dosDateTime >> 16),
                                       static_cast<uint16_t>(dosDateTime & 0xFFFF), &converted)) {
        return FileTime{0, 0};
    }
    return converted;
}

void ApplyExtendedTimestamp(const uint8_t* extra, uint32_t size, FileTime* writeTime,
                            FileTime* accessTime, FileTime* creationTime) {
    if (size <= 4) return;
    uint32_t pos = 0;
    // Each block is a 16-bit header ID and a 16-bit data size; the loop condition keeps the
    // four header bytes and the flags byte of a "UT" block within the field.
    do {
        if (ReadLe16(extra + pos) == kExtendedTimestampId) {
            // The flags alone say which times follow; the block's own size is not consulted.
            const uint8_t flags = extra[pos + 4];
            pos += 5;
            FileTime* targets[3] = {writeTime, accessTime, creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if ((flags & (1u << bit)) == 0) continue;
                if (size - pos < 4) return;
                *targets[bit] = UnixTimeToFileTime(static_cast<int32_t>(ReadLe32(extra + pos)));
                pos += 4;
            }
            return;
        }
        pos += 4 + ReadLe16(extra + pos + 2);
    } while (pos + 4 < size);
}

bool FindUnicodePath(const uint8_t* extra, uint32_t size, const uint8_t* storedName,
                     uint32_t storedLength, const uint8_t** name, uint32_t* length) {
    // Block by block while a whole block header remains; a block running past the field ends it.
    for (uint32_t pos = 0; size - pos >= 4;) {
        const uint32_t dataSize = ReadLe16(extra + pos + 2);
        if (dataSize > size - pos - 4) return false;
        if (ReadLe16(extra + pos) == kUnicodePathId) {
            const uint8_t* data = extra + pos + 4;
            if (dataSize < kUnicodePathHeader || data[0] != kUnicodePathVersion ||
                ReadLe32(data + 1) != crc32(0L, storedName, storedLength)) {
                return false;
            }
            *name = data + kUnicodePathHeader;
            *length = dataSize - kUnicodePathHeader;
            return true;
        }
        pos += 4 + dataSize;
    }
    return false;
}

bool ConvertEntryName(const uint8_t* name, uint32_t length, uint32_t flags,
                      const uint8_t* centralExtra, uint32_t extraSize, char16_t* wide) {
    std::memset(wide, 0, kZipNameUnits * sizeof(char16_t));
    // The name would end at the zero byte, and the rest of it would be lost.
    if (std::memchr(name, 0, length) != nullptr) return false;
    // At most 259 units with the terminator, as the ANSI conversion writes: the last unit of the
    // buffer stays 0 whichever way the name was stored.
    const size_t units = kZipNameUnits - 1;
    if ((flags & kFlagUtf8Name) != 0) return Utf8ToUtf16Strict(name, length, wide, units);

    const uint8_t* unicodeName = nullptr;
    uint32_t unicodeLength = 0;
    if (FindUnicodePath(centralExtra, extraSize, name, length, &unicodeName, &unicodeLength)) {
        if (std::memchr(unicodeName, 0, unicodeLength) != nullptr) return false;
        return Utf8ToUtf16Strict(unicodeName, unicodeLength, wide, units);
    }
    if (NarrowToWide(reinterpret_cast<const char*>(name), wide)) return true;
    std::memset(wide, 0, kZipNameUnits * sizeof(char16_t));  // a failed conversion may leave a part
    return false;
}
