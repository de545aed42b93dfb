// The change list: what a configuration write will send, field by field.
#include <array>
#include <charconv>
#include <cstring>

#include "core/format.h"
#include "core/present/cp1251.h"
#include "core/present/fields.h"
#include "core/present/present.h"
#include "core/schedule.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/vocab.h"

namespace vir05 {

using namespace present_detail;

namespace {

std::string HexBytes(const std::uint8_t* p, int from, int to) {
    std::string s;
    for (int a = from; a <= to; ++a) {
        if (a > from) s += ' ';
        s += Hex2(p[a]);
    }
    return s;
}

std::string FloatText(float f) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, res.ptr);
}

// The field at absolute address `a` of `image`, in the units the window shows it in.
// `scheme` names the sources of the circuit the field belongs to.
std::string FieldText(const FieldBinding& b, const std::uint8_t* image, int a, int scheme) {
    switch (b.conversion) {
        case Conversion::Spin:
            return FormatReal(ReadNumber(image, a, b.type) / b.scale);
        case Conversion::Float:
            return FloatText(F32(image, a));
        case Conversion::List: {
            const ListSpec* def = FindListSpec(b.control);
            const int v = image[a];
            if (def && def->kind == ListKind::SourcesNoneless && v <= kSourceMax)
                return SourceName(v, scheme);
            if (def && def->kind == ListKind::Fixed && v < static_cast<int>(def->items.size()))
                return std::string(def->items[v]);
            return "[" + FormatInt(v) + "]";
        }
        case Conversion::SourceList: {
            const int code = I8(image, a);
            if (code >= kSourceMin && code <= kSourceMax) return SourceName(code, scheme);
            return "[" + FormatInt(code) + "]";
        }
        case Conversion::Check:
            return image[a] != 0 ? "да" : "нет";
        case Conversion::IntText:
            return FormatInt(ReadInt(image, a, b.type));
        case Conversion::PinBcd:
            return HexUpper(U16(image, a), 4);
        case Conversion::GsmPhone:
            return Cp1251ToUtf8(GsmPhoneText(image));
        case Conversion::GsmMessage:
            return Cp1251ToUtf8(GsmMessageText(image));
        case Conversion::SensorType: {
            const ListSpec* def = FindListSpec(b.control);
            bool same = true;
            for (int i = 1; i < addr::ChannelCount; ++i)
                same = same && image[a + i] == image[a];
            if (same && def && image[a] < def->items.size())
                return std::string(def->items[image[a]]);
            return HexBytes(image, a, a + addr::ChannelCount - 1);
        }
        case Conversion::Radio: {
            const long long v = ReadInt(image, a, b.type);
            for (const RadioCode& r : b.radios)
                if (r.code == v) return std::string(r.caption);
            return FormatInt(v);
        }
    }
    return {};
}

// The circuit (1 or 2) whose record or schedules hold address a; 0 for the global bytes.
int CircuitOf(int a) {
    for (int c = 0; c < kCircuitCount; ++c) {
        if (a >= CircuitRecordAddr(c) &&
            a < CircuitRecordAddr(c) + static_cast<int>(kCircuitRecordSize))
            return c + 1;
        if (a >= ScheduleAddr(c, 0) && a < ScheduleAddr(c, 0) + 3 * kScheduleSize) return c + 1;
    }
    return 0;
}

// A value graph entry as the editor shows its row: time, the days named, the value; "—" for an
// unused entry.
std::string ScheduleEntryText(std::uint32_t word) {
    const ScheduleCells cells = EntryCells(word);
    if (cells.time.empty() && cells.days.empty()) return "—";
    std::string days;
    for (int i = 0; i < 7; ++i) {
        if (((EntryDays(word) >> i) & 1) == 0) continue;
        std::string field = DaysText(1 << i);  // the one day's field among blanks
        field.erase(0, field.find_first_not_of(' '));
        field.erase(field.find_last_not_of(' ') + 1);
        days += (days.empty() ? "" : " ") + field;
    }
    return cells.time + " " + days + " " + cells.value;
}

}  // namespace

std::vector<ConfigChange> DescribeConfigChanges(const std::uint8_t* image,
                                                const std::uint8_t* shadow) {
    std::vector<ConfigChange> changes;
    std::array<bool, kImageSize> covered{};
    const int first = addr::ConfigStart;
    const int end = addr::ConfigStart + addr::ConfigLength;

    auto visit = [&](const FieldBinding& b, int circuit) {
        const int a = b.inRecord ? CircuitField(circuit - 1, b.offset) : b.offset;
        const int size = BindingSize(b);
        if (a < first || a + size > end) return;
        // A field with two bindings (the archive period at 310 is also circuit 1's R+205) is
        // reported once, under the first.
        for (int i = 0; i < size; ++i)
            if (covered[a + i]) return;
        for (int i = 0; i < size; ++i)
            covered[a + i] = true;
        if (std::memcmp(image + a, shadow + a, static_cast<std::size_t>(size)) == 0) return;
        const int rc = circuit > 0 ? circuit - 1 : 0;
        const int schemeOld = shadow[CircuitField(rc, rec::Scheme)];
        const int schemeNew = image[CircuitField(rc, rec::Scheme)];
        changes.push_back({std::string(b.label), std::string(b.control), circuit,
                           FieldText(b, shadow, a, schemeOld), FieldText(b, image, a, schemeNew)});
    };
    for (const FieldBinding& b : kFieldBindings)
        if (!b.inRecord) visit(b, 0);
    for (int circuit = 1; circuit <= kCircuitCount; ++circuit)
        for (const FieldBinding& b : kFieldBindings)
            if (b.inRecord) visit(b, circuit);

    // The value graphs, entry by entry as the editor's rows show them.
    for (int c = 0; c < kCircuitCount; ++c)
        for (int k = 0; k < kScheduleGraphs; ++k)
            for (int s = 0; s < kScheduleEntries; ++s) {
                const int at = ScheduleSlotAddr(c, k, s);
                for (int i = 0; i < 4; ++i)
                    covered[static_cast<std::size_t>(at + i)] = true;
                if (std::memcmp(image + at, shadow + at, 4) == 0) continue;
                changes.push_back(
                    {"График " + std::to_string(k + 1) + ", строка " + std::to_string(s + 1),
                     std::string(), c + 1, ScheduleEntryText(ReadScheduleEntry(shadow, c, k, s)),
                     ScheduleEntryText(ReadScheduleEntry(image, c, k, s))});
            }

    // Changed bytes no field covers (bytes the tool does not interpret), one entry per run of
    // consecutive bytes within one circuit's area or the global bytes.
    int a = first;
    while (a < end) {
        if (covered[a] || image[a] == shadow[a]) {
            ++a;
            continue;
        }
        const int from = a;
        const int circuit = CircuitOf(from);
        while (a + 1 < end && !covered[a + 1] && image[a + 1] != shadow[a + 1] &&
               CircuitOf(a + 1) == circuit)
            ++a;
        const int to = a;
        std::string name = from == to ? "Байт " + std::to_string(from)
                                      : "Байты " + std::to_string(from) + ".." + std::to_string(to);
        changes.push_back({std::move(name), std::string(), circuit, HexBytes(shadow, from, to),
                           HexBytes(image, from, to)});
        ++a;
    }
    return changes;
}

}  // namespace vir05
