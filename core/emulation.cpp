#include "core/emulation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/bytes.h"
#include "model/layout.h"

namespace vir05 {

const std::array<EmuFieldSpec, kEmuFieldCount>& EmuFieldSpecs() {
    static const std::array<EmuFieldSpec, kEmuFieldCount> kSpecs{{
        {"KSys", 0.01, 20, 2, 2},
        {"TauSys", 1, 1000, 0, 30},
        {"DelaySys", 3, 99, 0, 5},
        {"Diviation", 0.01, 20, 2, 0.01},
        {"AddTEmu", 0, 1, 3, 0.02},
        {"DeltaInterval", 1, 40, 0, 1},
        {"DeltaTEmu", -30, 40, 2, 0},
        {"KlapSys", 0, 100, 2, 0},
        {"TSys", 0, 200, 2, 0},
        {"FinalT", 0, 1000, 2, 0},
        {"NextVirt", -1e100, 1e100, 2, 0},
    }};
    return kSpecs;
}

double LimitEmuField(EmuField field, double v) {
    const EmuFieldSpec& s = EmuFieldSpecs()[field];
    if (std::isnan(v)) return s.min;
    const double scale = std::pow(10.0, s.decimals);
    if (std::abs(v) < 1e15) v = std::round(v * scale) / scale;
    return std::clamp(v, s.min, s.max);
}

PlantFields::PlantFields() {
    for (int f = 0; f < kEmuFieldCount; ++f)
        value[static_cast<std::size_t>(f)] = EmuFieldSpecs()[static_cast<std::size_t>(f)].initial;
}

namespace {

constexpr int kRingSize = static_cast<int>(std::tuple_size_v<decltype(PlantState::ring)>);
constexpr float kLagCap = 19900;  // hundredths of a degree: the plant never exceeds 199 °C

std::int32_t ToRing(double hundredths) {
    // Truncated toward zero; the drift and the lag keep this far inside the 32-bit range, the
    // clamp only guards against a state nobody could reach through the fields.
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::trunc(hundredths), lo, hi));
}

}  // namespace

void EmulationTick(PlantFields& fields, PlantState& state, const EmuDraw& draw, std::uint8_t* image,
                   int circuit) {
    state.ringPos = (std::clamp(state.ringPos, 0, kRingSize - 1) + 1) % kRingSize;
    image[addr::EmulationFlag] = 2;

    // Steady state and the first-order lag towards it.
    const float finalT = static_cast<float>(fields[kEmuKSys] * fields[kEmuKlapSys] * 100.0);
    fields.Set(kEmuFinalT, finalT * 0.01);
    const double tau = std::max(1.0, fields[kEmuTauSys]);
    float y = static_cast<float>(finalT - std::exp(-1.0 / tau) * (finalT - state.lag));
    if (y > kLagCap) y = kLagCap;
    state.lag = y;

    // The drift: a rate of A·r redrawn every M ticks, added to the accumulated drift each tick;
    // the gain wanders by the same draw unless it is held by hand.
    const int r = static_cast<int>(draw() % 5) - 2;
    const double a = fields[kEmuAddTEmu];
    const int m = std::max(1, static_cast<int>(fields[kEmuDeltaInterval]));
    if (++state.driftCount >= m) {
        state.driftStep = static_cast<float>(a * r);
        state.driftCount = 0;
    }
    fields.Set(kEmuDeltaTEmu, fields[kEmuDeltaTEmu] + state.driftStep);
    if (!fields.handKp) fields.Set(kEmuKSys, fields[kEmuKSys] - a * r);

    state.ring[static_cast<std::size_t>(state.ringPos)] =
        ToRing(fields[kEmuDeltaTEmu] * 100.0 + static_cast<double>(y));

    // The dead time: the controller sees the output of D − 3 ticks ago.
    const int d = std::clamp(static_cast<int>(fields[kEmuDelaySys]), 3, 99);
    int q = state.ringPos - d + 3;
    if (q < 0) q += kRingSize;
    const std::int32_t delayed = state.ring[static_cast<std::size_t>(q)];
    fields.Set(kEmuTSys, delayed * 0.01);

    // Noise below ±σ. The amplitude has two decimals, so σ·100 is a whole number; it is rounded,
    // not truncated, so that 0.29 gives a range of 29 and not 28.
    const long n = std::lround(fields[kEmuDiviation] * 100.0);
    const auto noise = [&]() -> int {
        return n > 0 ? static_cast<int>(draw() % static_cast<std::uint32_t>(n)) : 0;
    };
    const int plus = noise();
    const int minus = noise();
    const auto measured = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint16_t>(delayed) + plus - minus));
    const int c = std::clamp(circuit, 0, kCircuitCount - 1);
    PutI16(image, CircuitField(c, rec::T11), measured);
}

void EmulationComplete(PlantFields& fields, const std::uint8_t* answer, std::uint8_t* image) {
    // Answer bytes 0–3: the valve accumulator, its upper half the virtual position in
    // hundredths of a second; byte 4: the last step in hundredths of a second, positive opens.
    if (!fields.klChgManual) fields.Set(kEmuKlapSys, fields[kEmuKlapSys] + I8(answer, 4) * 0.01);
    fields.Set(kEmuNextVirt, I16(answer, 2) * 0.01);
    image[addr::EmulationFlag] = 0;
}

void PlantChartData::Add(const PlantFields& fields) {
    records_.push_back({fields[kEmuTSys], fields[kEmuKlapSys], fields[kEmuNextVirt]});
    while (records_.size() > kLimit)
        records_.pop_front();
}

}  // namespace vir05
