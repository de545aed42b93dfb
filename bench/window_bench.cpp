// Speed of the window: a full presentation pass and the start-up to a shown window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <memory>

#include "app/window_run.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

// The whole pass the window runs after a read: every control of every page, and the text
// output of a full two-circuit archive with a full event log.
void BM_PresentationPassFullArchive(benchmark::State& state) {
    auto areas = std::make_unique<MemoryAreas>();
    sim::GeneratorOptions o;
    o.events = 1024;
    sim::GenerateContents(o, areas->DeviceImage(), areas->ArchiveImage());
    CommandLine cl;
    cl.outputName = "vir05-bench-window.txt";  // beside the program
    RunLog log;
    WindowSession session(*areas, cl, StartupOutcome{}, log);
    session.FormShow();
    for (auto _ : state)
        session.ChSys();
    std::remove(cl.outputName.c_str());
}
BENCHMARK(BM_PresentationPassFullArchive)->Unit(benchmark::kMillisecond);

// From nothing to a window on the screen: the areas, the link thread, the window with all its
// pages, the connection dialog, the settings load and the first paint.
void BM_StartUpToAShownWindow(benchmark::State& state) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto areas = std::make_unique<MemoryAreas>();
        CommandLine cl;
        cl.outputName.clear();
        RunLog log;
        {
            WindowSession session(*areas, cl, StartupOutcome{}, log);
            session.Window().show();
            session.FormShow();
            QApplication::processEvents();
            state.SetIterationTime(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
}
BENCHMARK(BM_StartUpToAShownWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vir05

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
