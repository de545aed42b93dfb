#include "sim/generator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "model/bytes.h"
#include "model/layout.h"
#include "sim/civil.h"

namespace vir05::sim {

namespace {

// A small deterministic generator: the same seed gives the same bytes on every platform
// (the standard distributions are not portable across libraries).
class Rng {
  public:
    explicit Rng(std::uint32_t seed)
        : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Int(int lo, int hi) {
        return lo + static_cast<int>(Next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    bool Chance(double p) { return Unit() < p; }

  private:
    std::uint64_t state_;
};

using Seconds = std::chrono::sys_seconds;

Civil ToCivil(Seconds t) {
    return sim::ToCivil(t.time_since_epoch().count());
}

Seconds FromOptions(const GeneratorOptions& o) {
    using namespace std::chrono;
    const sys_days d =
        year{o.year} / month{static_cast<unsigned>(o.month)} / day{static_cast<unsigned>(o.day)};
    return d + hours{o.hour} + minutes{o.minute} + seconds{o.second};
}

int PeriodSeconds(int index) {
    static constexpr int kPeriods[] = {0, 10, 30, 60, 300, 1800, 3600, 7200, 14400};
    return index >= 1 && index <= 8 ? kPeriods[index] : 0;
}

// Weather and plant: an outdoor temperature with a seasonal and a daily swing, and the
// supply and return temperatures a heating curve gives for it (hundredths of a degree).
struct PlantState {
    double outdoor, supply, ret, setpoint, hotWater, valve;
};

PlantState PlantAt(Seconds t, Rng& rng) {
    const double hours = static_cast<double>(t.time_since_epoch().count()) / 3600.0;
    const double day = hours / 24.0;
    const double outdoor = -4.0 + 6.0 * std::sin(day * 2.0 * M_PI / 58.0) +
                           3.0 * std::sin((hours - 9.0) * 2.0 * M_PI / 24.0) + (rng.Unit() - 0.5);
    const double setpoint = std::clamp(20.0 + (20.0 - outdoor) * 1.55, 35.0, 95.0);
    const double supply = setpoint + (rng.Unit() - 0.5) * 1.6;
    const double ret = 20.0 + (supply - 20.0) * 0.62 + (rng.Unit() - 0.5);
    const double hotWater = 55.0 + (rng.Unit() - 0.5) * 3.0;
    const double valve =
        std::clamp(20.0 + (20.0 - outdoor) * 2.0 + (rng.Unit() - 0.5) * 10.0, 0.0, 100.0);
    return {outdoor, supply, ret, setpoint, hotWater, valve};
}

int Tenths(double c) {
    return static_cast<int>(std::lround(c * 10.0));
}
int Hundredths(double c) {
    return static_cast<int>(std::lround(c * 100.0));
}

// Two 12-bit temperatures in three bytes: the first in the low 12 bits of the word at p, the
// second in the high 12 bits of the word at p + 1.
void PackPair(std::uint8_t* p, int first, int second) {
    const unsigned a = static_cast<unsigned>(first) & 0x0FFF;
    const unsigned b = static_cast<unsigned>(second) & 0x0FFF;
    p[0] = static_cast<std::uint8_t>(a);
    p[1] = static_cast<std::uint8_t>((a >> 8) | ((b & 0x0F) << 4));
    p[2] = static_cast<std::uint8_t>(b >> 4);
}

constexpr int kNoValue12 = -2048;

void WriteSample(std::uint8_t* s, int t11, int t2, int tk, int tn, int real, int base, int klap,
                 int errors) {
    PackPair(s + 0, t11, t2);
    PackPair(s + 3, tk, tn);
    PackPair(s + 6, real, base);
    s[9] = static_cast<std::uint8_t>(klap);
    PutI16(s, 10, static_cast<std::int16_t>(errors));
}

std::uint16_t ArchTime(const Civil& c) {
    return static_cast<std::uint16_t>((c.hour << 11) | (c.minute << 5) | (c.second / 2));
}
std::uint16_t ArchDate(const Civil& c) {
    return static_cast<std::uint16_t>(((c.year - 2000) << 9) | (c.month << 5) | c.day);
}

void FillClock(std::uint8_t* img, const Civil& c) {
    img[addr::ClockSec] = ToBcd(c.second);
    img[addr::ClockMin] = ToBcd(c.minute);
    img[addr::ClockHour] = ToBcd(c.hour);
    img[addr::ClockWeekday] = static_cast<std::uint8_t>(c.isoWeekday);
    img[addr::ClockDay] = ToBcd(c.day);
    img[addr::ClockMonth] = ToBcd(c.month);
    img[addr::ClockYear] = ToBcd(c.year % 100);
}

void FillCircuit(std::uint8_t* img, int c, bool hotWater, const PlantState& now, Rng& rng,
                 int period) {
    const int r = CircuitRecordAddr(c);
    const double supply = hotWater ? now.hotWater : now.supply;
    const double setpoint = hotWater ? 55.0 : now.setpoint;
    PutI16(img, r + rec::T11, static_cast<std::int16_t>(Hundredths(supply)));
    PutI16(img, r + rec::T2, static_cast<std::int16_t>(Hundredths(hotWater ? 41.3 : now.ret)));
    PutI16(img, r + rec::Tk,
           static_cast<std::int16_t>(Hundredths(hotWater ? 47.9 : now.ret - 1.7)));
    PutI16(img, r + rec::Tn, static_cast<std::int16_t>(Hundredths(now.outdoor)));
    // The fifth input of the hot-water circuit is not connected: its code reads as no value.
    PutI16(img, r + rec::T21,
           static_cast<std::int16_t>(hotWater ? -32768 : Hundredths(supply - 2.4)));
    PutI16(img, r + rec::dTcrk, static_cast<std::int16_t>(Hundredths(hotWater ? 6.2 : 0.0)));
    PutI16(img, r + rec::G1, static_cast<std::int16_t>(rng.Int(800, 1300)));
    img[r + rec::Inputs] = hotWater ? 0x53 : 0x17;  // pressure switches and pump relays
    PutU16(img, r + rec::CalcTo,
           static_cast<std::uint16_t>(Hundredths(20.0 + (setpoint - 20.0) * 0.62)));
    PutU16(img, r + rec::CalcTp, static_cast<std::uint16_t>(Hundredths(setpoint)));
    PutU16(img, r + rec::Errors, static_cast<std::uint16_t>(hotWater ? 0x0010 : 0x0000));
    PutI16(img, r + rec::Real, static_cast<std::int16_t>(Hundredths(supply)));
    PutI16(img, r + rec::Base, static_cast<std::int16_t>(Hundredths(setpoint)));
    const std::int16_t regBase = static_cast<std::int16_t>(rng.Int(-200, 200));
    PutI16(img, r + rec::RegBase, regBase);
    PutI16(img, r + rec::TnHour, static_cast<std::int16_t>(Hundredths(now.outdoor + 0.4)));
    PutI16(img, r + rec::TnDay, static_cast<std::int16_t>(Hundredths(now.outdoor - 1.1)));
    PutI16(img, r + rec::Real2, static_cast<std::int16_t>(Hundredths(now.ret)));
    PutI16(img, r + rec::Base2, static_cast<std::int16_t>(Hundredths(now.ret + 0.5)));
    const int regTime = rng.Int(-1500, 1500);  // regulation time in 0.01 s
    PutI32(img, r + rec::RegAccum,
           static_cast<std::int32_t>(
               (static_cast<std::uint32_t>(static_cast<std::uint16_t>(regBase + regTime)) << 16) |
               static_cast<std::uint32_t>(rng.Int(0, 0xFFFF))));
    PutI8(img, r + rec::RegStep, static_cast<std::int8_t>(rng.Int(-30, 30)));
    PutI16(img, r + rec::KlapManual, 0);
    img[r + rec::PompErr] = 0;
    img[r + rec::LenMudCnt] = 0;
    PutU16(img, r + rec::AntiMudCnt, static_cast<std::uint16_t>(rng.Int(1000, 60000)));
    PutU16(img, r + rec::WorkCnt1, static_cast<std::uint16_t>(rng.Int(600, 60000)));
    PutU16(img, r + rec::ErrCnt1, 0);
    PutU16(img, r + rec::ErrOffCnt1, 0);
    img[r + rec::AntiMudPomps] = 1;
    PutI16(img, r + rec::KlT, static_cast<std::int16_t>(rng.Int(0, 1200)));
    PutI16(img, r + rec::BaseValueAutoKp, 150);
    PutI16(img, r + rec::MaxErrAutoKp, 300);
    PutI16(img, r + rec::TimeMinAngle, 40);
    PutF32(img, r + rec::MaxAngle, 0.785f);
    PutI16(img, r + rec::DeltaMaxAngle, 12);
    PutI16(img, r + rec::TimeMaxAngle, 600);

    img[r + rec::Scheme] = hotWater ? 4 : 1;
    img[r + rec::AutoCtrlOff] = 0;
    img[r + rec::Tv] = hotWater ? 55 : 20;
    img[r + rec::T3r] = 95;
    img[r + rec::T2r] = 70;
    img[r + rec::T1r] = 150;
    PutI8(img, r + rec::Tnr, -26);
    PutF32(img, r + rec::K1_P, hotWater ? 2.25f : 1.5f);
    PutF32(img, r + rec::K1_I, 120.0f);
    PutF32(img, r + rec::K1_D, 0.0f);
    PutF32(img, r + rec::K2_P, 0.8f);
    PutF32(img, r + rec::K2_I, 240.0f);
    PutF32(img, r + rec::K2_D, 0.0f);
    PutU16(img, r + rec::ThresholdT, 50);
    PutI16(img, r + rec::T_Klap, 120);
    img[r + rec::Klap_lim] = 1;
    PutI16(img, r + rec::MinKlapCtrl, 20);
    img[r + rec::LuftKlap] = 10;
    PutI8(img, r + rec::ParamReg, 0);
    img[r + rec::ParamBase] = hotWater ? 4 : 0;
    img[r + rec::GraphTypeK1] = hotWater ? 0 : 1;
    PutI16(img, r + rec::TConst, static_cast<std::int16_t>(hotWater ? 5500 : 0));
    PutI8(img, r + rec::ParamReg2, static_cast<std::int8_t>(hotWater ? -1 : 1));
    PutI16(img, r + rec::TConst2, 0);
    for (int p = 0; p < 4; ++p)
        PutI8(img, r + rec::Pomp1Manual + p, 0);
    img[r + rec::LimitTOCfg] = hotWater ? 0 : 1;
    PutI16(img, r + rec::LimitTOConst, 500);
    PutI8(img, r + rec::Param1AvarCfg, static_cast<std::int8_t>(hotWater ? -1 : 1));
    PutI16(img, r + rec::Param1AvarValue, 9500);
    PutI8(img, r + rec::Param2AvarCfg, -1);
    PutI16(img, r + rec::Param2AvarValue, 0);
    img[r + rec::AntiMud] = 1;
    img[r + rec::AutoResrv] = 1;
    img[r + rec::RCmode] = 1;
    img[r + rec::ParmPomp1] = 13;
    img[r + rec::ParmPomp3] = 9;
    PutU32(img, r + rec::TimeAntiMud, 7 * 86400);
    img[r + rec::LenAntiMud] = 30;
    PutU32(img, r + rec::TimeRC, 24 * 3600);
    PutU16(img, r + rec::TimeErr, 60);
    PutU16(img, r + rec::TimeErrOff1, 600);
    PutI16(img, r + rec::ParamPomp1ValueOn, 150);
    PutI16(img, r + rec::ParamPomp1ValueOff, 250);
    PutI16(img, r + rec::ParamPomp3ValueOn, 120);
    PutI16(img, r + rec::ParamPomp3ValueOff, 180);
    PutI8(img, r + rec::UsedPomps, 2);
    PutI8(img, r + rec::Tfrost, 5);
    img[r + rec::PeriodStat] = static_cast<std::uint8_t>(period);
    PutI8(img, r + rec::KlapPercent, static_cast<std::int8_t>(std::lround(now.valve)));
}

void PutSchedule(std::uint8_t* img, int c, int k, int slot, int hour, int minute, int days,
                 int value) {
    const int a = ScheduleAddr(c, k) + 4 * slot;
    img[a] = ToBcd(minute);
    img[a + 1] = ToBcd(hour);
    img[a + 2] = static_cast<std::uint8_t>(days & 0x7F);
    PutI8(img, a + 3, static_cast<std::int8_t>(value));
}

void FillSchedules(std::uint8_t* img) {
    constexpr int kWorkDays = 0x1F, kWeekend = 0x60, kAll = 0x7F;
    for (int c = 0; c < kCircuitCount; ++c) {
        PutSchedule(img, c, 0, 0, 6, 30, kWorkDays, 0);
        PutSchedule(img, c, 0, 1, 22, 0, kWorkDays, -5);
        PutSchedule(img, c, 0, 2, 8, 0, kWeekend, 2);
        PutSchedule(img, c, 0, 3, 23, 30, kWeekend, -3);
        PutSchedule(img, c, 1, 0, 0, 0, kAll, 1);
        PutSchedule(img, c, 2, 0, 5, 0, kAll, 1);
        PutSchedule(img, c, 2, 1, 23, 0, kAll, 0);
    }
}

void FillGlobal(std::uint8_t* img, const GeneratorOptions& o, const Civil& now, Rng& rng) {
    FillClock(img, now);
    PutI32(img, addr::OperatingTime, rng.Int(20'000'000, 90'000'000));
    PutU32(img, addr::SecondPos, static_cast<std::uint32_t>(rng.Int(0, 0x3FF0)));
    PutU16(img, addr::SoftVer, o.softVer);
    PutI32(img, addr::DevNumber, o.serial);
    PutU16(img, addr::PinCodeBcd, 0x4629);
    img[addr::NetAddress] = 1;
    img[addr::BaudIndex] = 2;
    PutU16(img, addr::TimeOnMinPomp, 30);
    PutU16(img, addr::TimeOffMinPomp, 30);
    img[addr::NumSystems] = static_cast<std::uint8_t>(o.circuits);
    PutU16(img, addr::TimeOut_SECUR, 120);
    img[addr::ServiceCommand] = 0;
    PutI8(img, addr::RST_Tdls, 3);
    PutI8(img, addr::Out_Tdls, -2);

    img[addr::GsmMode] = 3;
    static constexpr char kPhone[] = "+79161234567";
    std::memcpy(img + addr::GsmPhone, kPhone, sizeof kPhone - 1);
    static constexpr char kMessage[] = "TP-12: avariya kontura otopleniya";
    std::memcpy(img + addr::GsmMessage, kMessage, sizeof kMessage - 1);
    img[addr::GsmMessage + sizeof kMessage - 1] = 0x00;
    img[addr::GsmMessage + sizeof kMessage] = 0x1A;

    for (int ch = 0; ch < addr::ChannelCount; ++ch) {
        PutI32(img, addr::addR0 + 4 * ch, rng.Int(-40, 40));
        PutF32(img, addr::Ktsp + 4 * ch, 0.00391f + static_cast<float>(rng.Int(-20, 20)) * 1e-7f);
        img[addr::SensorType + ch] = 0;
        PutU32(img, addr::Adc + 4 * ch, static_cast<std::uint32_t>(rng.Int(400000, 900000)));
        img[addr::t_cnt + ch] = static_cast<std::uint8_t>(rng.Int(0, 255));
        const double temp = 20.0 + rng.Int(0, 600) / 10.0;
        PutF32(img, addr::Rtsp + 4 * ch, static_cast<float>(500.0 * (1.0 + 0.00391 * temp)));
        PutF32(img, addr::Ttsp + 4 * ch, static_cast<float>(temp));
        PutU32(img, addr::Ad_diviation + 4 * ch, static_cast<std::uint32_t>(rng.Int(0, 60)));
    }
    img[addr::P1P2Norm] = 0;
    img[addr::SkipFirstAD] = 3;
    img[addr::AccTime] = 5;
    PutI16(img, addr::t_err, 0);
    PutI8(img, addr::t_cfg, 1);
    for (int c = 0; c < kCircuitCount; ++c) {
        PutI16(img, addr::CntOffKp + 2 * c, static_cast<std::int16_t>(rng.Int(0, 50)));
        img[addr::DivideKp + c] = static_cast<std::uint8_t>(rng.Int(1, 8));
        PutI16(img, addr::CntOffTi + 2 * c, static_cast<std::int16_t>(rng.Int(0, 50)));
        img[addr::DivideTi + c] = static_cast<std::uint8_t>(rng.Int(1, 8));
        PutI8(img, addr::cnt_bigKp + c, static_cast<std::int8_t>(rng.Int(0, 5)));
        PutI8(img, addr::cnt_bigTi + c, static_cast<std::int8_t>(rng.Int(0, 5)));
    }
    // Bytes the tool carries without interpreting them still hold something.
    for (int a = 1952; a < static_cast<int>(kImageSize); ++a)
        img[a] = static_cast<std::uint8_t>(rng.Int(0, 255));
    img[1806] = 0xA5;
}

// Event codes a working substation logs, with a typical new value for each.
struct EventKind {
    std::uint8_t code;
    int lo, hi;
};
constexpr EventKind kEventKinds[] = {
    {0, 0, 1},         {4, 0, 1},     {5, 0, 1},     {0x85, 0, 1}, {27, 1, 10},  {30, 0, 9999},
    {47, -500, 500},   {42, 15, 25},  {58, -50, 50}, {69, 0, 10},  {98, 1, 8},   {0x84, 0, 14},
    {0xAF, -500, 500}, {50, 30, 240}, {54, 50, 400}, {93, 0, 1},   {97, 0, 100}, {26, 0, 4},
};

void FillEvents(std::uint8_t* archive, const GeneratorOptions& o, Seconds now, Rng& rng) {
    std::memset(archive + arch::EventLog, 0xFF, arch::EventSlots * arch::EventSlotSize);
    const int count = std::clamp(o.events, 0, arch::EventSlots);
    const int first = count < arch::EventSlots ? rng.Int(0, arch::EventSlots - 1) : 0;
    Seconds t = now - std::chrono::hours(24 * 40);
    for (int i = 0; i < count; ++i) {
        t += std::chrono::seconds(rng.Int(60, 9000));
        if (t > now) t = now;
        const Civil c = ToCivil(t);
        std::uint8_t* s =
            archive + arch::EventLog + ((first + i) % arch::EventSlots) * arch::EventSlotSize;
        PutEventStamp(s, c);
        const bool switchOff = i % 97 == 50;
        const EventKind& k = kEventKinds[rng.Int(0, static_cast<int>(std::size(kEventKinds)) - 1)];
        s[6] = switchOff ? 255 : k.code;
        s[7] = 0;
        const int oldValue = rng.Int(k.lo, k.hi);
        const int newValue = rng.Int(k.lo, k.hi);
        PutI16(s, 8, static_cast<std::int16_t>(newValue));
        PutI16(s, 10, static_cast<std::int16_t>(oldValue));
        std::memset(s + 12, 0, 4);
    }
}

// Writes the periodic archive in ring order so that the newest record lies just before the
// write position; returns that position.
std::uint32_t FillPeriodic(std::uint8_t* archive, const GeneratorOptions& o, Seconds now,
                           Rng& rng) {
    std::memset(archive + arch::Periodic, 0xFF, arch::PeriodicSize);
    const int stride = ArchiveStride(o.circuits);
    const int slots = ArchiveSlotCount(o.circuits);
    const int period = PeriodSeconds(o.periodIndex);
    const int next = rng.Int(0, slots - 1);  // slot the next record goes to
    if (period == 0) return static_cast<std::uint32_t>(arch::Periodic + next * stride);
    const int count = o.archiveRecords < 0 ? slots : std::min(o.archiveRecords, slots);

    const auto nowCount = now.time_since_epoch().count();
    const Seconds newest{std::chrono::seconds(nowCount - nowCount % period)};
    for (int i = 0; i < count; ++i) {
        const int slot = ((next - count + i) % slots + slots) % slots;
        std::uint8_t* r = archive + arch::Periodic + slot * stride;
        const Seconds t =
            newest - std::chrono::seconds(static_cast<long long>(count - 1 - i) * period);
        // A slot now and then was left half-written by a power cut: it fails the validity rule.
        if (i > 0 && rng.Chance(0.002)) {
            std::memset(r, 0xFF, static_cast<std::size_t>(stride));
            continue;
        }
        const Civil c = ToCivil(t);
        PutU16(r, 0, ArchTime(c));
        PutU16(r, 2, ArchDate(c));
        const PlantState p = PlantAt(t, rng);
        const bool sensorLost = rng.Chance(0.004);
        const int errors = sensorLost ? 0x0002 : 0;
        WriteSample(r + 4, Tenths(p.supply), sensorLost ? kNoValue12 : Tenths(p.ret),
                    Tenths(p.ret - 1.7), Tenths(p.outdoor), Tenths(p.supply), Tenths(p.setpoint),
                    static_cast<int>(std::lround(p.valve)), errors);
        if (stride == 32) {
            WriteSample(r + 16, Tenths(p.hotWater), Tenths(41.3 + rng.Unit()), Tenths(47.9),
                        Tenths(p.outdoor), Tenths(p.hotWater), 550, rng.Int(10, 60),
                        rng.Chance(0.01) ? 0x0010 : 0);
            std::memset(r + 28, 0, 4);
        }
    }
    return static_cast<std::uint32_t>(arch::Periodic + next * stride);
}

}  // namespace

void GenerateContents(const GeneratorOptions& options, std::uint8_t* image, std::uint8_t* archive) {
    GeneratorOptions o = options;
    o.circuits = o.circuits == 1 ? 1 : 2;
    Rng rng(o.seed);
    const Seconds now = FromOptions(o);
    const Civil civil = ToCivil(now);
    std::memset(image, 0, kImageSize);
    std::memset(archive, 0, kArchiveSize);

    FillGlobal(image, o, civil, rng);
    const PlantState plant = PlantAt(now, rng);
    FillCircuit(image, 0, false, plant, rng, o.periodIndex);
    // A one-circuit controller still carries a second record; it is switched off.
    FillCircuit(image, 1, true, plant, rng, o.periodIndex);
    if (o.circuits == 1) image[CircuitField(1, rec::Scheme)] = 0;
    FillSchedules(image);
    FillEvents(archive, o, now, rng);
    PutU32(image, addr::ArchPos, FillPeriodic(archive, o, now, rng));
}

}  // namespace vir05::sim
