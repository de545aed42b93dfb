// Memory stays flat: 10,000 reads of current values from the simulated controller over TCP, as
// the window's cyclic mode repeats them, each taken over into the memory areas as the window
// does. Nothing is allocated per command, so the resident memory after the first 100 reads and
// after all of them may differ by at most 2 MB (allocator and library caches settle within the
// first reads). Prints one table line; exits with 1 when the target is missed or a read failed.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "core/completion.h"
#include "core/protocol/link_request.h"
#include "core/protocol/timing.h"
#include "link/rwclass.h"
#include "model/memory.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/generator.h"
#include "sim/lines.h"

namespace {

constexpr int kReads = 10000;
constexpr int kSettleReads = 100;
constexpr long kTargetGrowthKb = 2048;

// VmRSS of this process in kB, from /proc/self/status; -1 when it cannot be read.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Short waits, as in the link tests: the reads take milliseconds, the memory is what counts.
vir05::LinkTiming ShortTiming() {
    vir05::LinkTiming t;
    t.tickMs = 5;
    t.beforeSerialOpenMs = 1;
    t.beforeTcpSendMs = 1;
    t.serialReadTimeoutMs = 5;
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vir05;
    QCoreApplication app(argc, argv);

    sim::GeneratorOptions options;
    auto image = std::make_unique<std::uint8_t[]>(kImageSize);
    auto archive = std::make_unique<std::uint8_t[]>(kArchiveSize);
    sim::GenerateContents(options, image.get(), archive.get());
    sim::Controller controller;
    controller.Load(image.get(), archive.get());
    sim::FaultInjector faults;
    sim::TcpServer server(controller, faults, 0);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "memory_bench: %s\n", error.c_str());
        return 1;
    }

    auto areas = std::make_unique<MemoryAreas>();
    // Without the byte trace: a file of 20 million lines would only measure the disk.
    auto link = std::make_unique<TRWClass>(*areas, ShortTiming(), "");
    link->SetShowLinkText([](const std::string&) {});

    int failed = 0;
    long settledKb = -1;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= kReads; ++i) {
        if (!link->StartTcpCommand(command::ReadCurrent, "127.0.0.1", server.Port(), 1,
                                   areas->ReceiveArea.data(), &areas->ProgressCell)) {
            ++failed;
            continue;
        }
        link->WaitParked();
        if (link->GetStatus() == link_status::Success)
            TakeOverRead(*areas, false);
        else
            ++failed;
        // The simulator in this process logs the frames it receives (the last 10,000); that
        // log is no memory of the tool's and is emptied after every read.
        controller.ClearReceivedFrames();
        if (i == kSettleReads) settledKb = ResidentKb();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long finalKb = ResidentKb();
    const long growthKb = finalKb - settledKb;
    const bool ok = settledKb > 0 && finalKb > 0 && growthKb <= kTargetGrowthKb && failed == 0;
    std::printf(
        "| %d cyclic reads over TCP (%.1f s) | VmRSS after %d: %ld kB, after %d: %ld kB | "
        "growth %ld kB | target <= %ld kB | failed reads %d | %s |\n",
        kReads, seconds, kSettleReads, settledKb, kReads, finalKb, growthKb, kTargetGrowthKb,
        failed, ok ? "ok" : "MISSED");
    link.reset();
    return ok ? 0 : 1;
}
