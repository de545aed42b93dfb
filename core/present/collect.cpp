// The collect: the state of the window's controls written back into the device image.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "core/format.h"
#include "core/present/cp1251.h"
#include "core/present/fields.h"
#include "core/present/present.h"
#include "model/bytes.h"
#include "model/layout.h"

namespace vir05 {

using namespace present_detail;

namespace {

const ControlValue* Find(const ControlState& in, std::string_view name) {
    const auto it = in.find(name);
    return it == in.end() ? nullptr : &it->second;
}

// The stored integer of a shown value times its scale, truncated toward zero. Products such as
// 0.53 x 100, which binary floating point yields as 52.99999..., are taken as the whole number
// they stand for, so a value shown with two decimals is stored exactly as shown.
double ScaledWhole(double shown, double scale) {
    const double v = shown * scale;
    const double nearest = std::round(v);
    if (std::fabs(v - nearest) <= 1e-7 * std::max(1.0, std::fabs(nearest))) return nearest;
    return std::trunc(v);
}

// Collects one binding into `base` (the image, or the working record). False when a control the
// binding needs is missing.
bool CollectField(const FieldBinding& b, const ControlState& in, std::uint8_t* base,
                  std::string* failed) {
    if (b.conversion == Conversion::Radio) {
        long long code = 0;
        for (const RadioCode& r : b.radios) {
            if (r.code == 0) continue;  // the automatic button: chosen when the others are not
            const ControlValue* v = Find(in, r.button);
            if (!v) {
                if (failed) *failed = std::string(r.button);
                return false;
            }
            if (v->checked) code = r.code;
        }
        WriteLow(base, b.offset, b.type, code);
        return true;
    }

    const ControlValue* v = Find(in, b.control);
    const SpinSpec* spin = FindSpinSpec(b.control);
    if (!v || ((b.conversion == Conversion::Spin || b.conversion == Conversion::Float) && !spin)) {
        if (failed) *failed = std::string(b.control);
        return false;
    }
    switch (b.conversion) {
        case Conversion::Spin: {
            // The number is what the field shows; shown again in case it came from elsewhere.
            const double whole = ScaledWhole(SpinShow(*spin, v->number), b.scale);
            // Saturated to the field: a range wider than the field (LenAntiMud to 60000 in one
            // byte, TimeAntiMud to 60000 days in seconds) stores the nearest value it holds
            // instead of wrapping around to a small one.
            const double held = std::clamp(whole, TypeMin(b.type), TypeMax(b.type));
            WriteLow(base, b.offset, b.type, static_cast<long long>(held));
            return true;
        }
        case Conversion::Float:
            PutF32(base, b.offset, static_cast<float>(SpinShow(*spin, v->number)));
            return true;
        case Conversion::List:
            base[b.offset] = static_cast<std::uint8_t>(v->index);
            return true;
        case Conversion::SourceList:
            base[b.offset] = static_cast<std::uint8_t>(v->index - 1);
            return true;
        case Conversion::Check:
            base[b.offset] = v->checked ? 1 : 0;
            return true;
        case Conversion::IntText:
            WriteLow(base, b.offset, b.type, ParseIntOr(TrimBlanks(v->text), b.textDefault));
            return true;
        case Conversion::PinBcd:
            PutU16(base, b.offset, PinTextToBcd(v->text));
            return true;
        case Conversion::GsmPhone: {
            const std::string bytes = Utf8ToCp1251(v->text);
            for (int j = 0; j < addr::GsmPhoneSize; ++j)
                base[b.offset + j] =
                    j < static_cast<int>(bytes.size()) ? static_cast<std::uint8_t>(bytes[j]) : 0;
            return true;
        }
        case Conversion::GsmMessage: {
            // Text from 1324, then a zero byte, with 0x1A after it; a text of 106 characters or
            // more is cut to 106 and 0x1A stands at 1430.
            const std::string bytes = Utf8ToCp1251(v->text);
            const auto length = bytes.size();
            for (int k = 21; k <= 126; ++k) {
                base[addr::GsmMode + 1 + k] = 0x1A;
                const auto at = static_cast<std::size_t>(k - 21);
                if (at >= length) {
                    base[addr::GsmMode + k] = 0;
                    break;
                }
                base[addr::GsmMode + k] = static_cast<std::uint8_t>(bytes[at]);
            }
            return true;
        }
        case Conversion::SensorType:
            for (int i = 0; i < addr::ChannelCount; ++i)
                base[b.offset + i] = static_cast<std::uint8_t>(v->index);
            return true;
        case Conversion::Radio:
            break;
    }
    return true;
}

}  // namespace

std::uint16_t PinTextToBcd(std::string_view text) {
    // One entry per character; a character of more than one UTF-8 byte is one non-digit.
    std::string chars;
    for (const char c : TrimBlanks(text)) {
        const auto b = static_cast<std::uint8_t>(c);
        if ((b & 0xC0) == 0x80) continue;
        chars += b < 0x80 ? c : '?';
    }
    if (chars.size() < 4) chars.insert(0, 4 - chars.size(), '0');
    std::uint16_t bcd = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = chars[static_cast<std::size_t>(i)];
        const int digit = c >= '0' && c <= '9' ? c - '0' : 0;
        bcd = static_cast<std::uint16_t>(bcd | digit << (4 * (3 - i)));
    }
    return bcd;
}

std::optional<double> KorrMirror(double changed, double other, const SpinSpec& otherField) {
    if (changed == -99 || other == -99) return std::nullopt;
    const double v = SpinShow(otherField, changed);
    if (v == other) return std::nullopt;
    return v;
}

bool CollectControls(const ControlState& in, MemoryAreas& areas, std::string* failedControl) {
    std::uint8_t* img = areas.DeviceImage();
    const int sel = areas.Shown();
    std::array<std::uint8_t, kCircuitRecordSize> working;
    std::memcpy(working.data(), img + CircuitRecordAddr(sel), kCircuitRecordSize);
    for (const FieldBinding& b : kFieldBindings)
        if (!CollectField(b, in, b.inRecord ? working.data() : img, failedControl)) return false;
    std::memcpy(img + CircuitRecordAddr(sel), working.data(), kCircuitRecordSize);
    return true;
}

}  // namespace vir05
