// The fleet poller's speed and memory, against `vir05sim fleet` in a process of its own (so that
// only the poller's memory is measured). Prints one table line per figure and exits with 1 when
// a target is missed or a controller was not read.
//
//   fleet_bench tcp   500 TCP controllers, tcp_parallel 32: a whole round's wall time over the
//                     link's waits divided by 32 (<= 1.2); the second round after three new
//                     records each: bytes on the line (>= 2x fewer) and the database against a
//                     whole read (no gap, no duplicate); resident memory over 10 rounds (< 100 MB,
//                     flat)
//   fleet_bench bus   32 controllers on one RS485 bus (pseudo-terminal, 115200 baud): a round's
//                     wall time over the line time, bytes on the wire and the link's waits (<= 1.1)
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "core/protocol/link_engine.h"
#include "link/qt_lines.h"
#include "poll/fleet.h"
#include "poll/poller.h"
#include "poll/store_sqlite.h"
#include "sim_fleet_process.h"

namespace {

using namespace vir05;
using namespace vir05::poll;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

struct Measured {
    Round round;
    double seconds = 0;
    long long waitsMs = 0;
    std::uint64_t bytes = 0;
    int failed = 0;
};

Measured RunRound(const Fleet& fleet, Store& store, ArchiveMode mode) {
    std::atomic<long long> waits{0};
    PollOptions options;
    options.archive = mode;
    options.sleep = [&waits](int ms) {
        waits += ms;
        RealSleep(ms);
    };
    Poller poller(fleet, store, options, [] {
        WorkerLines lines;
        lines.serial = std::make_unique<QtSerialLine>();
        lines.tcp = std::make_unique<QtTcpLine>();
        return lines;
    });
    Measured m;
    const auto start = Clock::now();
    m.round = poller.RunRound();
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.waitsMs = waits.load();
    for (const ControllerResult& r : m.round.results) {
        m.bytes += r.lineBytes;
        m.failed += r.ok ? 0 : 1;
    }
    return m;
}

long long Count(sqlite3* db, const std::string& sql) {
    long long n = -1;
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<long long*>(out) = values[0] ? std::atoll(values[0]) : -1;
            return 0;
        },
        &n, nullptr);
    return n;
}

// Compares the records of an incremental database with those of a whole read made right after
// it: none of the whole read may be missing or differ (a gap), and every record the incremental
// database has beyond it must be older than the whole read's oldest of that controller (history
// the controller has since overwritten, not an invention). Duplicates cannot exist: the key is
// (serial, circuit, time). Returns the records in breach, and the history kept beyond.
std::pair<long long, long long> RecordDifference(const std::string& incremental,
                                                 const std::string& whole) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(incremental.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, ("ATTACH '" + whole + "' AS w").c_str(), nullptr, nullptr, nullptr);
    const std::string columns = "serial, circuit, time, t11, t2, tk, tn, real, base, klap, errors";
    const long long missing = Count(db, "SELECT count(*) FROM (SELECT " + columns +
                                            " FROM w.archive_record EXCEPT SELECT " + columns +
                                            " FROM main.archive_record)");
    const long long extraNewer = Count(
        db,
        "SELECT count(*) FROM main.archive_record m WHERE NOT EXISTS (SELECT 1 FROM"
        " w.archive_record x WHERE x.serial=m.serial AND x.circuit=m.circuit AND x.time=m.time)"
        " AND m.time >= (SELECT min(time) FROM w.archive_record x WHERE x.serial=m.serial)");
    const long long history =
        Count(db,
              "SELECT (SELECT count(*) FROM main.archive_record) - (SELECT count(*) FROM"
              " w.archive_record)");
    sqlite3_close(db);
    return {missing + extraNewer, history};
}

std::optional<Fleet> LoadWithDatabase(const std::string& path, const std::string& database,
                                      int tcpParallel) {
    std::string error;
    auto fleet = LoadFleet(path, error);
    if (!fleet) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return std::nullopt;
    }
    fleet->database = database;
    fleet->tcpParallel = tcpParallel;
    return fleet;
}

int Tcp(const std::string& dir) {
    SimFleetProcess sim;
    if (!sim.Start(dir, {"--tcp", "500"})) return std::fprintf(stderr, "no simulator\n"), 1;
    auto fleet = LoadWithDatabase(sim.fleet, dir + "/tcp.sqlite", 32);
    if (!fleet) return 1;
    SqliteStore store(fleet->database);
    std::string error;
    if (!store.Open(error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    int status = 0;

    const Measured full = RunRound(*fleet, store, ArchiveMode::New);
    const double ideal = full.waitsMs / 1000.0 / 32;
    const double ratio = full.seconds / ideal;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf(
        "| 500 TCP controllers, tcp_parallel 32, whole archives: wall time over the waits / 32 "
        "(%.1f s) | %.3f (%.1f s) | <= 1.2 |\n",
        ideal, ratio, full.seconds);
    if (ratio > 1.2 || full.failed > 0) status = 1;
    const long afterFirst = ResidentKb();

    sim.Send("records 3");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Measured next = RunRound(*fleet, store, ArchiveMode::New);
    const double fewer = static_cast<double>(full.bytes) / static_cast<double>(next.bytes);
    std::pair<long long, long long> compared{-1, -1};
    int referenceFailed = 0;
    {
        // A whole read of the same fleet into a database of its own: the two must agree.
        auto whole = LoadWithDatabase(sim.fleet, dir + "/whole.sqlite", 32);
        SqliteStore wholeStore(whole->database);
        if (!wholeStore.Open(error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        referenceFailed = RunRound(*whole, wholeStore, ArchiveMode::All).failed;
        compared = RecordDifference(fleet->database, whole->database);
    }
    const auto [diff, history] = compared;
    std::printf(
        "| the next round after 3 new records each: bytes on the line, full over incremental "
        "| %.2fx (%llu kB vs %llu kB); against a whole read %lld records missing or new"
        " (%lld older ones kept) | >= 2x, 0 |\n",
        fewer, static_cast<unsigned long long>(full.bytes / 1024),
        static_cast<unsigned long long>(next.bytes / 1024), diff, history);
    if (fewer < 2 || diff != 0 || next.failed > 0 || referenceFailed > 0) status = 1;

    // Rounds 3 to 10: no new records, the steady state of an hourly poller.
    long peak = std::max(afterFirst, ResidentKb());
    long third = 0;
    std::string perRound;
    for (int r = 3; r <= 10; ++r) {
        const Measured m = RunRound(*fleet, store, ArchiveMode::New);
        if (m.failed > 0) status = 1;
        const long now = ResidentKb();
        if (r == 3) third = now;
        peak = std::max(peak, now);
        perRound += (perRound.empty() ? "" : ", ") + std::to_string(now / 1024);
    }
    const long last = ResidentKb();
    std::printf(
        "| resident memory of the poller over 10 rounds of 500 TCP controllers: after round "
        "1; rounds 3 to 10; growth from round 3 to 10 | %.1f MB; %s MB; %+.1f MB "
        "(peak %.1f MB) | < 100 MB, flat |\n",
        afterFirst / 1024.0, perRound.c_str(), (last - third) / 1024.0, peak / 1024.0);
    if (peak > 100 * 1024 || last - third > 5 * 1024) status = 1;
    return status;
}

int Bus(const std::string& dir) {
    SimFleetProcess sim;
    if (!sim.Start(dir, {"--bus", "32", "--records", "200", "--baud", "115200"}))
        return std::fprintf(stderr, "no simulator\n"), 1;
    auto fleet = LoadWithDatabase(sim.fleet, dir + "/bus.sqlite", 16);
    if (!fleet) return 1;
    SqliteStore store(fleet->database);
    std::string error;
    if (!store.Open(error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const Measured m = RunRound(*fleet, store, ArchiveMode::All);
    const double wire = static_cast<double>(m.bytes) * 11 / 115200;
    const double line = wire + m.waitsMs / 1000.0;
    const double ratio = m.seconds / line;
    std::printf(
        "| 32 controllers on one RS485 bus at 115200 baud, whole archives: wall time over "
        "the line time | %.3f (%.1f s; wire %.1f s, waits %.1f s) | <= 1.1 |\n",
        ratio, m.seconds, wire, m.waitsMs / 1000.0);
    return ratio > 1.1 || m.failed > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string what = argc > 1 ? argv[1] : "all";
    char pattern[] = "/tmp/vir05-fleet-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    int status = 0;
    if (what == "tcp" || what == "all") status |= Tcp(dir);
    if (what == "bus" || what == "all") status |= Bus(dir);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return status;
}
