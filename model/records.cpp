#include "model/records.h"

#include <algorithm>

#include "model/bytes.h"

namespace vir05 {

bool EventSlotHoldsEvent(const std::uint8_t* s) {
    return s[0] <= 0x59 && s[3] != 0 && s[4] != 0 && IsBcd(s[4]) && IsBcd(s[2]);
}

bool EventTimeIsPlausible(const EventRecord& e) {
    if (!IsBcd(e.sec) || !IsBcd(e.min) || !IsBcd(e.hour) || !IsBcd(e.day) || !IsBcd(e.month) ||
        !IsBcd(e.year))
        return false;
    const int month = FromBcd(e.month);
    const int day = FromBcd(e.day);
    const int year = 2000 + FromBcd(e.year);
    if (FromBcd(e.sec) > 59 || FromBcd(e.min) > 59 || FromBcd(e.hour) > 23) return false;
    if (month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0;  // 2000..2099: every fourth year, 2000 included
    const int limit = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= limit;
}

EventRecord DecodeEvent(const std::uint8_t* s) {
    return EventRecord{s[0], s[1], s[2], s[3], s[4], s[5], s[6], I16(s, 8), I16(s, 10)};
}

namespace {
int Low12(const std::uint8_t* p, int a) {
    const int v = U16(p, a) & 0x0FFF;
    return v >= 0x800 ? v - 0x1000 : v;
}
int High12(const std::uint8_t* p, int a) {
    return I16(p, a) >> 4;
}
}  // namespace

CircuitSample DecodeSample(const std::uint8_t* p) {
    CircuitSample s{};
    s.T11 = static_cast<std::int16_t>(Low12(p, 0));
    s.T2 = static_cast<std::int16_t>(High12(p, 1));
    s.Tk = static_cast<std::int16_t>(Low12(p, 3));
    s.Tn = static_cast<std::int16_t>(High12(p, 4));
    s.Real = static_cast<std::int16_t>(Low12(p, 6));
    s.Base = static_cast<std::int16_t>(High12(p, 7));
    s.Klap = p[9];
    s.Errors = I16(p, 10);
    return s;
}

ArchiveTime DecodeArchiveTime(const std::uint8_t* r) {
    return ArchiveTime{U16(r, 0), U16(r, 2)};
}

std::size_t SortArchive(const std::uint8_t* archive, int numSystems, ArchiveOrder& order) {
    const int stride = ArchiveStride(numSystems);
    const std::size_t n = static_cast<std::size_t>(ArchiveSlotCount(numSystems));
    for (std::size_t i = 0; i < n; ++i) {
        const auto off = static_cast<std::uint32_t>(arch::Periodic + i * stride);
        order[i] = ArchiveSlot{U32(archive, static_cast<int>(off)), off};
    }
    std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(n),
              [](const ArchiveSlot& a, const ArchiveSlot& b) {
                  return a.key != b.key ? a.key < b.key : a.offset < b.offset;
              });
    return n;
}

}  // namespace vir05
