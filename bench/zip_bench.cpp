// Opening a ~3 MB archive from memory, listing its entries, and extracting them all to a
// temporary folder. Native only; run by hand: out/native/bench/zip_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "tests/support/zip_builder.h"
#include "zip/extract.h"
#include "zip/zip_archive.h"

namespace {

constexpr int kEntriesPerKind = 64;

// 64 stored entries of 32 KiB random bytes and 64 deflated entries of 64 KiB text-like bytes.
const Bytes& BenchArchive(uint64_t* uncompressedTotal) {
    static uint64_t total = 0;
    static const Bytes archive = [] {
        std::mt19937 random(117);
        TestArchive layout;
        for (int i = 0; i < kEntriesPerKind; ++i) {
            std::string noise(32 * 1024, '\0');
            for (char& c : noise) c = static_cast<char>(random());
            std::string text;
            while (text.size() < 64 * 1024) {
                text += "line " + std::to_string(random() % 100000) + " of entry " +
                        std::to_string(i) + "\n";
            }
            total += noise.size() + text.size();
            layout.entries.push_back(MakeEntry("stored_" + std::to_string(i) + ".bin", noise, 0));
            layout.entries.push_back(MakeEntry("deflated_" + std::to_string(i) + ".txt", text, 8));
        }
        return BuildZip(layout);
    }();
    *uncompressedTotal = total;
    return archive;
}

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

void BM_OpenAndList(benchmark::State& state) {
    uint64_t total = 0;
    const Bytes& bytes = BenchArchive(&total);
    state.counters["archive_bytes"] = static_cast<double>(bytes.size());
    for (auto _ : state) {
        ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (archive == nullptr) {
            state.SkipWithError("open failed");
            break;
        }
        ZipEntryInfo info;
        int32_t count = 0;
        while (GetZipEntry(archive, count, &info) == ZipOk) ++count;
        benchmark::DoNotOptimize(count);
        CloseZipArchive(archive);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2 * kEntriesPerKind);
}
BENCHMARK(BM_OpenAndList);

void BM_ExtractAll(benchmark::State& state) {
    uint64_t total = 0;
    const Bytes& bytes = BenchArchive(&total);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("zip_bench_" + std::to_string(::getpid()));
    const std::string prefix = folder.string() + "/";
    for (auto _ : state) {
        // Entries made on DOS unpack read-only, so each round writes into an empty folder.
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        state.ResumeTiming();
        ZipArchive* archive = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (archive == nullptr) {
            state.SkipWithError("open failed");
            break;
        }
        ZipEntryInfo info;
        for (int32_t i = 0; GetZipEntry(archive, i, &info) == ZipOk; ++i) {
            std::u16string path = Widen(prefix) + info.name;
            const ZipResult result = UnzipEntryToFile(archive, path.c_str(), i);
            if (result != ZipOk) {
                state.SkipWithError(("extraction failed with " + std::to_string(result)).c_str());
                break;
            }
        }
        CloseZipArchive(archive);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ExtractAll)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
