// The project's zip writer: entries as the launcher unpacks them faithfully. Windows attribute
// bits in the low byte of the external attributes and a Unix mode whose owner-write bit agrees
// with the read-only bit in the high half; the modification time as UTC in the DOS fields and
// all known times in an extended timestamp block; names in UTF-8, flagged (bit 11) only when
// they are not ASCII; data deflated, or stored when deflating does not make it smaller.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"
#include "platform/platform.h"

constexpr uint32_t kMaxZipEntries = 0xFFFF;  // no zip64: the end record counts in 16 bits

struct ZipEntryFacts {
    std::u16string name;  // "/" between steps; a folder's ends with "/"
    bool isFolder;
    uint32_t attributes;  // Windows bits; read-only, hidden, system and archive are kept
    FileTime writeTime;
    FileTime accessTime;
    FileTime creationTime;
    bool hasCreationTime;
};

struct ZipWriter {
    int level = 9;  // 0 stores everything
    ByteBuffer archive;
    ByteBuffer directory;
    uint32_t entries = 0;
};

// Appends one entry. False when the archive would pass 4 GiB or 65,535 entries, which the
// launcher's reader cannot read.
bool AddZipEntry(ZipWriter* writer, const ZipEntryFacts& facts, const ByteBuffer& data,
                 std::u16string* error);

// Appends the central directory and the end record: `archive` is then the whole zip file.
bool FinishZip(ZipWriter* writer, std::u16string* error);

// Seconds since 1970-01-01 UTC, rounded down.
int64_t UnixSecondsOf(const FileTime& time);

// The DOS date (high half) and time (low half) of a UTC time, held within 1980-2107.
uint32_t DosDateTimeOf(int64_t unixSeconds);
