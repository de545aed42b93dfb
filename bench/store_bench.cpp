// Storing readings: a whole one-circuit archive (7168 records) decoded and stored in SQLite in
// one transaction, the database growing as it would over a fleet.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <vector>

#include "model/bytes.h"
#include "model/layout.h"
#include "poll/increment.h"
#include "poll/store_sqlite.h"
#include "sim/generator.h"

namespace {

using namespace vir05;
using namespace vir05::poll;

void BM_StoreWholeArchive(benchmark::State& state) {
    char pattern[] = "/tmp/vir05-store-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    SqliteStore store(dir + "/bench.sqlite");
    std::string error;
    if (!store.Open(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    sim::GeneratorOptions o;
    o.circuits = 1;
    std::array<std::uint8_t, kImageSize> image{};
    std::vector<std::uint8_t> archive(kArchiveSize);
    sim::GenerateContents(o, image.data(), archive.data());
    const ArchiveBlocks whole = WholeArchiveBlocks(U32(image.data(), addr::ArchPos));
    std::int64_t serial = 700000;
    std::size_t records = 0;
    for (auto _ : state) {
        Reading r;
        r.controller = "ЦТП-" + std::to_string(serial);
        r.started = r.finished = "2026-12-11T10:00:00Z";
        r.ok = true;
        r.serial = ++serial;  // a new controller: every record is new
        r.circuits = 1;
        r.image.assign(image.begin(), image.end());
        r.currentValues = CurrentValues(image.data());
        r.records = DecodeRecords(archive.data(), 1, whole);
        r.events = DecodeEvents(archive.data(), whole);
        SaveCounts counts;
        if (!store.SaveReading(r, counts, error)) state.SkipWithError(error.c_str());
        records = static_cast<std::size_t>(counts.recordsNew);
    }
    state.counters["records"] = static_cast<double>(records);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_StoreWholeArchive)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
