// Speed of the window: a full presentation pass and the start-up to a shown window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <memory>

#include "app/window_run.h"
#include "ui/main/archive_view.h"
#include "ui/main/vir_cfg.h"

#include <QChartView>
#include <QPixmap>
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

// Refilling the archive grid and the chart from a full one-circuit archive (7168 records).
void BM_ArchiveGridAndChartRefill(benchmark::State& state) {
    auto areas = std::make_unique<MemoryAreas>();
    sim::GeneratorOptions o;
    o.circuits = 1;
    sim::GenerateContents(o, areas->DeviceImage(), areas->ArchiveImage());
    const ImageSnapshot snapshot = TakeSnapshot(areas->DeviceImage());
    TFormCfg window;
    ArchiveView view(window);
    for (auto _ : state)
        view.Fill(*areas, 0, snapshot);
}
BENCHMARK(BM_ArchiveGridAndChartRefill)->Unit(benchmark::kMillisecond);

// Drawing the chart of a full archive (eight series of 7168 points) at the window's size.
void BM_ChartRedrawFullArchive(benchmark::State& state) {
    auto areas = std::make_unique<MemoryAreas>();
    sim::GeneratorOptions o;
    o.circuits = 1;
    sim::GenerateContents(o, areas->DeviceImage(), areas->ArchiveImage());
    TFormCfg window;
    ArchiveView view(window);
    view.Fill(*areas, 0, TakeSnapshot(areas->DeviceImage()));
    auto* chart = window.Pages()->findChild<QChartView*>("DBChart2");
    window.show();
    window.PageControl()->setCurrentWidget(window.Pages()->findChild<QWidget*>("TabSheet9"));
    QApplication::processEvents();
    for (auto _ : state) {
        QPixmap picture = chart->grab();
        benchmark::DoNotOptimize(picture);
    }
}
BENCHMARK(BM_ChartRedrawFullArchive)->Unit(benchmark::kMillisecond);

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
