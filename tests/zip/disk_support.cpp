#include "tests/zip/disk_support.h"

#include <algorithm>
#include <vector>

#include "zip/zip_archive.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TestArchive ArchiveOf(std::vector<TestEntry> entries) {
    TestArchive archive;
    archive.entries = std::move(entries);
    return archive;
}

std::string RandomBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

fs::path TestDataPath(const char* name) { return fs::path(TEST_DATA_DIR) / name; }

std::vector<std::u16string> FixtureEntryNames(const char* name) {
    const std::string bytes = ReadFileBytes(TestDataPath(name));
    ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (archive == nullptr) return {};
    ZipEntryInfo info{};
    GetZipEntry(archive, -1, &info);
    std::vector<std::u16string> names;
    for (int32_t i = 0, count = info.index; i < count; ++i) {
        const ZipResult result = GetZipEntry(archive, i, &info);
        const std::string failure = "<result " + std::to_string(result) + ">";
        names.push_back(result == ZipOk ? info.name
                                        : std::u16string(failure.begin(), failure.end()));
    }
    CloseZipArchive(archive);
    return names;
}

std::string ListTree(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        names.push_back(fs::relative(item.path(), folder).generic_string());
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names) out += name + "\n";
    return out;
}

#ifdef _WIN32

bool ReadStoredTimes(const fs::path& path, StoredTimes* out) {
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME c, a, w;
    const bool ok = GetFileTime(file, &c, &a, &w) != FALSE;
    CloseHandle(file);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    *out = {ticks(c), ticks(a), ticks(w), true};
    return ok;
}

bool SystemRefusesWritingTo(const fs::path& readOnlyFile) {
    const HANDLE file =
        CreateFileW(readOnlyFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    return false;
}

PipeSink::PipeSink(const fs::path&) {
    static int pipeCounter = 0;
    const std::string name = "\\\\.\\pipe\\zip-extract-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(++pipeCounter);
    path_.assign(name.begin(), name.end());
    const HANDLE pipe =
        CreateNamedPipeW(reinterpret_cast<const wchar_t*>(path_.c_str()), PIPE_ACCESS_INBOUND,
                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    handle_ = reinterpret_cast<intptr_t>(pipe);
    reader_ = std::thread([this, pipe] {
        ConnectNamedPipe(pipe, nullptr);
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) data_.append(buffer, n);
    });
}

PipeSink::~PipeSink() {
    if (reader_.joinable()) {
        // Nobody connected: connect and leave at once, so that the reader ends.
        const HANDLE client = CreateFileW(reinterpret_cast<const wchar_t*>(path_.c_str()),
                                          GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
        reader_.join();
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string PipeSink::Collect() {
    reader_.join();
    return data_;
}

#else

bool ReadStoredTimes(const fs::path& path, StoredTimes* out) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    auto ticks = [](const timespec& t) {
        return static_cast<uint64_t>((static_cast<int64_t>(t.tv_sec) + 11644473600LL) * 10000000 +
                                     t.tv_nsec / 100);
    };
    *out = {0, ticks(info.st_atim), ticks(info.st_mtim), false};
    return true;
}

bool SystemRefusesWritingTo(const fs::path&) { return true; }

// The reader end is opened first, without waiting, so the writer finds a reader; what the tests
// write fits the pipe's buffer, so no thread is needed.
PipeSink::PipeSink(const fs::path& folder) : handle_(-1) {
    const fs::path fifo = folder / "pipe";
    path_ = fifo.u16string();
    if (mkfifo(fifo.c_str(), 0666) == 0) handle_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
}

PipeSink::~PipeSink() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

std::string PipeSink::Collect() {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(static_cast<int>(handle_), buffer, sizeof buffer)) > 0) {
        data_.append(buffer, static_cast<size_t>(n));
    }
    return data_;
}

#endif
