// A simulated heating plant for trying the controller's valve loop.
//
// Once a second the plant's temperature is computed from the valve position with a first-order
// lag, a dead time, a slow drift and measurement noise, and written into the image as the T11
// reading of the selected circuit; the controller answers with how far it moved the valve, and
// the valve position follows. The parameters and the visible state are plain fields with the
// ranges and precisions of the page that shows them; every value stored into a field is rounded
// to its precision and held inside its range.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>

namespace vir05 {

// One numeric field of the emulation page.
struct EmuFieldSpec {
    const char* name;
    double min;
    double max;
    int decimals;
    double initial;
};

enum EmuField {
    kEmuKSys,           // plant gain K, degrees of final temperature per second of valve opening
    kEmuTauSys,         // time constant, seconds (ticks)
    kEmuDelaySys,       // dead-time setting D, seconds (ticks)
    kEmuDiviation,      // noise amplitude, °C
    kEmuAddTEmu,        // drift unit A, °C per second
    kEmuDeltaInterval,  // ticks between draws of the drift rate
    kEmuDeltaTEmu,      // accumulated drift, °C
    kEmuKlapSys,        // valve position V, seconds of travel
    kEmuTSys,           // delayed plant temperature, °C
    kEmuFinalT,         // steady-state temperature for the current V and K, °C
    kEmuNextVirt,       // the controller's virtual valve position of the last exchange, seconds
    kEmuFieldCount
};

const std::array<EmuFieldSpec, kEmuFieldCount>& EmuFieldSpecs();

// Rounds `v` to the field's precision and replaces a value outside its range by the nearest
// limit (a value that is not a number becomes the lower limit).
double LimitEmuField(EmuField field, double v);

struct PlantFields {
    std::array<double, kEmuFieldCount> value{};
    bool handKp = false;       // "Руч." beside the gain: the gain stays as entered
    bool klChgManual = false;  // "Руч." beside the valve: the valve stays as entered

    PlantFields();  // the initial values of the page
    double operator[](EmuField f) const { return value[f]; }
    void Set(EmuField f, double v) { value[f] = LimitEmuField(f, v); }
};

// The emulation's memory beyond the fields; zero at start and kept while the emulation is off.
struct PlantState {
    float lag = 0;                         // y, hundredths of a degree
    std::array<std::int32_t, 100> ring{};  // plant outputs, hundredths of a degree
    int ringPos = 0;                       // the slot written last
    float driftStep = 0;                   // added to the drift every tick
    int driftCount = 0;                    // ticks since the drift step was drawn
};

// A non-negative pseudo-random integer per call.
using EmuDraw = std::function<std::uint32_t()>;

// A uniform generator with a seed, for the window and for repeatable tests.
class EmuRandom {
  public:
    static std::uint32_t DefaultSeed() { return std::random_device{}(); }
    explicit EmuRandom(std::uint32_t seed = DefaultSeed()) : engine_(seed) {}
    std::uint32_t operator()() { return engine_() >> 1; }

  private:
    std::mt19937 engine_;
};

// One tick of the plant: advances the ring, computes lag, drift, gain drift, the delayed output
// and the noisy measurement, writes the measurement as T11 of `circuit` into `image` and sets
// the image's emulation flag to 2. `image` is a full device image.
void EmulationTick(PlantFields& fields, PlantState& state, const EmuDraw& draw, std::uint8_t* image,
                   int circuit);

// After a successful exchange: `answer` holds the 5 bytes read back (the valve accumulator,
// then the last valve step in hundredths of a second). Moves the valve unless it is held by
// hand, takes the virtual position, and clears the image's emulation flag.
void EmulationComplete(PlantFields& fields, const std::uint8_t* answer, std::uint8_t* image);

// The chart data: the newest records, oldest first.
struct PlantRecord {
    double t11 = 0;       // "T11", the temperature sent
    double klap = 0;      // "Klap", the valve position
    double klapVirt = 0;  // "KlapVirt", the controller's virtual valve position
};

class PlantChartData {
  public:
    static constexpr std::size_t kLimit = 1000;
    void Add(const PlantFields& fields);  // appends, then drops the oldest beyond the limit
    void Clear() { records_.clear(); }
    const std::deque<PlantRecord>& Records() const { return records_; }

  private:
    std::deque<PlantRecord> records_;
};

}  // namespace vir05
