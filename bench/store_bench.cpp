// Storing readings: a whole one-circuit archive (7168 records) decoded and stored in SQLite in
// one transaction, the database growing as it would over a fleet; and, in both stores, a
// controller of the shared benchmark (two circuits, 500 records, 300 events) read whole and then
// read again after three new records, as a round of the poller offers them to the store. The
// PostgreSQL cases need the servers of scripts/services.sh (VIR05_PG_URL) and are skipped
// without them.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "model/bytes.h"
#include "model/layout.h"
#include "poll/increment.h"
#include "poll/store_pg.h"
#include "poll/store_sqlite.h"
#include "sim/controller.h"
#include "sim/generator.h"

namespace {

using namespace vir05;
using namespace vir05::poll;

// A store of either kind in a place of its own, removed at the end.
class ScratchStore {
  public:
    explicit ScratchStore(bool postgres) {
        if (!postgres) {
            char pattern[] = "/tmp/vir05-store-bench-XXXXXX";
            dir_ = mkdtemp(pattern);
            store_ = std::make_unique<SqliteStore>(dir_ + "/bench.sqlite");
            return;
        }
        const char* admin = std::getenv("VIR05_PG_URL");
        if (!admin) return;
        admin_ = admin;
        name_ = "storebench" + std::to_string(getpid());
        Admin("CREATE DATABASE " + name_);
        store_ = std::make_unique<PgStore>(admin_.substr(0, admin_.rfind('/') + 1) + name_);
    }
    ~ScratchStore() {
        store_.reset();
        if (!name_.empty()) Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    Store* Get() { return store_.get(); }

  private:
    void Admin(const std::string& sql) {
        PGconn* c = PQconnectdb(admin_.c_str());
        PQclear(PQexec(c, sql.c_str()));
        PQfinish(c);
    }
    std::string dir_, admin_, name_;
    std::unique_ptr<Store> store_;
};

// The scratch store, opened; null (and the benchmark skipped) when it cannot be used.
Store* Opened(ScratchStore& scratch, benchmark::State& state) {
    Store* store = scratch.Get();
    std::string error = "VIR05_PG_URL is not set (scripts/services.sh)";
    if (!store || !store->Open(error)) {
        state.SkipWithError(error.c_str());
        return nullptr;
    }
    return store;
}

// Generated contents of a controller.
struct Contents {
    std::array<std::uint8_t, kImageSize> image{};
    std::vector<std::uint8_t> archive = std::vector<std::uint8_t>(kArchiveSize);
    explicit Contents(const sim::GeneratorOptions& o) {
        sim::GenerateContents(o, image.data(), archive.data());
    }
};

void BM_StoreWholeArchive(benchmark::State& state) {
    ScratchStore scratch(false);
    Store* store = Opened(scratch, state);
    if (!store) return;
    std::string error;
    sim::GeneratorOptions o;
    o.circuits = 1;
    const Contents generated(o);
    const auto& image = generated.image;
    const auto& archive = generated.archive;
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
        if (!store->SaveReading(r, counts, error)) state.SkipWithError(error.c_str());
        records = static_cast<std::size_t>(counts.recordsNew);
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_StoreWholeArchive)->Unit(benchmark::kMillisecond)->Iterations(20);

// A successful reading of `controller` as the poller makes it, given the stored state.
Reading ReadingOf(const sim::Controller& controller, const std::optional<StoredState>& state,
                  const std::string& name) {
    const auto image = controller.Image();
    const auto archive = controller.Archive();
    Reading r;
    r.controller = name;
    r.started = r.finished = "2026-12-11T10:00:00Z";
    r.ok = true;
    r.serial = I32(image.data(), addr::DevNumber);
    r.circuits = NormalisedCircuits(image.data());
    r.image.assign(image.begin(), image.end());
    r.currentValues = CurrentValues(image.data());
    FillArchive(r, image.data(), archive.data(), ChooseBlocks(image.data(), state), state);
    return r;
}

// range(0): 0 SQLite, 1 PostgreSQL; range(1): 0 the first (whole) reading of a new controller,
// 1 a reading after three new records.
void BM_StoreFleetReading(benchmark::State& state) {
    const bool postgres = state.range(0) == 1, steady = state.range(1) == 1;
    ScratchStore scratch(postgres);
    Store* store = Opened(scratch, state);
    if (!store) return;
    std::string error;
    sim::GeneratorOptions o;
    o.archiveRecords = 500;
    const Contents generated(o);
    const auto& image = generated.image;
    const auto& archive = generated.archive;
    sim::Controller controller;
    controller.Load(image.data(), archive.data());
    std::optional<StoredState> stored;
    SaveCounts counts;
    if (steady) {
        if (!store->SaveReading(ReadingOf(controller, stored, "ЦТП-1"), counts, error))
            return state.SkipWithError(error.c_str());
        if (!store->State("ЦТП-1", stored, error)) return state.SkipWithError(error.c_str());
    }
    int n = 0, records = 0, events = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string name = "ЦТП-1";
        if (steady) {
            controller.AppendRecords(3);
        } else {
            // Another controller each time, so that every record and event is new.
            name = "ЦТП-" + std::to_string(++n + 1);
            std::array<std::uint8_t, kImageSize> other = image;
            PutI32(other.data(), addr::DevNumber, 600000 + n);
            controller.Load(other.data(), archive.data());
        }
        const Reading r = ReadingOf(controller, steady ? stored : std::nullopt, name);
        state.ResumeTiming();
        if (!store->SaveReading(r, counts, error)) return state.SkipWithError(error.c_str());
        if (steady) stored = r.archiveState;
        records = counts.recordsNew;
        events = counts.eventsNew;
    }
    state.counters["records"] = records;
    state.counters["events"] = events;
}
BENCHMARK(BM_StoreFleetReading)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"postgres", "steady"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
