// The page "Эмуляция системы" in the window against the simulated controller over TCP: the
// exchange each tick sends, the completion step, the failure path, the tick timer, the chart,
// and the loop settling at the controller's setpoint.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTabWidget>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <cmath>

#include "core/protocol/frame.h"
#include "model/bytes.h"
#include "tests/ui/session_fixture.h"
#include "ui/main/emulation.h"

namespace vir05 {
namespace {

class EmulationTest : public test::SessionTest {
  protected:
    EmulationPage& Page() { return session_->Emulation(); }
    double Field(const char* name) { return Control<QDoubleSpinBox>(name)->value(); }
    // One tick as the timer gives it, and the exchange run to its end.
    bool Tick() {
        Page().TimerEmuTimer();
        return WaitIdle();
    }
    const std::uint8_t* Sim() {
        const auto image = controller_.Image();
        simImage_.assign(image.begin(), image.end());
        return simImage_.data();
    }
    std::vector<std::uint8_t> simImage_;
};

TEST_F(EmulationTest, TickSendsTheMeasurementAndTheValveFollowsTheAnswer) {
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    session_->SelectCircuit(1);
    Control<QDoubleSpinBox>("KlapSys")->setValue(20);
    Control<QSpinBox>("DelaySys")->setValue(3);  // the measurement of this very tick is sent
    Control<QCheckBox>("HandKp")->setChecked(true);
    Control<QDoubleSpinBox>("AddTEmu")->setValue(0);  // no drift
    controller_.ClearReceivedFrames();

    Page().TimerEmuTimer();
    EXPECT_EQ(areas_->DeviceImage()[addr::EmulationFlag], 2);
    EXPECT_TRUE(Caption().startsWith("Эмуляция системы (")) << Caption().toStdString();
    EXPECT_TRUE(Caption().endsWith(", Адр:1)"));
    EXPECT_FALSE(session_->Window().ReadPanelVisible());
    ASSERT_TRUE(WaitIdle());

    // K 2 · V 20 s: 40 °C final; after one tick of τ = 30 the plant is at 40·(1 − e^(−1/30)).
    const int sent = I16(areas_->DeviceImage(), CircuitField(1, rec::T11));
    EXPECT_EQ(sent, static_cast<int>(4000 * (1 - std::exp(-1.0 / 30))));
    EXPECT_DOUBLE_EQ(Field("FinalT"), 40);

    // The controller received T11 of circuit 2, the flag, and the read of its valve answer.
    const auto frames = controller_.ReceivedFrames();
    ASSERT_EQ(frames.size(), 3u);
    std::vector<std::uint8_t> expected(32);
    const std::uint8_t t11[2] = {static_cast<std::uint8_t>(sent),
                                 static_cast<std::uint8_t>(sent >> 8)};
    expected.resize(BuildWriteFrame(expected.data(), 1, CircuitField(1, rec::T11), t11, 2));
    EXPECT_EQ(frames[0], expected);
    const std::uint8_t flag = 2;
    expected.resize(32);
    expected.resize(BuildWriteFrame(expected.data(), 1, addr::EmulationFlag, &flag, 1));
    EXPECT_EQ(frames[1], expected);
    expected.resize(32);
    expected.resize(BuildReadMemoryFrame(expected.data(), 1, CircuitField(1, rec::RegAccum), 5));
    EXPECT_EQ(frames[2], expected);
    EXPECT_EQ(I16(Sim(), CircuitField(1, rec::T11)), sent);

    // The completion step: the valve moved by the controller's step, the virtual position from
    // the accumulator's upper half, the flag cleared in the image, one chart record.
    const int step = I8(Sim(), CircuitField(1, rec::RegStep));
    const int virt = static_cast<std::int16_t>(U32(Sim(), CircuitField(1, rec::RegAccum)) >> 16);
    EXPECT_NE(step, 0);
    EXPECT_DOUBLE_EQ(Field("KlapSys"), std::clamp(std::round(2000.0 + step) / 100, 0.0, 100.0));
    EXPECT_DOUBLE_EQ(Field("NextVirt"), virt / 100.0);
    EXPECT_EQ(areas_->DeviceImage()[addr::EmulationFlag], 0);
    ASSERT_EQ(Page().ChartData().Records().size(), 1u);
    EXPECT_DOUBLE_EQ(Page().ChartData().Records()[0].t11, sent / 100.0);
    EXPECT_EQ(Page().Series1()->count(), 1);
    EXPECT_TRUE(session_->Window().ReadPanelVisible());
    EXPECT_FALSE(session_->Window().ProgressPanelVisible());
}

// While the emulation runs the tool panel does not flicker back between the exchanges; it comes
// back when the emulation is switched off.
TEST_F(EmulationTest, ThePanelsHoldStillWhileTheEmulationRuns) {
    auto* on = Control<QCheckBox>("Emulatuon");
    ASSERT_NE(on, nullptr);
    on->setChecked(true);
    ASSERT_TRUE(Page().TimerEmu().isActive());
    Page().TimerEmuTimer();
    ASSERT_TRUE(WaitIdle());
    EXPECT_GE(Page().ChartData().Records().size(), 1u);  // the exchange completed
    EXPECT_FALSE(session_->Window().ReadPanelVisible());
    on->setChecked(false);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(session_->Window().ReadPanelVisible());
    EXPECT_FALSE(session_->Window().ProgressPanelVisible());
}

TEST_F(EmulationTest, AFailedExchangeLeavesValveChartAndFlag) {
    Control<QDoubleSpinBox>("KlapSys")->setValue(10);
    faults_.Set({sim::FaultKind::Silence});
    ASSERT_TRUE(Tick());
    EXPECT_TRUE(Caption().startsWith("Ошибка: ")) << Caption().toStdString();
    EXPECT_DOUBLE_EQ(Field("KlapSys"), 10);
    EXPECT_TRUE(Page().ChartData().Records().empty());
    EXPECT_EQ(areas_->DeviceImage()[addr::EmulationFlag], 2);
    EXPECT_TRUE(session_->Window().ReadPanelVisible());
    // The next tick proceeds as usual.
    faults_.Clear();
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Page().ChartData().Records().size(), 1u);
    EXPECT_EQ(areas_->DeviceImage()[addr::EmulationFlag], 0);
}

TEST_F(EmulationTest, ATickEndsCyclicReadingAndStopsTheRunningCommand) {
    faults_.Set({sim::FaultKind::Stall, 1, 0, 1, 3000});  // keeps the cyclic read running
    session_->ReadCycleClick();
    ASSERT_TRUE(session_->CycleMode());
    Page().TimerEmuTimer();
    EXPECT_FALSE(session_->CycleMode());
    faults_.Clear();
    ASSERT_TRUE(WaitIdle());
    // The running read was stopped and nothing else started: no completion step.
    EXPECT_TRUE(Page().ChartData().Records().empty());
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Page().ChartData().Records().size(), 1u);
}

TEST_F(EmulationTest, CheckBoxRunsTheTickAndTheChartButtons) {
    EXPECT_FALSE(Page().TimerEmu().isActive());
    Control<QCheckBox>("Emulatuon")->setChecked(true);
    EXPECT_TRUE(Page().TimerEmu().isActive());
    EXPECT_EQ(Page().TimerEmu().interval(), 1000);
    Control<QCheckBox>("Emulatuon")->setChecked(false);
    EXPECT_FALSE(Page().TimerEmu().isActive());

    Control<QDoubleSpinBox>("TSys")->setValue(12.5);
    Control<QPushButton>("AddChart")->click();
    Control<QPushButton>("AddChart")->click();
    ASSERT_EQ(Page().ChartData().Records().size(), 2u);
    EXPECT_EQ(Page().Series1()->count(), 2);
    EXPECT_DOUBLE_EQ(Page().Series1()->at(1).y(), 12.5);
    QApplication::processEvents();
    const auto markers = Page().Series1()->chart()->legend()->markers(Page().Series1());
    ASSERT_EQ(markers.size(), 1);
    EXPECT_EQ(markers[0]->label(), "T1  12.500");  // the legend shows the last value
    Control<QPushButton>("Button1")->click();
    EXPECT_TRUE(Page().ChartData().Records().empty());
    EXPECT_EQ(Page().Series1()->count(), 0);
}

TEST_F(EmulationTest, FieldsTakeTheirRangesFromTheModel) {
    auto* k = Control<QDoubleSpinBox>("KSys");
    k->setValue(25);
    EXPECT_DOUBLE_EQ(k->value(), 20);
    auto* drift = Control<QDoubleSpinBox>("AddTEmu");
    drift->setValue(0.1234);
    EXPECT_DOUBLE_EQ(drift->value(), 0.123);
    auto* d = Control<QSpinBox>("DelaySys");
    d->setValue(1);
    EXPECT_EQ(d->value(), 3);
    EXPECT_DOUBLE_EQ(Page().ReadFields()[kEmuKSys], 20);
}

// Five minutes of emulation (300 ticks, each exchange run to its end): the temperature the
// controller sees settles at its setpoint. With VIR05_SHOT_DIR set, the page is saved there.
TEST_F(EmulationTest, LoopSettlesAtTheControllersSetpoint) {
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    SetPin("2749");
    Page().Seed(1);  // the gain and the drift wander the same way on every run
    const int setpoint = I16(Sim(), CircuitField(0, rec::Base));
    std::vector<int> seen;
    for (int tick = 0; tick < 300; ++tick) {
        ASSERT_TRUE(Tick()) << tick;
        ASSERT_EQ(Page().ChartData().Records().size(), std::size_t(tick + 1))
            << Caption().toStdString();
        seen.push_back(I16(Sim(), CircuitField(0, rec::T11)));
    }
    double sum = 0;
    for (std::size_t i = seen.size() - 60; i < seen.size(); ++i)
        sum += std::abs(seen[i] - setpoint);
    EXPECT_LT(sum / 60, 150) << "mean distance from the setpoint, hundredths of a degree";

    const QString dir = qEnvironmentVariable("VIR05_SHOT_DIR");
    if (dir.isEmpty()) return;
    session_->Window().show();
    QTabWidget* tabs = session_->Window().PageControl();
    tabs->setCurrentWidget(tabs->findChild<QWidget*>("TabSheetEmu"));
    QApplication::processEvents();
    EXPECT_TRUE(session_->Window().grab().save(dir + "/emulation-settled.png"));
}

}  // namespace
}  // namespace vir05
