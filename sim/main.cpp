// vir05sim: the simulated ВИР-05 controller on TCP, a serial pseudo-terminal and a modem
// pseudo-terminal, and the generator of data files.
#include <signal.h>
#include <sys/resource.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/datafile.h"
#include "model/layout.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/fleet.h"
#include "sim/generator.h"
#include "sim/lines.h"

namespace {

using namespace vir05;

constexpr const char* kUsage =
    "Usage:\n"
    "  vir05sim [--tcp PORT] [--pty] [--modem] [--file F.vi5 | --seed N --circuits 1|2\n"
    "           --softver N] [--address N] [--baud N] [--fault RULE]... [--ready-file PATH]\n"
    "  vir05sim generate [--seed N] [--circuits 1|2] [--softver N] -o FILE.vi5\n"
    "  vir05sim fleet [--tcp N] [--bus N] [--seed N] [--baud N] [--records N]\n"
    "           [--new-record-every SECONDS] -o FLEET.toml\n"
    "  vir05sim --help\n"
    "\n"
    "Serves a simulated controller until SIGINT or SIGTERM and prints one line per line:\n"
    "\"TCP 127.0.0.1:PORT\", \"PTY /dev/pts/N\", \"MODEM /dev/pts/N\".\n"
    "  --tcp PORT       TCP server on 127.0.0.1 (0 picks a free port)\n"
    "  --pty            serial line on a pseudo-terminal\n"
    "  --modem          Hayes modem on a pseudo-terminal\n"
    "  --file F.vi5     contents from a data file (default: generated)\n"
    "  --seed N, --circuits 1|2, --softver N   generated contents (default 1, 2, 107)\n"
    "  --address N      network address 0..255 (default: the image's own)\n"
    "  --baud N         line speed of the pseudo-terminals (default: the image's interface speed)\n"
    "  --fault RULE     KIND[:every=N|:random=P[:seed=S]][:next=K][:ms=T], KIND one of\n"
    "                   checksum, header, truncate, stall, silence, refuse, modem-noreset,\n"
    "                   modem-busy, modem-nodial, modem-nocarrier, flood (bytes without end\n"
    "                   instead of the reply, until the connection closes or the tool sends)\n"
    "  --ready-file P   also write the lines to P once everything listens\n"
    "While serving, \"fault RULE\" or \"fault none\" on standard input changes the faults.\n"
    "generate writes generated contents as a data file and exits.\n"
    "fleet serves N controllers on TCP (one port each) and N on one RS485 bus on a\n"
    "pseudo-terminal (addresses 1, 2, ...; --baud, default 115200), each with its own contents\n"
    "and serial number (--records: periodic records each, default a full archive), and writes\n"
    "the fleet file for vir05poll (database fleet.sqlite beside it). \"records N\" on standard\n"
    "input, or --new-record-every, writes new periodic records in every controller.\n";

int Fail(const std::string& message) {
    std::cerr << "vir05sim: " << message << "\n(see vir05sim --help)\n";
    return 2;
}

bool ParseNumber(const std::string& s, long long lo, long long hi, long long& out) {
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, out);
    return !s.empty() && ec == std::errc() && p == end && out >= lo && out <= hi;
}

struct Options {
    std::optional<long long> tcpPort;
    bool pty = false, modem = false;
    std::string file, output, readyFile;
    std::optional<long long> seed, circuits, softVer, address, baud;
    std::vector<sim::FaultRule> faults;
};

// Parses argv strictly: every option once at most, every value checked.
std::optional<std::string> Parse(const std::vector<std::string>& args, bool generate, Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) -> std::optional<std::string> {
            if (i + 1 >= args.size()) return a + " needs a value";
            out = args[++i];
            return std::nullopt;
        };
        auto number = [&](std::optional<long long>& out, long long lo,
                          long long hi) -> std::optional<std::string> {
            std::string v;
            if (auto e = value(v)) return e;
            if (out) return a + " given twice";
            long long n = 0;
            if (!ParseNumber(v, lo, hi, n))
                return a + " needs a number from " + std::to_string(lo) + " to " +
                       std::to_string(hi) + ", not '" + v + "'";
            out = n;
            return std::nullopt;
        };
        auto text = [&](std::string& out) -> std::optional<std::string> {
            if (!out.empty()) return a + " given twice";
            if (auto e = value(out)) return e;
            if (out.empty()) return a + " needs a non-empty value";
            return std::nullopt;
        };
        std::optional<std::string> e;
        if (a == "--seed") {
            e = number(o.seed, 0, 0xFFFFFFFFll);
        } else if (a == "--circuits") {
            e = number(o.circuits, 1, 2);
        } else if (a == "--softver") {
            e = number(o.softVer, 0, 65535);
        } else if (generate && a == "-o") {
            e = text(o.output);
        } else if (!generate && a == "--tcp") {
            e = number(o.tcpPort, 0, 65535);
        } else if (!generate && (a == "--pty" || a == "--modem")) {
            bool& flag = a == "--pty" ? o.pty : o.modem;
            if (flag) e = a + " given twice";
            flag = true;
        } else if (!generate && a == "--file") {
            e = text(o.file);
        } else if (!generate && a == "--address") {
            e = number(o.address, 0, 255);
        } else if (!generate && a == "--baud") {
            e = number(o.baud, 50, 4000000);
        } else if (!generate && a == "--ready-file") {
            e = text(o.readyFile);
        } else if (!generate && a == "--fault") {
            std::string spec, error;
            if ((e = value(spec))) return e;
            const auto rule = sim::ParseFaultRule(spec, error);
            if (!rule) return "--fault " + spec + ": " + error;
            for (const auto& r : o.faults)
                if (sim::IsModemFault(r.kind) == sim::IsModemFault(rule->kind))
                    return std::string("--fault: only one ") +
                           (sim::IsModemFault(rule->kind) ? "modem" : "reply") + " fault at a time";
            o.faults.push_back(*rule);
        } else {
            e = "unknown option '" + a + "'";
        }
        if (e) return e;
    }
    return std::nullopt;
}

sim::GeneratorOptions Generated(const Options& o) {
    sim::GeneratorOptions g;
    if (o.seed) g.seed = static_cast<std::uint32_t>(*o.seed);
    if (o.circuits) g.circuits = static_cast<int>(*o.circuits);
    if (o.softVer) g.softVer = static_cast<std::uint16_t>(*o.softVer);
    return g;
}

int Generate(const std::vector<std::string>& args) {
    Options o;
    if (auto e = Parse(args, true, o)) return Fail(*e);
    if (o.output.empty()) return Fail("generate needs -o FILE.vi5");
    auto areas = std::make_unique<MemoryAreas>();
    sim::GenerateContents(Generated(o), areas->DeviceImage(), areas->ArchiveImage());
    std::copy(areas->DeviceImage(), areas->DeviceImage() + kImageSize, areas->ConfigShadow());
    if (!SaveDataFile(o.output, *areas)) {
        std::cerr << "vir05sim: cannot write " << o.output << "\n";
        return 1;
    }
    return 0;
}

std::uint32_t BaudOfIndex(std::uint8_t index) {
    static constexpr std::uint32_t kBauds[] = {300, 1200, 9600, 38400, 115200};
    return index < 5 ? kBauds[index] : 9600;
}

int Serve(const std::vector<std::string>& args) {
    Options o;
    if (auto e = Parse(args, false, o)) return Fail(*e);
    if (!o.tcpPort && !o.pty && !o.modem) return Fail("give at least one of --tcp, --pty, --modem");
    if (!o.file.empty() && (o.seed || o.circuits || o.softVer))
        return Fail("--file excludes --seed, --circuits and --softver");

    auto areas = std::make_unique<MemoryAreas>();
    if (!o.file.empty()) {
        const OpenStage stage = LoadDataFile(o.file, *areas);
        if (stage != OpenStage::None) {
            std::cerr << "vir05sim: " << o.file << " ошибка " << OpenStageText(stage) << "\n";
            return 1;
        }
    } else {
        sim::GenerateContents(Generated(o), areas->DeviceImage(), areas->ArchiveImage());
    }

    sim::Controller controller;
    controller.Load(areas->DeviceImage(), areas->ArchiveImage());
    if (o.address) controller.SetNetAddress(static_cast<std::uint8_t>(*o.address));
    sim::FaultInjector faults;
    for (const auto& rule : o.faults)
        faults.Set(rule);
    const std::uint32_t baud = o.baud ? static_cast<std::uint32_t>(*o.baud)
                                      : BaudOfIndex(areas->DeviceImage()[addr::BaudIndex]);

    // The lines' threads inherit the blocked signals; this thread alone takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<sim::TcpServer> tcp;
    std::unique_ptr<sim::PtyServer> pty;
    std::unique_ptr<sim::ModemServer> modem;
    std::vector<std::string> lines;
    std::string error;
    if (o.tcpPort) {
        tcp = std::make_unique<sim::TcpServer>(controller, faults,
                                               static_cast<std::uint16_t>(*o.tcpPort));
        if (!tcp->Start(error)) return std::cerr << "vir05sim: " << error << "\n", 1;
        lines.push_back(tcp->Describe());
    }
    if (o.pty) {
        pty = std::make_unique<sim::PtyServer>(controller, faults, baud);
        if (!pty->Start(error)) return std::cerr << "vir05sim: " << error << "\n", 1;
        lines.push_back(pty->Describe());
    }
    if (o.modem) {
        modem = std::make_unique<sim::ModemServer>(controller, faults, baud);
        if (!modem->Start(error)) return std::cerr << "vir05sim: " << error << "\n", 1;
        lines.push_back(modem->Describe());
    }
    for (const std::string& l : lines)
        std::cout << l << "\n";
    std::cout.flush();
    if (!o.readyFile.empty()) {
        // Written beside and renamed, so that a reader never sees half of it.
        const std::string temp = o.readyFile + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            for (const std::string& l : lines)
                out << l << "\n";
            if (!out.flush()) return std::cerr << "vir05sim: cannot write " << temp << "\n", 1;
        }
        if (std::rename(temp.c_str(), o.readyFile.c_str()) != 0)
            return std::cerr << "vir05sim: cannot write " << o.readyFile << "\n", 1;
    }
    // Faults can be changed while serving: "fault RULE" or "fault none" on standard input.
    std::thread([&faults] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.rfind("fault ", 0) != 0) {
                std::cerr << "vir05sim: commands are \"fault RULE\" and \"fault none\"\n";
                continue;
            }
            const std::string spec = line.substr(6);
            if (spec == "none") {
                faults.Clear();
                std::cerr << "vir05sim: faults cleared\n";
                continue;
            }
            std::string error;
            if (const auto rule = sim::ParseFaultRule(spec, error)) {
                faults.Set(*rule);
                std::cerr << "vir05sim: fault " << spec << " set\n";
            } else {
                std::cerr << "vir05sim: fault " << spec << ": " << error << "\n";
            }
        }
    }).detach();
    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}

int ServeFleet(const std::vector<std::string>& args) {
    sim::FleetOptions f;
    std::string output;
    long long every = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) return Fail(a + " needs a value");
        const std::string& v = args[++i];
        long long n = 0;
        auto number = [&](long long lo, long long hi) {
            if (!ParseNumber(v, lo, hi, n)) {
                Fail(a + " needs a number from " + std::to_string(lo) + " to " +
                     std::to_string(hi) + ", not '" + v + "'");
                return false;
            }
            return true;
        };
        if (a == "-o") {
            output = v;
        } else if (a == "--tcp") {
            if (!number(0, 2000)) return 2;
            f.tcp = static_cast<int>(n);
        } else if (a == "--bus") {
            if (!number(0, 255)) return 2;
            f.bus = static_cast<int>(n);
        } else if (a == "--seed") {
            if (!number(0, 0xFFFFFFFFll)) return 2;
            f.seed = static_cast<std::uint32_t>(n);
        } else if (a == "--baud") {
            if (!number(50, 4000000)) return 2;
            f.busBaud = static_cast<std::uint32_t>(n);
        } else if (a == "--records") {
            if (!number(0, 7168)) return 2;
            f.archiveRecords = static_cast<int>(n);
        } else if (a == "--new-record-every") {
            if (!number(1, 86400)) return 2;
            every = n;
        } else {
            return Fail("unknown option '" + a + "'");
        }
    }
    if (output.empty()) return Fail("fleet needs -o FLEET.toml");
    if (f.tcp + f.bus == 0) return Fail("fleet needs --tcp N or --bus N");

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Every TCP controller holds a listening socket and a wake-up pipe: a big fleet needs more
    // descriptors than the usual soft limit.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    sim::SimFleet fleet(f);
    std::string error;
    if (!fleet.Start(error)) return std::cerr << "vir05sim: " << error << "\n", 1;
    {
        const std::string temp = output + ".tmp";
        std::ofstream out(temp, std::ios::trunc);
        out << fleet.FleetToml("database = \"fleet.sqlite\"\n");
        if (!out.flush()) return std::cerr << "vir05sim: cannot write " << temp << "\n", 1;
        out.close();
        if (std::rename(temp.c_str(), output.c_str()) != 0)
            return std::cerr << "vir05sim: cannot write " << output << "\n", 1;
    }
    std::cout << "FLEET " << output << " (" << f.tcp << " TCP, " << f.bus << " on the bus"
              << (fleet.BusPath().empty() ? "" : " " + fleet.BusPath()) << ")\n";
    std::cout.flush();
    std::thread([&fleet] {
        std::string line;
        while (std::getline(std::cin, line)) {
            long long n = 0;
            if (line.rfind("records ", 0) == 0 && ParseNumber(line.substr(8), 1, 7168, n)) {
                fleet.AppendRecords(static_cast<int>(n));
                std::cerr << "vir05sim: " << n << " new records in every controller\n";
            } else {
                std::cerr << "vir05sim: the command is \"records N\"\n";
            }
        }
    }).detach();
    if (every > 0) {
        std::thread([&fleet, every] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::seconds(every));
                fleet.AppendRecords(1);
            }
        }).detach();
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // The detached threads may still touch the fleet: end without destroying it.
    std::cout.flush();
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (!args.empty() && args[0] == "generate") {
        args.erase(args.begin());
        return Generate(args);
    }
    if (!args.empty() && args[0] == "fleet") {
        args.erase(args.begin());
        return ServeFleet(args);
    }
    return Serve(args);
}
