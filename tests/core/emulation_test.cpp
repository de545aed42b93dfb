// The plant model of the emulation page: lag, dead time, drift, noise, the valve, the chart data,
// and the loop it forms with the simulated controller's valve control.
#include "core/emulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

#include "core/protocol/frame.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "sim/controller.h"

namespace vir05 {
namespace {

// A draw that returns scripted numbers in turn (the last one repeats), so each tick's drift
// draw r = n % 5 − 2 and its two noise draws are known.
class Script {
  public:
    explicit Script(std::vector<std::uint32_t> values) : values_(std::move(values)) {}
    EmuDraw Draw() {
        return [this] {
            const std::uint32_t v = values_[std::min(next_, values_.size() - 1)];
            ++next_;
            return v;
        };
    }

  private:
    std::vector<std::uint32_t> values_;
    std::size_t next_ = 0;
};

constexpr std::uint32_t kR0 = 2;  // r = 0: no drift, and 0 for every noise range

struct Plant : ::testing::Test {
    Plant() : image(std::make_unique<std::uint8_t[]>(kImageSize)) {
        std::fill_n(image.get(), kImageSize, 0);
    }
    void Tick(const EmuDraw& draw, int circuit = 0) {
        EmulationTick(fields, state, draw, image.get(), circuit);
    }
    int SentT11(int circuit = 0) const { return I16(image.get(), CircuitField(circuit, rec::T11)); }

    PlantFields fields;
    PlantState state;
    std::unique_ptr<std::uint8_t[]> image;
};

TEST(PlantFieldsTest, InitialValuesAndLimits) {
    const PlantFields f;
    EXPECT_DOUBLE_EQ(f[kEmuKSys], 2);
    EXPECT_DOUBLE_EQ(f[kEmuTauSys], 30);
    EXPECT_DOUBLE_EQ(f[kEmuDelaySys], 5);
    EXPECT_DOUBLE_EQ(f[kEmuDiviation], 0.01);
    EXPECT_DOUBLE_EQ(f[kEmuAddTEmu], 0.02);
    EXPECT_DOUBLE_EQ(f[kEmuDeltaInterval], 1);
    EXPECT_DOUBLE_EQ(f[kEmuKlapSys], 0);
    EXPECT_FALSE(f.handKp);
    EXPECT_FALSE(f.klChgManual);

    struct Case {
        EmuField field;
        double in, out;
    } cases[] = {
        {kEmuKSys, 0, 0.01},
        {kEmuKSys, 25, 20},
        {kEmuKSys, 1.236, 1.24},
        {kEmuTauSys, 0.4, 1},
        {kEmuTauSys, 30.6, 31},
        {kEmuDelaySys, 2, 3},
        {kEmuDelaySys, 150, 99},
        {kEmuAddTEmu, 0.0204, 0.02},
        {kEmuDeltaTEmu, -31, -30},
        {kEmuDeltaTEmu, 40.004, 40},
        {kEmuKlapSys, -0.2, 0},
        {kEmuKlapSys, 100.5, 100},
        {kEmuTSys, -5, 0},
        {kEmuTSys, 250, 200},
        {kEmuFinalT, 2000, 1000},
        {kEmuNextVirt, -327.68, -327.68},
        {kEmuKSys, std::nan(""), 0.01},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(LimitEmuField(c.field, c.in), c.out)
            << EmuFieldSpecs()[c.field].name << " " << c.in;
}

TEST_F(Plant, FirstTickWritesSlotOneAndSendsTheStillEmptySlot99) {
    fields.Set(kEmuKlapSys, 10);  // K 2 · V 10 s: 20 °C final
    Script s({kR0});
    Tick(s.Draw());
    EXPECT_EQ(state.ringPos, 1);
    EXPECT_DOUBLE_EQ(fields[kEmuFinalT], 20);
    EXPECT_GT(state.ring[1], 0);
    EXPECT_EQ(SentT11(), 0);  // slot 99, with D = 5, is still 0
    EXPECT_DOUBLE_EQ(fields[kEmuTSys], 0);
    EXPECT_EQ(image[addr::EmulationFlag], 2);
}

// The controller sees the plant output D − 3 ticks after it was computed; with D = 3 at once.
TEST_F(Plant, DeadTimeIsDMinusThreeTicks) {
    for (int d : {3, 4, 5, 12, 99}) {
        SCOPED_TRACE(d);
        fields = PlantFields{};
        state = PlantState{};
        fields.Set(kEmuDelaySys, d);
        fields.Set(kEmuTauSys, 1);
        fields.handKp = true;
        Script s({kR0});
        std::vector<int> computed, sent;
        for (int tick = 0; tick < 150; ++tick) {
            fields.Set(kEmuKlapSys, (tick % 7) * 3.0);  // a valve that keeps moving
            Tick(s.Draw(), 1);
            computed.push_back(state.ring[static_cast<std::size_t>(state.ringPos)]);
            sent.push_back(SentT11(1));
            EXPECT_DOUBLE_EQ(fields[kEmuTSys], sent.back() * 0.01);
        }
        const int lagTicks = d - 3;
        for (int tick = 0; tick < 150; ++tick)
            EXPECT_EQ(sent[tick], tick >= lagTicks ? computed[tick - lagTicks] : 0) << tick;
        EXPECT_EQ(SentT11(0), 0);  // the other circuit is left alone
    }
}

TEST_F(Plant, LagApproachesTheFinalValueAndStopsAt19900) {
    fields.handKp = true;
    fields.Set(kEmuKlapSys, 50);  // K 2 · V 50: F = 10000
    Script s({kR0});
    double expected = 0;
    for (int tick = 0; tick < 90; ++tick) {
        Tick(s.Draw());
        expected = 10000 - std::exp(-1.0 / 30) * (10000 - expected);
        ASSERT_NEAR(state.lag, expected, 0.05) << tick;
    }
    EXPECT_NEAR(state.lag, 10000 * (1 - std::exp(-3.0)), 1);  // three time constants

    fields.Set(kEmuKSys, 20);
    fields.Set(kEmuKlapSys, 100);  // F = 200000
    fields.Set(kEmuTauSys, 1);
    for (int tick = 0; tick < 10; ++tick)
        Tick(s.Draw());
    EXPECT_FLOAT_EQ(state.lag, 19900);
    EXPECT_EQ(state.ring[static_cast<std::size_t>(state.ringPos)], 19900);
    EXPECT_DOUBLE_EQ(fields[kEmuFinalT], 1000);  // the field's limit, the model keeps 2000 °C
    EXPECT_EQ(SentT11(), 19900);
    EXPECT_DOUBLE_EQ(fields[kEmuTSys], 199);
}

// The measurement differs from the delayed output by a − b, both drawn from 0..N−1, N = σ·100.
TEST_F(Plant, NoiseStaysBelowSigma) {
    struct Case {
        double sigma;
        int range;  // N
    } cases[] = {{0.01, 1}, {0.05, 5}, {0.29, 29}, {1.5, 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sigma);
        fields = PlantFields{};
        state = PlantState{};
        fields.handKp = true;
        fields.Set(kEmuAddTEmu, 0);
        fields.Set(kEmuDiviation, c.sigma);
        fields.Set(kEmuKlapSys, 30);
        fields.Set(kEmuDelaySys, 3);
        EmuRandom random(7);
        const EmuDraw draw = [&random] { return random(); };
        int lo = 0, hi = 0;
        for (int tick = 0; tick < 3000; ++tick) {
            Tick(draw);
            const int noise = SentT11() - state.ring[static_cast<std::size_t>(state.ringPos)];
            lo = std::min(lo, noise);
            hi = std::max(hi, noise);
        }
        EXPECT_GE(lo, -(c.range - 1));
        EXPECT_LE(hi, c.range - 1);
        // Small ranges reach their ends within the run; a wide one at least most of its width.
        if (c.range <= 29) {
            EXPECT_EQ(lo, -(c.range - 1));
            EXPECT_EQ(hi, c.range - 1);
        } else {
            EXPECT_LT(lo, -c.range * 2 / 3);
            EXPECT_GT(hi, c.range * 2 / 3);
        }
    }
}

TEST_F(Plant, MeasurementIsSixteenBitsOfTheDelayedOutput) {
    // Drift −30 °C on a cold plant: the output is −3000 hundredths, sent as a signed word.
    fields.handKp = true;
    fields.Set(kEmuDelaySys, 3);
    fields.Set(kEmuDeltaTEmu, -30);
    Script s({kR0});
    Tick(s.Draw());
    EXPECT_EQ(SentT11(), -3000);
    EXPECT_EQ(image[CircuitField(0, rec::T11)], 0x48);  // -3000 = 0xF448, little-endian
    EXPECT_EQ(image[CircuitField(0, rec::T11) + 1], 0xF4);
    EXPECT_DOUBLE_EQ(fields[kEmuTSys], 0);  // the field shows no less than 0 °C
}

TEST_F(Plant, DriftIsRedrawnEveryMTicksAndHeldInsideItsLimits) {
    // M = 1: each tick's r sets the step at once. Draws 4, 0, 3 give r = 2, −2, 1 (the noise
    // draws in between take 0, as σ = 0.01 leaves no noise); A = 0.02.
    {
        Script s({4, 0, 0, 0, 0, 0, 3, 0, 0});
        fields.handKp = true;
        Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 0.04);
        Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 0);
        Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 0.02);
    }
    // M = 40 with A = 1: the step drawn at tick 40 is kept for the next 40 ticks while the
    // drift keeps growing by it until the upper limit 40 holds it.
    {
        fields = PlantFields{};
        state = PlantState{};
        fields.handKp = true;
        fields.Set(kEmuAddTEmu, 1);
        fields.Set(kEmuDeltaInterval, 40);
        std::vector<std::uint32_t> draws;
        for (int tick = 1; tick <= 80; ++tick) {
            draws.push_back(tick == 40 ? 3 : 4);  // r = 1 at tick 40, r = 2 at every other
            draws.push_back(0);
            draws.push_back(0);
        }
        Script s(draws);
        for (int tick = 1; tick <= 39; ++tick)
            Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 0);  // no step drawn yet
        Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 1);
        for (int tick = 41; tick <= 79; ++tick)
            Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 40);  // 40 steps of 1, and held there
        EXPECT_DOUBLE_EQ(state.driftStep, 1);
        Tick(s.Draw());  // tick 80 draws r = 2
        EXPECT_DOUBLE_EQ(state.driftStep, 2);
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], 40);
    }
    // Downwards the drift stops at −30.
    {
        fields = PlantFields{};
        state = PlantState{};
        fields.handKp = true;
        fields.Set(kEmuAddTEmu, 1);
        Script s({0});  // r = −2 on every tick
        for (int tick = 0; tick < 20; ++tick)
            Tick(s.Draw());
        EXPECT_DOUBLE_EQ(fields[kEmuDeltaTEmu], -30);
    }
}

TEST_F(Plant, GainWandersByTheDrawUnlessHeldByHand) {
    fields.Set(kEmuAddTEmu, 0.5);
    Script s({4, 0, 0, 4, 0, 0, 0});  // r = 2, 2, then −2 on
    Tick(s.Draw());
    EXPECT_DOUBLE_EQ(fields[kEmuKSys], 1);  // 2 − 0.5·2
    Tick(s.Draw());
    EXPECT_DOUBLE_EQ(fields[kEmuKSys], 0.01);  // 0 is below the limit
    Tick(s.Draw());
    EXPECT_DOUBLE_EQ(fields[kEmuKSys], 1.01);
    fields.handKp = true;
    for (int tick = 0; tick < 5; ++tick)
        Tick(s.Draw());
    EXPECT_DOUBLE_EQ(fields[kEmuKSys], 1.01);
}

TEST_F(Plant, CompletionMovesTheValveInsideItsTravel) {
    // Answer: accumulator 0x1234FF38 (upper half 0xFF38 = −200: −2.00 s), then the step.
    auto answer = [](std::int8_t step) {
        return std::array<std::uint8_t, 5>{0x34, 0x12, 0x38, 0xFF, static_cast<std::uint8_t>(step)};
    };
    struct Case {
        double valve;
        std::int8_t step;
        bool manual;
        double after;
    } cases[] = {
        {5, -20, false, 4.8},    {0.1, -20, false, 0},    {0, -20, false, 0},
        {99.5, 127, false, 100}, {50, 127, false, 51.27}, {50, -128, false, 48.72},
        {50, 100, true, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.valve);
        fields.klChgManual = c.manual;
        fields.Set(kEmuKlapSys, c.valve);
        image[addr::EmulationFlag] = 2;
        EmulationComplete(fields, answer(c.step).data(), image.get());
        EXPECT_DOUBLE_EQ(fields[kEmuKlapSys], c.after);
        EXPECT_DOUBLE_EQ(fields[kEmuNextVirt], -2);
        EXPECT_EQ(image[addr::EmulationFlag], 0);
    }
}

TEST(PlantChartDataTest, KeepsTheNewestThousandOldestFirst) {
    PlantChartData chart;
    PlantFields f;
    for (int i = 0; i < 1005; ++i) {
        f.Set(kEmuTSys, i * 0.1);
        f.Set(kEmuKlapSys, i % 100);
        f.Set(kEmuNextVirt, -i);
        chart.Add(f);
    }
    ASSERT_EQ(chart.Records().size(), 1000u);
    EXPECT_DOUBLE_EQ(chart.Records().front().t11, 0.5);
    EXPECT_DOUBLE_EQ(chart.Records().front().klapVirt, -5);
    EXPECT_DOUBLE_EQ(chart.Records().back().t11, 100.4);
    EXPECT_DOUBLE_EQ(chart.Records().back().klap, 4);
    chart.Clear();
    EXPECT_TRUE(chart.Records().empty());
}

// The plant against the simulated controller's valve loop, exchanged through request frames as
// the link sends them: the temperature the controller sees settles at its setpoint.
TEST(PlantLoopTest, SettlesAtTheSimulatedControllersSetpoint) {
    struct Case {
        int circuit;
        std::int16_t setpoint;  // hundredths of a degree
        double gain;
        int tau, delay;
        double sigma;
    } cases[] = {{0, 6000, 2, 30, 5, 0.01}, {1, 4500, 3, 60, 8, 0.1}, {0, 3500, 1, 10, 3, 0.3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.circuit);
        auto image = std::make_unique<std::uint8_t[]>(kImageSize);
        auto archive = std::make_unique<std::uint8_t[]>(kArchiveSize);
        std::fill_n(image.get(), kImageSize, 0);
        std::fill_n(archive.get(), kArchiveSize, 0);
        image[addr::NetAddress] = 1;
        PutI16(image.get(), CircuitField(c.circuit, rec::Base), c.setpoint);
        PutI16(image.get(), CircuitField(c.circuit, rec::T_Klap), 120);
        sim::Controller controller;
        controller.Load(image.get(), archive.get());

        PlantFields fields;
        fields.handKp = true;  // the gain as given; the temperature still drifts
        fields.Set(kEmuKSys, c.gain);
        fields.Set(kEmuTauSys, c.tau);
        fields.Set(kEmuDelaySys, c.delay);
        fields.Set(kEmuDiviation, c.sigma);
        PlantState state;
        EmuRandom random(11);
        const EmuDraw draw = [&random] { return random(); };
        std::vector<int> seen;
        for (int tick = 0; tick < 900; ++tick) {
            EmulationTick(fields, state, draw, image.get(), c.circuit);
            std::vector<std::uint8_t> frame(64);
            const int t11 = CircuitField(c.circuit, rec::T11);
            frame.resize(BuildWriteFrame(frame.data(), 1, static_cast<std::uint16_t>(t11),
                                         image.get() + t11, 2));
            ASSERT_TRUE(controller.Handle(frame));
            frame.resize(64);
            frame.resize(BuildWriteFrame(frame.data(), 1, addr::EmulationFlag,
                                         image.get() + addr::EmulationFlag, 1));
            ASSERT_TRUE(controller.Handle(frame));
            frame.resize(64);
            frame.resize(BuildReadMemoryFrame(
                frame.data(), 1, static_cast<std::uint32_t>(CircuitField(c.circuit, rec::RegAccum)),
                5));
            const auto reply = controller.Handle(frame);
            ASSERT_TRUE(reply && reply->bytes.size() == 12u);
            EmulationComplete(fields, reply->bytes.data() + 6, image.get());
            seen.push_back(I16(image.get(), t11));
        }
        // The last five minutes stay close to the setpoint.
        double sum = 0;
        for (std::size_t i = seen.size() - 300; i < seen.size(); ++i) {
            EXPECT_NEAR(seen[i], c.setpoint, 100 + c.sigma * 200) << i;
            sum += seen[i];
        }
        EXPECT_NEAR(sum / 300, c.setpoint, 30);
        EXPECT_GT(fields[kEmuKlapSys], 0);
    }
}

}  // namespace
}  // namespace vir05
