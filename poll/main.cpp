// vir05poll: reads a fleet of controllers, once or on a schedule, into a database.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "link/qt_lines.h"
#include "poll/fleet.h"
#include "poll/lease_pg.h"
#include "poll/metrics.h"
#include "poll/mqtt.h"
#include "poll/poller.h"
#include "poll/sharing.h"
#include "poll/store_pg.h"
#include "poll/store_sqlite.h"

namespace {

using namespace vir05;
using namespace vir05::poll;

constexpr const char* kUsage =
    "Usage: vir05poll FLEET.toml [--every DURATION] [--only NAME[,NAME...]]\n"
    "                 [--archive new|all|none] [--json FILE|-] [--host NAME]\n"
    "                 [--metrics FILE]\n"
    "Reads every controller of the fleet once (a round) and stores the readings in the fleet's\n"
    "database. --every 1h repeats rounds at whole multiples of the interval (UTC); SIGINT or\n"
    "SIGTERM ends after the readings in progress, a second one cuts them short.\n"
    "--host names this poller (default the machine's host name): a [[line]] with host = NAME\n"
    "is polled by that host's poller only. With a PostgreSQL database several pollers with\n"
    "--every share the fleet, each controller read once per interval. --metrics FILE writes\n"
    "the Prometheus text format after every round.\n"
    "Exit code: 0 every controller read, 1 at least one failed, 2 unusable fleet file,\n"
    "database or option.\n";

int Usage(const std::string& message) {
    std::cerr << "vir05poll: " << message << "\n" << kUsage;
    return 2;
}

struct Args {
    std::string fleet;
    std::optional<std::int64_t> every;
    std::vector<std::string> only;
    std::optional<ArchiveMode> archive;
    std::optional<std::string> json;
    std::optional<std::string> host;
    std::optional<std::string> metrics;
};

std::optional<std::string> Parse(const std::vector<std::string>& args, Args& a) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (s == "--every") {
            const auto v = value();
            if (!v) return "--every needs a duration";
            if (a.every) return "--every given twice";
            a.every = ParseDuration(*v);
            if (!a.every) return "--every: '" + *v + "' is not a duration such as 30s, 15m, 1h, 1d";
        } else if (s == "--only") {
            const auto v = value();
            if (!v || v->empty()) return "--only needs names";
            std::size_t at = 0;
            while (at <= v->size()) {
                const std::size_t comma = std::min(v->find(',', at), v->size());
                if (comma == at) return "--only: an empty name in '" + *v + "'";
                a.only.push_back(v->substr(at, comma - at));
                at = comma + 1;
            }
        } else if (s == "--archive") {
            const auto v = value();
            if (!v) return "--archive needs new, all or none";
            if (a.archive) return "--archive given twice";
            a.archive = ParseArchiveMode(*v);
            if (!a.archive) return "--archive: '" + *v + "' is not new, all or none";
        } else if (s == "--json") {
            const auto v = value();
            if (!v || v->empty()) return "--json needs a file name or -";
            if (a.json) return "--json given twice";
            a.json = *v;
        } else if (s == "--host") {
            const auto v = value();
            if (!v || v->empty()) return "--host needs a name";
            if (a.host) return "--host given twice";
            a.host = *v;
        } else if (s == "--metrics") {
            const auto v = value();
            if (!v || v->empty()) return "--metrics needs a file name";
            if (a.metrics) return "--metrics given twice";
            a.metrics = *v;
        } else if (!s.empty() && s[0] == '-' && s != "-") {
            return "unknown option '" + s + "'";
        } else {
            if (!a.fleet.empty()) return "one fleet file only, not '" + s + "' too";
            a.fleet = s;
        }
    }
    if (a.fleet.empty()) return "the fleet file is missing";
    return std::nullopt;
}

// Stop requests from the stopRequests, taken by a thread of their own.
struct Stopper {
    std::mutex mutex;
    std::condition_variable wake;
    int stopRequests = 0;
    Poller* poller = nullptr;

    void Signal() {
        std::lock_guard lock(mutex);
        ++stopRequests;
        if (poller) {
            if (stopRequests == 1)
                poller->StopAfterCurrent();
            else
                poller->Cancel();
        }
        wake.notify_all();
    }
};

// The live lines on a terminal: one per worker, redrawn in place.
class Progress {
  public:
    explicit Progress(Poller& poller) : poller_(poller) {}
    void Run(const std::atomic<bool>& done) {
        int drawn = 0;
        while (!done.load()) {
            const auto views = poller_.Views();
            std::string out;
            if (drawn > 0) out += "\x1b[" + std::to_string(drawn) + "A";
            for (const WorkerView& v : views) {
                char line[256];
                const std::string count =
                    v.total > 0 ? std::to_string(v.done) + "/" + std::to_string(v.total)
                                : std::to_string(v.done);
                const char* doing = !v.controller.empty()              ? v.controller.c_str()
                                    : v.total > 0 && v.done == v.total ? "done"
                                                                       : "";
                std::snprintf(line, sizeof line, "\x1b[2K%-12s %7s  %s\n", v.label.c_str(),
                              count.c_str(), doing);
                out += line;
            }
            drawn = static_cast<int>(views.size());
            std::fputs(out.c_str(), stderr);
            std::fflush(stderr);
            for (int i = 0; i < 5 && !done.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

  private:
    Poller& poller_;
};

}  // namespace

int main(int argc, char** argv) {
    // The stopRequests are taken by one thread; every other thread inherits them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    Args a;
    if (auto e = Parse(args, a)) return Usage(*e);

    std::string error;
    const std::optional<Fleet> fleet = LoadFleet(a.fleet, error);
    if (!fleet) {
        std::cerr << "vir05poll: " << error << "\n";
        return 2;
    }
    for (const std::string& name : a.only) {
        bool known = false;
        for (const FleetController& c : fleet->controllers)
            known = known || c.name == name;
        if (!known) return Usage("--only: " + a.fleet + " has no controller '" + name + "'");
    }
    // This poller's share of the fleet: the lines of other hosts are theirs.
    const std::string host = a.host.value_or(HostName());
    Fleet own = *fleet;
    KeepOwnLines(own, host);
    if (!a.only.empty()) {
        std::erase_if(a.only, [&](const std::string& name) {
            return std::none_of(own.controllers.begin(), own.controllers.end(),
                                [&](const FleetController& c) { return c.name == name; });
        });
        if (a.only.empty()) {
            std::cerr << "vir05poll: the controllers of --only are on lines of other hosts\n";
            return 0;
        }
    }

    std::unique_ptr<Store> store;
    PgStore* pg = nullptr;
    if (IsDatabaseUrl(fleet->database)) {
        auto p = std::make_unique<PgStore>(fleet->database);
        pg = p.get();
        store = std::move(p);
    } else {
        store = std::make_unique<SqliteStore>(fleet->database);
    }
    if (!store->Open(error)) {
        std::cerr << "vir05poll: " << error << "\n";
        return 2;
    }
    // Several pollers on one database share the rounds through leases.
    std::unique_ptr<PgLeases> leases;
    if (pg && a.every) {
        leases = std::make_unique<PgLeases>(fleet->database, MakeLeaseHolder(host),
                                            std::chrono::seconds(fleet->leaseSeconds));
        if (!leases->Open(error)) {
            std::cerr << "vir05poll: " << error << "\n";
            return 2;
        }
    }
    std::unique_ptr<MqttPublisher> mqtt;
    if (!fleet->mqtt.broker.empty()) {
        MqttConfig config;
        const std::string where =
            a.fleet + ":" + std::to_string(fleet->mqtt.sourceLine) + ": [mqtt]: ";
        if (!ParseBrokerUrl(fleet->mqtt.broker, config, error)) {
            std::cerr << "vir05poll: " << where << "key 'broker': " << error << "\n";
            return 2;
        }
        config.user = fleet->mqtt.user;
        config.prefix = fleet->mqtt.prefix;
        config.discoveryPrefix = fleet->mqtt.discoveryPrefix;
        if (!fleet->mqtt.passwordFile.empty()) {
            std::ifstream in(fleet->mqtt.passwordFile);
            if (!in || !std::getline(in, config.password)) {
                std::cerr << "vir05poll: " << where
                          << "key 'password_file': " << fleet->mqtt.passwordFile
                          << " cannot be read\n";
                return 2;
            }
            while (!config.password.empty() &&
                   (config.password.back() == '\r' || config.password.back() == ' '))
                config.password.pop_back();
        }
        mqtt = std::make_unique<MqttPublisher>(config, host);
        if (!mqtt->Start(error)) {
            std::cerr << "vir05poll: " << where << error << "\n";
            return 2;
        }
    }
    Metrics metrics(host);
    std::FILE* json = nullptr;
    if (a.json && *a.json != "-") {
        json = std::fopen(a.json->c_str(), "wb");
        if (!json) {
            std::cerr << "vir05poll: " << *a.json << ": cannot be written\n";
            return 2;
        }
        std::fclose(json);
    }

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);

    PollOptions options;
    options.archive = a.archive.value_or(fleet->archive);
    options.only = a.only;
    const std::string settings = fleet->settings;
    const LineFactory lineFactory = [settings] {
        WorkerLines lines;
        lines.serial = std::make_unique<QtSerialLine>(settings);
        lines.tcp = std::make_unique<QtTcpLine>();
        return lines;
    };
    std::atomic<std::int64_t> slot{0};
    std::mutex finishedMutex;
    std::map<std::string, double> finished;  // controller -> end of its last stored reading
    PollHooks hooks;
    if (leases) {
        hooks.beforeController = [&](const FleetController& c) {
            return leases->Take(slot.load(), c.name, c.line);
        };
    }
    hooks.afterStored = [&](const FleetController& c, const Reading& r, const SaveCounts&) {
        {
            std::lock_guard lock(finishedMutex);
            finished[c.name] = UtcSeconds(r.finished);
        }
        if (!mqtt) return;
        if (r.ok) {
            mqtt->PublishReading(StateOf(r));
        } else {
            mqtt->PublishFailure(c.name);
        }
    };
    Poller poller(own, *store, options, lineFactory, hooks);

    Stopper stopper;
    {
        std::lock_guard lock(stopper.mutex);
        stopper.poller = &poller;
    }
    std::thread([&stopper, stopSignals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&stopSignals, &signal) == 0) stopper.Signal();
        }
    }).detach();

    const bool terminal = isatty(STDERR_FILENO) != 0;
    int exitCode = 0;
    std::optional<std::int64_t> lastStart;
    for (;;) {
        std::int64_t boundary = 0;
        if (a.every) {
            // Rounds start at whole multiples of the interval since the epoch; a round that
            // overran starts the next one at the next multiple, never at once on top of it, and
            // a round that ended within its own second waits for the next multiple too.
            const auto now = std::chrono::system_clock::now();
            std::int64_t from =
                std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
            if (lastStart && from <= *lastStart) from = *lastStart + 1;
            boundary = NextBoundary(from, *a.every);
            const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(boundary));
            std::unique_lock lock(stopper.mutex);
            stopper.wake.wait_until(lock, at, [&] { return stopper.stopRequests > 0; });
            if (stopper.stopRequests > 0) break;
            lastStart = boundary;
        }
        slot = a.every ? boundary / *a.every : 0;
        if (leases) pg->SetFence(slot.load(), leases->Holder());
        const auto roundStart = std::chrono::steady_clock::now();
        std::atomic<bool> done{false};
        std::thread display;
        Progress progress(poller);
        if (terminal) display = std::thread([&] { progress.Run(done); });
        Round round = poller.RunRound();
        done = true;
        if (display.joinable()) display.join();
        if (leases) {
            // Controllers that were taken by a poller that died since, or not taken at all:
            // read them now, in this round, until every controller of the slot is done (or the
            // next slot begins).
            std::vector<std::string> names;
            for (const FleetController& c : own.controllers)
                if (a.only.empty() ||
                    std::find(a.only.begin(), a.only.end(), c.name) != a.only.end())
                    names.push_back(c.name);
            const auto slotEnd =
                std::chrono::system_clock::time_point(std::chrono::seconds(boundary + *a.every));
            bool tookNothing = false;
            while (!poller.Stopping()) {
                PgLeases::Remaining left;
                if (!leases->Left(slot.load(), names, left, error)) {
                    if (round.storeError.empty()) round.storeError = error;
                    break;
                }
                if (!left.takeable.empty() && !tookNothing) {
                    PollOptions rest = options;
                    rest.only = left.takeable;
                    Poller extra(own, *store, rest, lineFactory, hooks);
                    {
                        std::lock_guard lock(stopper.mutex);
                        stopper.poller = &extra;
                        if (stopper.stopRequests > 0) extra.StopAfterCurrent();
                    }
                    Round more = extra.RunRound();
                    {
                        std::lock_guard lock(stopper.mutex);
                        stopper.poller = &poller;
                    }
                    tookNothing = true;
                    for (ControllerResult& r : more.results) {
                        if (r.skipped) continue;
                        tookNothing = false;
                        for (ControllerResult& mine : round.results)
                            if (mine.name == r.name) mine = r;
                    }
                    if (round.storeError.empty()) round.storeError = more.storeError;
                    if (extra.Stopping()) break;
                    continue;
                }
                if (left.heldByOthers == 0 && (left.takeable.empty() || tookNothing)) break;
                tookNothing = false;
                // Others are reading the rest; look again before their leases could run out.
                std::unique_lock lock(stopper.mutex);
                const auto wait = std::min<std::chrono::milliseconds>(
                    leases->LeaseTime() / 4, std::chrono::milliseconds(1000));
                stopper.wake.wait_for(lock, wait, [&] { return stopper.stopRequests > 0; });
                if (stopper.stopRequests > 0 || std::chrono::system_clock::now() >= slotEnd) break;
            }
            // A controller skipped because the database failed was not read by anyone.
            if (const std::string f = leases->TakeFailure(); !f.empty() && round.storeError.empty())
                round.storeError = f;
            for (const std::string& w : leases->TakeWarnings())
                std::cerr << "vir05poll: " << w << "\n";
        }
        const double roundSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - roundStart).count();
        const double nowUnix =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        for (const ControllerResult& r : round.results) {
            if (r.skipped) continue;
            double end = nowUnix;
            {
                std::lock_guard lock(finishedMutex);
                if (auto it = finished.find(r.name); it != finished.end()) end = it->second;
            }
            metrics.Reading(r.name, r.ok, end, r.seconds);
        }
        metrics.Round(nowUnix, roundSeconds);
        if (a.metrics && !metrics.Write(*a.metrics, error))
            std::cerr << "vir05poll: --metrics: " << error << "\n";
        std::fputs(RoundTable(round).c_str(), stdout);
        std::fflush(stdout);
        if (a.json) {
            const std::string text = RoundJson(round);
            if (*a.json == "-") {
                std::fputs(text.c_str(), stdout);
                std::fflush(stdout);
            } else {
                std::ofstream out(*a.json, std::ios::binary | std::ios::trunc);
                out << text;
                if (!out.flush()) std::cerr << "vir05poll: " << *a.json << ": cannot be written\n";
            }
        }
        exitCode = round.ExitCode();
        if (!a.every || poller.Stopping()) break;
    }
    return exitCode;
}
