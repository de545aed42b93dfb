// The presentation pass: the device image as the state of the window's controls.
#include "core/present/present.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/format.h"
#include "core/present/cp1251.h"
#include "core/present/fields.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/vocab.h"

namespace vir05 {

using namespace present_detail;

namespace {

// Rounds to the nearest whole number, halves to the even neighbour, whatever the floating-point
// environment says.
double RoundHalfEven(double v) {
    const double down = std::floor(v);
    const double frac = v - down;
    if (frac > 0.5) return down + 1;
    if (frac < 0.5) return down;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

// Rounds to `decimals` digits after the point by way of the decimal text, so that a value such
// as 0.53 that binary floating point holds as 0.52999... still shows as 0.53.
double RoundDecimals(double v, int decimals) {
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return v;
    double back = v;
    std::from_chars(buf, res.ptr, back);
    return back;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) s += '\n';
        s += lines[i];
    }
    return s;
}

ControlValue& At(ControlState& out, std::string_view name) {
    auto it = out.find(name);
    if (it == out.end()) it = out.emplace(std::string(name), ControlValue{}).first;
    return it->second;
}

void SetText(ControlState& out, std::string_view name, std::string text) {
    At(out, name).text = std::move(text);
}

void SetChecked(ControlState& out, std::string_view name, bool on) {
    At(out, name).checked = on;
}

std::string WeekdayName(std::uint8_t d) {
    static constexpr std::string_view kNames[] = {"Пн", "Вт", "Ср", "Чт", "Пт", "Сб", "Вс"};
    return d >= 1 && d <= 7 ? std::string(kNames[d - 1]) : std::string();
}

int Sign(long long v) {
    return (v > 0) - (v < 0);
}

// Shows one bound field. `base` is the image for global fields and the copy of the shown
// circuit's record for the others; `snapshot` is where the GSM texts are read from.
void PresentField(const FieldBinding& b, const std::uint8_t* base, const std::uint8_t* snapshot,
                  ControlState& out) {
    switch (b.conversion) {
        case Conversion::Spin:
        case Conversion::Float: {
            const SpinSpec* def = FindSpinSpec(b.control);
            if (!def) return;
            At(out, b.control).number =
                SpinShow(*def, ReadNumber(base, b.offset, b.type) / b.scale);
            return;
        }
        case Conversion::List:
        case Conversion::SourceList: {
            const ListSpec* def = FindListSpec(b.control);
            if (!def) return;
            const long long value = ReadInt(base, b.offset, b.type);
            const long long index = b.conversion == Conversion::SourceList ? value + 1 : value;
            ControlValue& v = At(out, b.control);
            v.index = index >= 0 && index < ListCount(*def) ? static_cast<int>(index) : -1;
            if (def->kind == ListKind::Fixed)
                v.text = v.index >= 0 ? std::string(def->items[v.index]) : std::string();
            return;
        }
        case Conversion::Check:
            SetChecked(out, b.control, base[b.offset] != 0);
            return;
        case Conversion::IntText:
            SetText(out, b.control, FormatInt(ReadInt(base, b.offset, b.type)));
            return;
        case Conversion::PinBcd:
            SetText(out, b.control, HexUpper(U16(base, b.offset), 4));
            return;
        case Conversion::GsmPhone:
            SetText(out, b.control, Cp1251ToUtf8(GsmPhoneText(snapshot)));
            return;
        case Conversion::GsmMessage:
            SetText(out, b.control, Cp1251ToUtf8(GsmMessageText(snapshot)));
            return;
        case Conversion::SensorType: {
            const ListSpec* def = FindListSpec(b.control);
            ControlValue& v = At(out, b.control);
            v.index = base[b.offset] & 3;
            if (def) v.text = std::string(def->items[v.index]);
            return;
        }
        case Conversion::Radio: {
            const int sign = Sign(ReadInt(base, b.offset, b.type));
            for (const RadioCode& r : b.radios)
                SetChecked(out, r.button, Sign(r.code) == sign);
            return;
        }
    }
}

}  // namespace

namespace present_detail {

std::string GsmPhoneText(const std::uint8_t* image) {
    std::string s;
    for (int j = 0; j < addr::GsmPhoneSize; ++j)
        if (image[addr::GsmPhone + j] != 0) s += static_cast<char>(image[addr::GsmPhone + j]);
    return s;
}

std::string GsmMessageText(const std::uint8_t* image) {
    std::string s;
    for (int a = addr::GsmMessage; a <= addr::GsmMessageEnd && image[a] != 0x1A; ++a)
        if (image[a] != 0) s += static_cast<char>(image[a]);
    return s;
}

}  // namespace present_detail

double SpinShow(const SpinSpec& def, double value) {
    if (std::isnan(value)) return def.minimum;
    double v = std::clamp(value, def.minimum, def.maximum);
    v = def.kind == SpinKind::Whole ? RoundHalfEven(v) : RoundDecimals(v, def.decimals);
    v = std::clamp(v, def.minimum, def.maximum);
    return v == 0 ? 0.0 : v;  // no "-0"
}

double SpinRead(const SpinSpec& def, std::string_view text) {
    const auto v = ParseReal(TrimBlanks(text));
    return SpinShow(def, v ? *v : def.minimum);
}

std::string SpinText(const SpinSpec& def, double shown) {
    if (shown == 0) shown = 0.0;
    const int decimals = def.kind == SpinKind::Whole ? 0 : def.decimals;
    char buf[400];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, shown, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return FormatReal(shown);
    std::string s(buf, res.ptr);
    if (s.starts_with('-') && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

void PresentImage(const MemoryAreas& areas, PresentationState& state, ControlState& out) {
    const std::uint8_t* img = areas.DeviceImage();
    // Only circuits 0 and 1 exist; any other value shows circuit 0 rather than reading past the
    // records.
    const int sel = areas.Shown();

    // 1. Snapshot, the two records, the circuit shown.
    state.snapshot = TakeSnapshot(img);
    state.selectedCircuit = sel;
    std::memcpy(state.selectedRecord.data(), img + CircuitRecordAddr(sel), kCircuitRecordSize);
    std::memcpy(state.otherRecord.data(), img + CircuitRecordAddr(1 - sel), kCircuitRecordSize);
    const std::uint8_t* snap = state.snapshot.data();
    const std::uint8_t* r = state.selectedRecord.data();
    const std::uint8_t* other = state.otherRecord.data();

    // 2. Valve position.
    {
        ControlValue& v = At(out, "PercentKlap");
        v.number = I8(r, rec::KlapPercent);
        v.text = FormatInt(I8(r, rec::KlapPercent));
    }

    // 3. Source lists, named after the scheme stored for the shown circuit.
    {
        const auto list = SourceList(img[CircuitField(sel, rec::Scheme)]);
        const std::vector<std::string> all(list.begin(), list.end());
        const std::vector<std::string> noneless(list.begin() + 1, list.end());
        for (std::string_view name : {"ParamReg", "ParamReg2", "Param1AvarCfg", "Param2AvarCfg"})
            At(out, name).items = all;
        for (std::string_view name : {"ParmPomp1", "ParmPomp3"})
            At(out, name).items = noneless;
    }

    // 4. Hidden analogue-input exchange values.
    {
        static constexpr std::string_view kAdIn[] = {"AD_in0", "AD_in1", "AD_in2", "AD_in3"};
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = img[addr::AD_in + i];
            SetText(out, kAdIn[i], FormatUnsigned(b) + " 0x" + Hex2(b));
        }
        const std::uint32_t now = static_cast<std::uint32_t>(img[addr::AD_in]) << 16 |
                                  static_cast<std::uint32_t>(img[addr::AD_in + 1]) << 8 |
                                  img[addr::AD_in + 2];
        SetText(out, "ADelta",
                FormatInt(static_cast<long long>(now) - static_cast<long long>(state.lastAdIn)));
        state.lastAdIn = now;
        SetChecked(out, "AD_line", img[addr::AD_line] != 0);
        SetChecked(out, "AD_line2", img[addr::AD_line2] != 0);
    }

    // 5, 14, 15, 18. Every bound field, from the image or the shown circuit's record.
    for (const FieldBinding& b : kFieldBindings)
        if (b.presented) PresentField(b, b.inRecord ? r : img, snap, out);
    SetText(out, "ArchPos", HexUpper(U32(snap, addr::ArchPos), 4));

    // 6. Service memos.
    {
        std::vector<std::string> lines;
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("Kтсп" + std::to_string(n) + "=" +
                            FormatInt(TruncToInt(F32(img, addr::Ktsp + 4 * (n - 1)) * 1e8)));
        lines.emplace_back();
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("addR0тсп" + std::to_string(n) + "=" +
                            FormatInt(I32(img, addr::addR0 + 4 * (n - 1))));
        lines.emplace_back();
        lines.push_back("BaseValueAutoKp=" + FormatInt(I16(r, rec::BaseValueAutoKp)));
        lines.push_back("MaxErrAutoKp=" + FormatInt(I16(r, rec::MaxErrAutoKp)));
        lines.push_back("TimeMinAngle=" + FormatInt(I16(r, rec::TimeMinAngle)));
        lines.push_back("TimeMaxAngle=" + FormatInt(I16(r, rec::TimeMaxAngle)));
        lines.push_back("DeltaMaxAngle=" + FormatInt(I16(r, rec::DeltaMaxAngle)));
        lines.push_back(
            "MaxAngle=" +
            FormatReal(static_cast<double>(TruncToInt(F32(r, rec::MaxAngle) * 1000.0)) * 0.001));
        lines.push_back("RST_Tdls=" + FormatInt(I8(img, addr::RST_Tdls)));
        lines.push_back("Out_Tdls=" + FormatInt(I8(img, addr::Out_Tdls)));
        SetText(out, "Clbr_rt2", Join(lines));

        auto milli = [](float f) {
            return FormatReal(static_cast<double>(TruncToInt(f * 1000.0)) * 0.001);
        };
        lines.clear();
        lines.emplace_back();
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("Rтсп" + std::to_string(n) + "=" +
                            milli(F32(img, addr::Rtsp + 4 * (n - 1))));
        lines.emplace_back();
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("Tтсп" + std::to_string(n) + "=" +
                            milli(F32(img, addr::Ttsp + 4 * (n - 1))));
        lines.emplace_back();
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("t_cnt" + std::to_string(n) + "=" +
                            FormatUnsigned(img[addr::t_cnt + n - 1]));
        lines.emplace_back();
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("Adc" + std::to_string(n) + "=" +
                            FormatInt(I32(img, addr::Adc + 4 * (n - 1))));
        lines.emplace_back();
        for (int n = 1; n <= addr::ChannelCount; ++n)
            lines.push_back("Ad_diviation" + std::to_string(n) + "=" +
                            FormatUnsigned(U32(img, addr::Ad_diviation + 4 * (n - 1))));
        lines.emplace_back();
        lines.push_back("t_err=" + FormatInt(I16(img, addr::t_err)));
        lines.push_back("t_cfg=" + FormatInt(I8(img, addr::t_cfg)));
        SetText(out, "Clbr_rt", Join(lines));
    }

    // 7. Clock and identity.
    SetText(out, "PanelTime", PanelTimeText(img));
    SetText(out, "PanelDate",
            Hex2(img[addr::ClockDay]) + "/" + Hex2(img[addr::ClockMonth]) + "/20" +
                Hex2(img[addr::ClockYear]) + " " + WeekdayName(img[addr::ClockWeekday]));
    SetText(out, "PanelVersion", "Версия ПО " + FormatReal(U16(img, addr::SoftVer) * 0.01));
    SetText(out, "PanelSerial", "S/N " + FormatInt(I32(img, addr::DevNumber)));
    SetText(out, "PanelTall",
            "В.р  " + FormatReal((I32(img, addr::OperatingTime) / 360) * 0.1) + " ч");

    // 8. Pumps and pressure switches.
    {
        const std::uint8_t in = r[rec::Inputs];
        static constexpr std::string_view kPomp[] = {"Pomp1", "Pomp2", "Pomp3", "Pomp4"};
        for (int i = 0; i < 4; ++i) {
            const bool on = (in >> (4 + i)) & 1;
            SetText(out, kPomp[i], on ? "1" : "0");
            SetChecked(out, kPomp[i], on);
        }
        SetChecked(out, "DP1", in & 1);
        SetChecked(out, "DP2", in & 2);
        SetChecked(out, "DP3", in & 4);
        SetChecked(out, "DP12", other[rec::Inputs] & 1);
        SetChecked(out, "DP22", other[rec::Inputs] & 2);
    }

    // 9. Regulator tuning counters of the shown circuit.
    SetText(out, "CntOffKp", FormatInt(I16(snap, addr::CntOffKp + 2 * sel)));
    SetText(out, "DivideKp", FormatInt(U8(snap, addr::DivideKp + sel)));
    SetText(out, "CntOffTi", FormatInt(I16(snap, addr::CntOffTi + 2 * sel)));
    SetText(out, "DivideTi", FormatInt(U8(snap, addr::DivideTi + sel)));
    SetText(out, "cnt_bigKp", FormatInt(I8(snap, addr::cnt_bigKp + sel)));
    SetText(out, "cnt_bigTi", FormatInt(I8(snap, addr::cnt_bigTi + sel)));

    // 10. Pump errors.
    SetText(out, "ErrCnt1", FormatUnsigned(U16(r, rec::ErrCnt1)));
    SetText(out, "ErrOffCnt1", FormatUnsigned(U16(r, rec::ErrOffCnt1)));
    SetChecked(out, "ErrPomp1", r[rec::PompErr] & 1);
    SetChecked(out, "ErrPomp2", r[rec::PompErr] & 2);
    SetText(out, "RelePomps", FormatUnsigned(r[rec::Inputs] >> 4));

    // 11. Temperatures.
    SetText(out, "ValT0", FormatTemp(I16(r, rec::T11)));
    SetText(out, "ValT1", FormatTemp(I16(r, rec::T2)));
    SetText(out, "ValT2", FormatTemp(I16(r, rec::Tk)));
    SetText(out, "ValT3", FormatTemp(I16(r, rec::Tn)));
    SetText(out, "ValT4", FormatTemp(I16(r, rec::T21)));
    SetText(out, "Tn_h", FormatTemp(I16(r, rec::TnHour)));
    SetText(out, "Tn_d", FormatTemp(I16(r, rec::TnDay)));
    {
        const auto high = static_cast<std::uint16_t>(U32(r, rec::RegAccum) >> 16);
        const auto treg = static_cast<std::int16_t>(high - U16(r, rec::RegBase));
        SetText(out, "treg", FormatReal(treg * 0.01));
    }
    SetText(out, "KlT", FormatReal(I16(r, rec::KlT) * 0.1));
    SetText(out, "dTcrk", FormatTemp(I16(r, rec::dTcrk)));
    SetText(out, "CalcTp", FormatTemp(U16(r, rec::CalcTp)));
    SetText(out, "CalcTo", FormatTemp(U16(r, rec::CalcTo)));

    // 12. Setpoint and actual value; the second pair only where a second parameter is set.
    {
        const bool regulating =
            r[rec::Scheme] != 0 && I16(r, rec::KlapManual) == 0 && r[rec::AutoCtrlOff] == 0;
        const bool second = regulating && I8(r, rec::ParamReg2) != -1;
        SetText(out, "PanelBase", regulating ? FormatTemp(I16(r, rec::Base)) : "---");
        SetText(out, "PanelReal", regulating ? FormatTemp(I16(r, rec::Real)) : "---");
        SetText(out, "PanelBase2", second ? FormatTemp(I16(r, rec::Base2)) : "---");
        SetText(out, "PanelReal2", second ? FormatTemp(I16(r, rec::Real2)) : "---");
        SetText(out, "PanelBase2L", "Задание2");
        SetText(out, "PanelReal2L", "Реальное2");
        for (std::string_view name : {"PanelBase2", "PanelReal2", "PanelBase2L", "PanelReal2L"})
            At(out, name).visible = second;
    }

    // 13. Errors of the shown circuit.
    {
        std::vector<std::string> lines;
        for (std::string_view t : ErrorTexts(U16(r, rec::Errors)))
            lines.emplace_back(t);
        SetText(out, "TextError", Join(lines));
    }

    // 15. Read-only pump counters.
    SetText(out, "TimeAntiMudSec", FormatUnsigned(U32(r, rec::TimeAntiMud)));
    SetText(out, "AntiMudCnt", FormatUnsigned(U16(r, rec::AntiMudCnt)));
    SetText(out, "UsedPomps", FormatInt(I8(r, rec::UsedPomps)));
    SetText(out, "AntiMudPomps", FormatUnsigned(r[rec::AntiMudPomps]));
    SetText(out, "LenMudCnt", FormatUnsigned(r[rec::LenMudCnt]));
    // Minutes to the next switch, to a tenth: a counter of seconds shown in minutes would
    // otherwise run to fifteen digits.
    SetText(out, "WorkCnt1", FormatReal(std::round(U16(r, rec::WorkCnt1) / 6.0) / 10.0));

    // The TConst mirror on the current-values page. A pass sets TConst from the image, so Korr
    // follows it even when Korr itself still shows -99 from an earlier pass; only a TConst of -99
    // (the value of an unreadable text) is not copied.
    if (const SpinSpec* korr = FindSpinSpec("Korr")) {
        const double tconst = At(out, "TConst").number;
        ControlValue& k = At(out, "Korr");
        if (tconst != -99) k.number = SpinShow(*korr, tconst);
    }
}

}  // namespace vir05
