// What the extraction tests need of the file system beyond the platform seam: file times read
// back, folder listings, a pipe that collects what is written into it, and the committed fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_folder.h"
#include "tests/support/zip_builder.h"

namespace fs = std::filesystem;

// An archive of just these entries.
TestArchive ArchiveOf(std::vector<TestEntry> entries);

// Deterministic, incompressible bytes.
std::string RandomBytes(size_t size, uint32_t seed);

// A committed fixture under tests/data, reachable natively and under Wine.
fs::path TestDataPath(const char* name);

// The name that GetZipEntry gives for each entry of a committed fixture, in order, or
// "<result N>" for an entry that fails; nothing when the fixture does not open.
std::vector<std::u16string> FixtureEntryNames(const char* name);

// File times read back from the file system as FILETIME ticks. POSIX has no creation time.
struct StoredTimes {
    uint64_t creation;
    uint64_t access;
    uint64_t write;
    bool hasCreation;
};
bool ReadStoredTimes(const fs::path& path, StoredTimes* out);

// Whether the system refuses to open this read-only file for writing. Windows does; Wine run by
// root does not, as it leaves the check to the Unix permissions that root passes. The POSIX
// platform layer refuses it itself.
bool SystemRefusesWritingTo(const fs::path& readOnlyFile);

// Every path below `folder`, relative to it, sorted.
std::string ListTree(const fs::path& folder);

// A named pipe (Windows) or FIFO (POSIX, inside `folder`) whose reader keeps what arrives.
class PipeSink {
  public:
    explicit PipeSink(const fs::path& folder);
    ~PipeSink();
    PipeSink(const PipeSink&) = delete;
    PipeSink& operator=(const PipeSink&) = delete;
    const std::u16string& path() const { return path_; }
    // Everything written, once the writer has closed its end.
    std::string Collect();

  private:
    std::u16string path_;
    intptr_t handle_;
    std::string data_;
    std::thread reader_;
};
