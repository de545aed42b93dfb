// Speed of the work done on every presentation: decoding and sorting the archive, and writing
// the text output of a full archive.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "core/text_output.h"
#include "model/memory.h"
#include "model/records.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

// A full archive with one record an hour: every record starts a new hour, the most sections
// the text output can have.
MemoryAreas& FullArchive(int circuits) {
    static MemoryAreas areas[2];
    MemoryAreas& a = areas[circuits - 1];
    sim::GeneratorOptions o;
    o.circuits = circuits;
    o.periodIndex = 6;
    sim::GenerateContents(o, a.DeviceImage(), a.ArchiveImage());
    return a;
}

void BM_TextOutputFullTwoCircuitArchive(benchmark::State& state) {
    MemoryAreas& a = FullArchive(2);
    const ImageSnapshot snap = TakeSnapshot(a.DeviceImage());
    const TextOutputSource src{snap, a.DeviceImage(), a.ArchiveImage(),
                               PanelTimeText(a.DeviceImage())};
    const std::string name = "/tmp/vir05-bench-def.txt";
    RunLog log;
    for (auto _ : state) {
        benchmark::DoNotOptimize(WriteTextOutput(name, "", src, log));
    }
    std::remove(name.c_str());
}
BENCHMARK(BM_TextOutputFullTwoCircuitArchive)->Unit(benchmark::kMillisecond);

void BM_TextOutputTextOnly(benchmark::State& state) {
    MemoryAreas& a = FullArchive(2);
    const ImageSnapshot snap = TakeSnapshot(a.DeviceImage());
    const TextOutputSource src{snap, a.DeviceImage(), a.ArchiveImage(),
                               PanelTimeText(a.DeviceImage())};
    static ArchiveOrder order;
    std::string text;
    text.reserve(1 << 21);
    for (auto _ : state) {
        text.clear();
        AppendTextOutput(text, src, order);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_TextOutputTextOnly)->Unit(benchmark::kMillisecond);

void BM_DecodeAndSortOneCircuitArchive(benchmark::State& state) {
    MemoryAreas& a = FullArchive(1);
    static ArchiveOrder order;
    for (auto _ : state) {
        const std::size_t n = SortArchive(a.ArchiveImage(), 1, order);
        int valid = 0;
        long long sum = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t* r = a.ArchiveImage() + order[k].offset;
            if (!DecodeArchiveTime(r).Valid()) continue;
            const CircuitSample s = DecodeSample(r + 4);
            sum += s.T11 + s.T2 + s.Tk + s.Tn + s.Real + s.Base + s.Klap;
            ++valid;
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(valid);
    }
}
BENCHMARK(BM_DecodeAndSortOneCircuitArchive)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vir05
