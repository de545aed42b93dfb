// Speed of the link against the simulated controller, with the protocol's own waits.
//
// The link may take no time of its own beyond what the protocol prescribes: the waits before
// sends, the ticks spent polling an empty line, and on a serial line the wire time of the bytes.
// Every wait goes through the engine's sleep function, so the benchmark adds them up and reports
// the measured time as a multiple of them ("ratio", target at most 1.1).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <memory>

#include "core/protocol/link_engine.h"
#include "core/protocol/trace.h"
#include "link/qt_lines.h"
#include "model/memory.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/generator.h"
#include "sim/lines.h"

namespace vir05 {
namespace {

struct Bench {
    explicit Bench(std::uint16_t softVer) {
        sim::GeneratorOptions o;
        o.softVer = softVer;
        image = std::make_unique<std::uint8_t[]>(kImageSize);
        archive = std::make_unique<std::uint8_t[]>(kArchiveSize);
        sim::GenerateContents(o, image.get(), archive.get());
        controller.Load(image.get(), archive.get());
        areas = std::make_unique<MemoryAreas>();
    }
    sim::Controller controller;
    sim::FaultInjector faults;
    std::unique_ptr<std::uint8_t[]> image, archive;
    std::unique_ptr<MemoryAreas> areas;
};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void RunArchiveRead(benchmark::State& state, bool overPty, std::uint16_t softVer) {
    Bench b(softVer);
    std::unique_ptr<sim::TcpServer> tcp;
    std::unique_ptr<sim::PtyServer> pty;
    std::string error;
    if (overPty) {
        pty = std::make_unique<sim::PtyServer>(b.controller, b.faults, 115200);
        if (!pty->Start(error)) return state.SkipWithError(error.c_str());
    } else {
        tcp = std::make_unique<sim::TcpServer>(b.controller, b.faults, 0);
        if (!tcp->Start(error)) return state.SkipWithError(error.c_str());
    }
    QtSerialLine serialLine;
    std::uint64_t serialBytes = 0;  // both ways, for the wire time
    CountingLine serial(serialLine, serialBytes);
    QtTcpLine tcpLine;
    LineChoice line(serial, tcpLine);
    double waited = 0;
    LinkEngine engine(line, LinkImage::Of(*b.areas), LinkTiming::Default(), nullptr,
                      [&waited](int ms) {
                          waited += ms / 1000.0;
                          if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                      });
    double totalWall = 0, totalWaits = 0, totalWire = 0;
    for (auto _ : state) {
        waited = 0;
        serialBytes = 0;
        if (overPty)
            engine.Request().FillSerial(command::ReadArchive, pty->SlavePath(), 1, "", 115200,
                                        b.areas->ReceiveArea.data(), &b.areas->ProgressCell);
        else
            engine.Request().FillTcp(command::ReadArchive, "127.0.0.1", tcp->Port(), 1,
                                     b.areas->ReceiveArea.data(), &b.areas->ProgressCell);
        const auto start = std::chrono::steady_clock::now();
        engine.RunPass();
        const double wall = Seconds(std::chrono::steady_clock::now() - start);
        if (engine.Request().Status != 0)
            return state.SkipWithError(engine.Request().ErrorText.c_str());
        const double wire = static_cast<double>(serialBytes) * 11.0 / 115200.0;
        state.SetIterationTime(wall);
        totalWall += wall;
        totalWaits += waited;
        totalWire += wire;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["waits_s"] = totalWaits / n;
    state.counters["wire_s"] = totalWire / n;
    state.counters["ratio"] = totalWall / (totalWaits + totalWire);
}

void BM_ArchiveReadTcp(benchmark::State& state) {
    RunArchiveRead(state, false, 107);
}
BENCHMARK(BM_ArchiveReadTcp)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ArchiveReadPty115200Compressed(benchmark::State& state) {
    RunArchiveRead(state, true, 107);
}
BENCHMARK(BM_ArchiveReadPty115200Compressed)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

void BM_ArchiveReadPty115200Plain(benchmark::State& state) {
    RunArchiveRead(state, true, 106);
}
BENCHMARK(BM_ArchiveReadPty115200Plain)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// A command waiting for a controller that never answers: the process's processor time as a
// share of the time waited (target under 1 % of one core).
void BM_WaitingForASilentController(benchmark::State& state) {
    Bench b(107);
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::Silence;
    b.faults.Set(silence);
    sim::TcpServer tcp(b.controller, b.faults, 0);
    std::string error;
    if (!tcp.Start(error)) return state.SkipWithError(error.c_str());
    QtSerialLine serialLine;
    QtTcpLine tcpLine;
    LineChoice line(serialLine, tcpLine);
    LinkEngine engine(line, LinkImage::Of(*b.areas));
    for (auto _ : state) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        engine.Request().FillTcp(command::ReadCurrent, "127.0.0.1", tcp.Port(), 1,
                                 b.areas->ReceiveArea.data(), &b.areas->ProgressCell);
        const auto start = std::chrono::steady_clock::now();
        engine.RunPass();
        const double wall = Seconds(std::chrono::steady_clock::now() - start);
        getrusage(RUSAGE_SELF, &after);
        auto cpu = [](const rusage& r) {
            return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
                   static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
        };
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = 100.0 * (cpu(after) - cpu(before)) / wall;
    }
}
BENCHMARK(BM_WaitingForASilentController)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A controller that answers the image read and then floods the line without end from the
// first archive request on: the archive read as a hidden run makes it, with the protocol's
// waits and the byte trace written to a file, must end after its five attempts at the block
// (target: within 30 s, against a silent controller's 12.6 s of retries). Reports the bytes
// taken from the line and the size of the trace.
void BM_ArchiveReadFromAFloodingController(benchmark::State& state) {
    Bench b(107);
    sim::FaultRule flood;
    flood.kind = sim::FaultKind::Flood;
    flood.every = 2;
    b.faults.Set(flood);
    char dir[] = "/tmp/vir05-bench-XXXXXX";
    if (!mkdtemp(dir)) return state.SkipWithError("no temporary directory");
    const std::string tracePath = std::string(dir) + "/test.txt";
    QtSerialLine serialLine;
    QtTcpLine tcpInner;
    std::uint64_t received = 0;  // the bytes the line delivers
    CountingLine tcpLine(tcpInner, received, false);
    LineChoice line(serialLine, tcpLine);
    double bytes = 0, traceBytes = 0, waits = 0;
    for (auto _ : state) {
        sim::TcpServer tcp(b.controller, b.faults, 0);  // the flood rule counts from here
        b.faults.Set(flood);
        std::string error;
        if (!tcp.Start(error)) return state.SkipWithError(error.c_str());
        double waited = 0;
        {
            TraceLog trace(tracePath);
            LinkEngine engine(line, LinkImage::Of(*b.areas), LinkTiming::Default(), &trace,
                              [&waited](int ms) {
                                  waited += ms / 1000.0;
                                  RealSleep(ms);
                              });
            received = 0;
            engine.Request().FillTcp(command::ReadArchive, "127.0.0.1", tcp.Port(), 1,
                                     b.areas->ReceiveArea.data(), &b.areas->ProgressCell);
            const auto start = std::chrono::steady_clock::now();
            engine.RunPass();
            state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
            if (engine.Request().Status == 0)
                return state.SkipWithError("the flooded read reported success");
        }
        bytes += static_cast<double>(received);
        waits += waited;
        std::FILE* f = std::fopen(tracePath.c_str(), "rb");
        if (f) {
            std::fseek(f, 0, SEEK_END);
            traceBytes += static_cast<double>(std::ftell(f));
            std::fclose(f);
        }
    }
    std::remove(tracePath.c_str());
    rmdir(dir);
    const double n = static_cast<double>(state.iterations());
    state.counters["line_MB"] = bytes / n / 1e6;
    state.counters["trace_MB"] = traceBytes / n / 1e6;
    state.counters["waits_s"] = waits / n;
}
BENCHMARK(BM_ArchiveReadFromAFloodingController)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vir05

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
