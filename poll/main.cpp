// vir05poll: reads a fleet of controllers, once or on a schedule, into a database.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "link/qt_lines.h"
#include "poll/fleet.h"
#include "poll/poller.h"
#include "poll/store_sqlite.h"

namespace {

using namespace vir05;
using namespace vir05::poll;

constexpr const char* kUsage =
    "Usage: vir05poll FLEET.toml [--every DURATION] [--only NAME[,NAME...]]\n"
    "                 [--archive new|all|none] [--json FILE|-]\n"
    "Reads every controller of the fleet once (a round) and stores the readings in the fleet's\n"
    "database. --every 1h repeats rounds at whole multiples of the interval (UTC); SIGINT or\n"
    "SIGTERM ends after the readings in progress, a second one cuts them short.\n"
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
    SqliteStore store(fleet->database);
    if (!store.Open(error)) {
        std::cerr << "vir05poll: " << error << "\n";
        return 2;
    }
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
    Poller poller(*fleet, store, options, [settings] {
        WorkerLines lines;
        lines.serial = std::make_unique<QtSerialLine>(settings);
        lines.tcp = std::make_unique<QtTcpLine>();
        return lines;
    });

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
        if (a.every) {
            // Rounds start at whole multiples of the interval since the epoch; a round that
            // overran starts the next one at the next multiple, never at once on top of it, and
            // a round that ended within its own second waits for the next multiple too.
            const auto now = std::chrono::system_clock::now();
            std::int64_t from =
                std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
            if (lastStart && from <= *lastStart) from = *lastStart + 1;
            const std::int64_t boundary = NextBoundary(from, *a.every);
            const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(boundary));
            std::unique_lock lock(stopper.mutex);
            stopper.wake.wait_until(lock, at, [&] { return stopper.stopRequests > 0; });
            if (stopper.stopRequests > 0) break;
            lastStart = boundary;
        }
        std::atomic<bool> done{false};
        std::thread display;
        Progress progress(poller);
        if (terminal) display = std::thread([&] { progress.Run(done); });
        const Round round = poller.RunRound();
        done = true;
        if (display.joinable()) display.join();
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
