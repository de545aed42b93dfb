// Several pollers on one fleet through PostgreSQL: 2000 simulated TCP controllers (vir05sim
// fleet, a process of its own), three pollers of tcp_parallel 16 each sharing every round
// through leases. Prints one table line per figure; exits with 1 past a target or when a
// controller was not read exactly once.
//
//   a round's wall time over the ideal, the link's prescribed waits of all three pollers divided
//   by the total parallelism 48 (<= 1.3), for the first round (whole archives) and for a steady
//   round after three new records per controller;
//   the database's share of the round time (< 10 %): the time each poller's round waited on the
//   database (the stored states fetched before its workers start, its writer's last stores
//   after they end, and per worker what the workers lost to a full hand-over queue and to
//   taking leases) over the round's wall time, averaged over the three pollers;
//   and, without a target, how busy the database keeps each kind of thread that uses it:
//   storing, the time each poller's single writer spent storing over the round's wall time,
//   summed over the three writers; leases, the workers' time taking leases over the round's
//   wall time, summed over the 48 workers. A writer busy most of the round is the sign of a
//   database near its limit even while the round does not wait on it yet.
//
// Needs the servers of scripts/services.sh: VIR05_PG_URL names the cluster; the benchmark
// makes a database of its own in it and drops it at the end.
#include <libpq-fe.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "core/protocol/link_engine.h"
#include "link/qt_lines.h"
#include "poll/fleet.h"
#include "poll/lease_pg.h"
#include "poll/poller.h"
#include "poll/store_pg.h"
#include "sim_fleet_process.h"

namespace {

using namespace vir05;
using namespace vir05::poll;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const int kControllers =
    std::getenv("VIR05_SHARED_BENCH_N") ? std::atoi(std::getenv("VIR05_SHARED_BENCH_N")) : 2000;
constexpr int kPollers = 3;
constexpr int kParallel = 16;

// Times every call into the store.
class TimedStore : public Store {
  public:
    explicit TimedStore(Store& inner) : inner_(inner) {}
    bool Open(std::string& error) override {
        return Time([&] { return inner_.Open(error); });
    }
    bool State(const std::string& c, std::optional<StoredState>& s, std::string& e) override {
        return Time([&] { return inner_.State(c, s, e); });
    }
    bool SaveReading(const Reading& r, SaveCounts& counts, std::string& e) override {
        return Time([&] { return inner_.SaveReading(r, counts, e); });
    }
    bool SaveFailure(const Reading& r, std::string& e) override {
        return Time([&] { return inner_.SaveFailure(r, e); });
    }
    double Seconds() const { return ns_.load() / 1e9; }
    void Reset() { ns_ = 0; }

  private:
    template <typename F>
    bool Time(F f) {
        const auto start = Clock::now();
        const bool ok = f();
        ns_ += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        return ok;
    }
    Store& inner_;
    std::atomic<long long> ns_{0};
};

struct Member {
    std::unique_ptr<PgStore> pg;
    std::unique_ptr<TimedStore> store;
    std::unique_ptr<PgLeases> leases;
    std::atomic<long long> leaseNs{0};
};

struct Figures {
    double seconds = 0, ideal = 0, storeSeconds = 0, leaseSeconds = 0;
    // The time each poller's round spent waiting on the database, summed over the pollers:
    // the stored states fetched before its workers start, its writer's last stores after they
    // end, and what its workers lost to a full hand-over queue and to taking leases, per worker.
    double waitSeconds = 0;
    int read = 0, failed = 0;
};

// The one-minute load average of the machine.
double LoadAverage() {
    double load = -1;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

Figures SharedRound(const Fleet& fleet, std::vector<std::unique_ptr<Member>>& members,
                    std::int64_t slot, ArchiveMode mode) {
    std::atomic<long long> waits{0};
    std::mutex mutex;
    Figures f;
    std::vector<std::thread> threads;
    for (auto& m : members) {
        m->store->Reset();
        m->leaseNs = 0;
        m->pg->SetFence(slot, m->leases->Holder());
    }
    const auto start = Clock::now();
    for (auto& m : members) {
        threads.emplace_back([&, member = m.get()] {
            PollOptions options;
            options.archive = mode;
            options.sleep = [&waits](int ms) {
                waits += ms;
                RealSleep(ms);
            };
            PollHooks hooks;
            hooks.beforeController = [&, member](const FleetController& c) {
                const auto t = Clock::now();
                const bool taken = member->leases->Take(slot, c.name, c.line);
                member->leaseNs +=
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t).count();
                return taken;
            };
            Poller poller(
                fleet, *member->store, options,
                [] {
                    WorkerLines lines;
                    lines.serial = std::make_unique<QtSerialLine>();
                    lines.tcp = std::make_unique<QtTcpLine>();
                    return lines;
                },
                hooks);
            const Round round = poller.RunRound();
            std::lock_guard lock(mutex);
            f.waitSeconds +=
                round.statesSeconds + round.drainSeconds +
                (round.heldBackSeconds + member->leaseNs.load() / 1e9) / std::max(1, round.workers);
            for (const ControllerResult& r : round.results) {
                if (r.skipped) continue;
                ++f.read;
                f.failed += r.ok ? 0 : 1;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.ideal = waits.load() / 1000.0 / (kPollers * kParallel);
    for (auto& m : members) {
        f.storeSeconds += m->store->Seconds();
        f.leaseSeconds += m->leaseNs.load() / 1e9;
    }
    return f;
}

std::string Value(const std::string& url, const std::string& sql) {
    PGconn* c = PQconnectdb(url.c_str());
    PGresult* r = PQexec(c, sql.c_str());
    std::string out = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0)
                                                                               : std::string("?");
    PQclear(r);
    PQfinish(c);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const char* admin = std::getenv("VIR05_PG_URL");
    if (!admin) {
        std::fprintf(stderr, "shared_bench: VIR05_PG_URL is not set (scripts/services.sh)\n");
        return 1;
    }
    const std::string adminUrl = admin;
    const std::string dbName = "bench" + std::to_string(getpid());
    Value(adminUrl, "SELECT 1");
    {
        PGconn* c = PQconnectdb(adminUrl.c_str());
        PQclear(PQexec(c, ("CREATE DATABASE " + dbName).c_str()));
        PQfinish(c);
    }
    const std::string url = adminUrl.substr(0, adminUrl.rfind('/') + 1) + dbName;
    const fs::path dir = fs::temp_directory_path() / ("vir05-shared-bench-" + dbName);
    fs::create_directories(dir);
    int status = 0;
    {
        SimFleetProcess sim;
        if (!sim.Start(dir.string(), {"--tcp", std::to_string(kControllers), "--records", "500"}))
            return std::fprintf(stderr, "shared_bench: no simulator\n"), 1;
        std::string error;
        auto fleet = LoadFleet(sim.fleet, error);
        if (!fleet) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        fleet->database = url;
        fleet->tcpParallel = kParallel;
        std::vector<std::unique_ptr<Member>> members;
        for (int i = 0; i < kPollers; ++i) {
            auto m = std::make_unique<Member>();
            m->pg = std::make_unique<PgStore>(url);
            m->store = std::make_unique<TimedStore>(*m->pg);
            m->leases = std::make_unique<PgLeases>(url, MakeLeaseHolder("p" + std::to_string(i)),
                                                   std::chrono::seconds(60));
            if (!m->store->Open(error) || !m->leases->Open(error))
                return std::fprintf(stderr, "%s\n", error.c_str()), 1;
            members.push_back(std::move(m));
        }
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        auto report = [&](const char* what, const Figures& f, std::int64_t slot, double load) {
            const double ratio = f.seconds / f.ideal;
            const double storing = f.storeSeconds / (f.seconds * kPollers);
            const double leasing = f.leaseSeconds / (f.seconds * kPollers * kParallel);
            const double waiting = f.waitSeconds / (f.seconds * kPollers);
            const std::string once = Value(
                url, "SELECT count(*) FROM lease WHERE done AND slot = " + std::to_string(slot));
            std::printf(
                "| %d TCP controllers, 3 pollers x tcp_parallel %d, PostgreSQL, %s: wall "
                "time over the waits / %d (%.1f s) | %.3f (%.1f s; load average %.1f) | <= 1.3 "
                "|\n",
                kControllers, kParallel, what, kPollers * kParallel, f.ideal, ratio, f.seconds,
                load);
            std::printf(
                "| the same round: the database's share of the round time (each poller's round "
                "waited %.1f s on it, averaged over the 3 pollers, over %.1f s) | %.1f %% | "
                "< 10 %% |\n",
                f.waitSeconds / kPollers, f.seconds, waiting * 100);
            std::printf(
                "| the same round: how busy the database keeps its threads, storing (the 3 "
                "writers: %.1f s, %.1f ms "
                "a reading, over 3 x %.1f s) and taking leases (the 48 workers: %.1f s over 48 x "
                "%.1f s) | %.1f %%, %.1f %% | (no target) |\n",
                f.storeSeconds, f.read ? f.storeSeconds * 1000 / f.read : 0.0, f.seconds,
                f.leaseSeconds, f.seconds, storing * 100, leasing * 100);
            std::printf(
                "| the same round: controllers read, failed, leases done | %d, %d, %s | "
                "%d, 0, %d |\n",
                f.read, f.failed, once.c_str(), kControllers, kControllers);
            if (ratio > 1.3 || waiting >= 0.10 || f.read != kControllers || f.failed != 0 ||
                once != std::to_string(kControllers))
                status = 1;
        };
        // The load average is taken before each round, as the round itself adds to it.
        double load = LoadAverage();
        report("whole archives (500 records each)",
               SharedRound(*fleet, members, 1, ArchiveMode::New), 1, load);
        sim.Send("records 3");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        load = LoadAverage();
        report("three new records each", SharedRound(*fleet, members, 2, ArchiveMode::New), 2,
               load);
    }
    {
        PGconn* c = PQconnectdb(adminUrl.c_str());
        PQclear(PQexec(c, ("DROP DATABASE IF EXISTS " + dbName + " WITH (FORCE)").c_str()));
        PQfinish(c);
    }
    fs::remove_all(dir);
    return status;
}
