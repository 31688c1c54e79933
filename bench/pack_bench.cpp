// The packing tool over a 100 MB folder, from the folder on disk to the packed file on disk, at
// deflate levels 9, 6 and 0. The folder is PACK_BENCH_FOLDER when it is set (a real
// application folder, which must hold zandro.exe), else one made once in the temporary folder:
// 100 files of 1 MiB, half of them text-like and half random. Native only; run by hand:
//   out/native/bench/pack_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "packer/pack_tool.h"

namespace {

namespace fs = std::filesystem;

void Discard(bool, const std::u16string&, void*) {}

const fs::path& BenchFolder() {
    static const fs::path folder = [] {
        if (const char* given = std::getenv("PACK_BENCH_FOLDER")) return fs::path(given);
        const fs::path made = fs::temp_directory_path() / "pack_bench_folder";
        if (fs::exists(made / "zandro.exe")) return made;
        fs::create_directories(made / "lib");
        std::mt19937 random(117);
        for (int i = 0; i < 100; ++i) {
            std::string data;
            if (i % 2 == 0) {
                while (data.size() < (1u << 20))
                    data += "record " + std::to_string(random() % 100000) + " value\n";
            } else {
                data.resize(1u << 20);
                for (char& c : data) c = static_cast<char>(random());
            }
            data.resize(1u << 20);
            std::ofstream(made / "lib" / ("part" + std::to_string(i) + ".bin"), std::ios::binary)
                << data;
        }
        std::ofstream(made / "zandro.exe", std::ios::binary) << "main program";
        return made;
    }();
    return folder;
}

void BM_PackFolder(benchmark::State& state) {
    const fs::path output = fs::temp_directory_path() / "pack_bench_out.exe";
    const std::u16string level = std::u16string(1, static_cast<char16_t>(u'0' + state.range(0)));
    const std::vector<std::u16string> args = {u"--level", level,
                                              u"" TEST_DATA_DIR "/packer/stub_reloc_after.exe",
                                              BenchFolder().u16string(), output.u16string()};
    uint64_t input = 0;
    for (const auto& entry : fs::recursive_directory_iterator(BenchFolder())) {
        if (entry.is_regular_file()) input += entry.file_size();
    }
    for (auto _ : state) {
        if (RunPackTool(args, PackConsole{Discard, nullptr}) != kPackDone)
            state.SkipWithError("packing failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input));
    state.counters["output_bytes"] = static_cast<double>(fs::file_size(output));
    fs::remove(output);
}
BENCHMARK(BM_PackFolder)->Arg(9)->Arg(6)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
