// The page "Эмуляция системы": the plant model's fields, its one-second tick and its chart.
//
// EmulationPage runs the model over the page PageEmulation: the fields KSys ... NextVirt (found
// by the names of the model's field table), the check boxes HandKp, KlChgManual and Emulatuon,
// the requests of Button1 "Clear" and AddChart, the chart DBChart1. While "Эмуляция включена"
// is checked, TimerEmu ticks once a second: each tick reads the fields (so edits by hand take
// effect on the next tick), runs the model, writes the measurement into the image, shows the
// fields again and asks for the emulation exchange (emulatorStepRequested). The window calls
// Complete with the exchange's answer when it has ended successfully.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "core/emulation.h"
#include "model/layout.h"

class QAbstractButton;
class QChart;
class QLineSeries;
class QValueAxis;

namespace vir05 {

class PageEmulation;

// What the page asks of the window session.
struct EmulationQueries {
    std::function<std::uint8_t*()> image;  // the device image the measurement goes into
    std::function<int()> circuit;          // the circuit selected on the window
    std::function<bool()> linkBusy;        // the previous exchange still runs
};

class EmulationPage : public QObject {
    Q_OBJECT

  public:
    static constexpr int kTickMs = 1000;

    // Without a page the model runs on its own fields.
    EmulationPage(PageEmulation* page, EmulationQueries queries, QObject* parent = nullptr,
                  std::uint32_t seed = EmuRandom::DefaultSeed());

    // The timer runs exactly while "Эмуляция включена" is checked.
    void EmulatuonClick();
    // One tick of the model and the start of the exchange.
    void TimerEmuTimer();
    // The completion step after a successful exchange; `answer` holds the 5 bytes read back.
    void Complete(const std::uint8_t* answer);
    // Appends one chart record from the fields.
    void AddChartClick();
    // Empties the chart data and the chart.
    void Button1Click();

    // Restarts the generator of drift and noise, for repeatable runs.
    void Seed(std::uint32_t seed) { random_ = EmuRandom(seed); }

    const PlantFields& Fields() const { return fields_; }
    const PlantState& State() const { return state_; }
    const PlantChartData& ChartData() const { return chart_; }
    const QTimer& TimerEmu() const { return timer_; }
    QLineSeries* Series1() const { return series1_; }
    // The fields as the page shows them now (edits by hand included).
    PlantFields ReadFields() const;

  signals:
    // Ends cyclic reading, starts the exchange with the dialog's connection values at this
    // moment, turns on the completion polling, sets the caption and hides the read panel.
    void emulatorStepRequested();
    // The tool panel comes back, as after any completed command.
    void readPanelRestoreRequested();

  private:
    void ShowFields();
    void RedrawChart();

    std::array<QWidget*, kEmuFieldCount> fieldWidgets_{};  // in EmuField order; null when absent
    QAbstractButton* handKp_ = nullptr;
    QAbstractButton* klChgManual_ = nullptr;
    QAbstractButton* emulatuon_ = nullptr;
    EmulationQueries queries_;
    PlantFields fields_;
    PlantState state_;
    PlantChartData chart_;
    EmuRandom random_;
    std::array<std::uint8_t, kImageSize> scratch_{};  // the image when there is none to write
    QTimer timer_;
    QChart* chart1_ = nullptr;
    QLineSeries* series1_ = nullptr;
    QLineSeries* series2_ = nullptr;
    QLineSeries* series3_ = nullptr;
    QValueAxis* indexAxis_ = nullptr;
    QValueAxis* valueAxis_ = nullptr;
};

}  // namespace vir05
