// The whole conversion run as a process, start to exit, as a scheduler sees it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>

#include "../tests/app/process.h"
#include "model/datafile.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

void BM_ConversionProcess(benchmark::State& state) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vir05-bench-conv";
    std::filesystem::create_directories(dir);
    static MemoryAreas a;
    sim::GeneratorOptions o;
    o.periodIndex = 6;
    sim::GenerateContents(o, a.DeviceImage(), a.ArchiveImage());
    std::memcpy(a.ConfigShadow(), a.DeviceImage(), kImageSize);
    SaveDataFile((dir / "500001.vi5").string(), a);
    for (auto _ : state) {
        const test::ProcessResult r =
            test::RunProgram(VIR05WIN_PATH, {"-z500001.vi5"}, dir.string());
        if (!r.exited || r.exitCode != 0) state.SkipWithError("conversion failed");
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ConversionProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vir05
