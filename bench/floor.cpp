// The floor the benchmark holds the launcher against: every entry of a zip archive inflated from
// memory and written with write(2), and nothing else: no checks of the archive, no CRC-32, no
// attributes or times. Folders are made once each.
//   bench_floor ARCHIVE FOLDER
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

namespace {

constexpr uint32_t kBlockSize = 256 * 1024;

uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Makes every folder on the way to `folder` (relative, "/"-separated) once per run.
void MakeFolders(const std::string& root, const std::string& folder, std::set<std::string>* made) {
    for (size_t cut = folder.find('/');; cut = folder.find('/', cut + 1)) {
        const std::string step = folder.substr(0, cut);
        if (!step.empty() && made->insert(step).second) mkdir((root + step).c_str(), 0777);
        if (cut == std::string::npos) return;
    }
}

bool Inflate(z_stream* z, const uint8_t* data, uint32_t size, int fd, uint8_t* block) {
    inflateReset(z);
    z->next_in = const_cast<uint8_t*>(data);
    z->avail_in = size;
    int r = Z_OK;
    while (r == Z_OK) {
        z->next_out = block;
        z->avail_out = kBlockSize;
        r = inflate(z, Z_NO_FLUSH);
        if (!WriteAll(fd, block, kBlockSize - z->avail_out)) return false;
    }
    return r == Z_STREAM_END;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_floor ARCHIVE FOLDER\n");
        return 2;
    }
    const int archive = open(argv[1], O_RDONLY);
    struct stat info {};
    if (archive < 0 || fstat(archive, &info) != 0 || info.st_size < 22) return 1;
    const auto size = static_cast<size_t>(info.st_size);
    const auto* bytes =
        static_cast<const uint8_t*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, archive, 0));
    if (bytes == MAP_FAILED) return 1;

    size_t end = size - 22;
    while (end > 0 && Le32(bytes + end) != 0x06054B50) --end;
    const uint32_t count = Le16(bytes + end + 10);
    const uint8_t* central = bytes + Le32(bytes + end + 16);

    const std::string root = std::string(argv[2]) + "/";
    std::set<std::string> made;
    static uint8_t block[kBlockSize];
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t method = Le16(central + 10);
        const uint32_t compressed = Le32(central + 20);
        const uint32_t nameLength = Le16(central + 28);
        const std::string name(reinterpret_cast<const char*>(central + 46), nameLength);
        const uint8_t* local = bytes + Le32(central + 42);
        const uint8_t* data = local + 30 + Le16(local + 26) + Le16(local + 28);
        central += 46 + nameLength + Le16(central + 30) + Le16(central + 32);

        const size_t slash = name.rfind('/');
        if (slash != std::string::npos) MakeFolders(root, name.substr(0, slash), &made);
        if (name.empty() || name.back() == '/') continue;
        const int fd = open((root + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return 1;
        const bool ok =
            method == 0 ? WriteAll(fd, data, compressed) : Inflate(&z, data, compressed, fd, block);
        if (close(fd) != 0 || !ok) return 1;
    }
    inflateEnd(&z);
    return 0;
}
