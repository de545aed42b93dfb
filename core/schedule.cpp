#include "core/schedule.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "model/bytes.h"

namespace vir05 {

namespace {

constexpr std::array<std::string_view, 7> kDayFields = {"Пн.", "Вт.", "Ср.", "Чт.",
                                                        "Пт.", "Сб.", "Вс."};
// The two-letter names the weekday text is searched for ("Пн" ... "Вс").
constexpr std::array<std::string_view, 7> kDayNames = {"Пн", "Вт", "Ср", "Чт", "Пт", "Сб", "Вс"};

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

}  // namespace

int ScheduleSlotAddr(int c, int k, int s) {
    c = std::clamp(c, 0, 1);
    k = std::clamp(k, 0, kScheduleGraphs - 1);
    s = std::clamp(s, 0, kScheduleEntries - 1);
    return ScheduleAddr(c, k) + 4 * s;
}

std::uint32_t ReadScheduleEntry(const std::uint8_t* image, int c, int k, int s) {
    return U32(image, ScheduleSlotAddr(c, k, s));
}

void WriteScheduleEntry(std::uint8_t* image, int c, int k, int s, std::uint32_t word) {
    PutU32(image, ScheduleSlotAddr(c, k, s), word);
}

int ScheduleValueMin(int k) {
    return k == 0 ? -99 : 0;
}
int ScheduleValueMax(int k) {
    return k == 0 ? 127 : 1;
}

std::string DaysText(int days) {
    std::string text;
    for (int i = 0; i < 7; ++i)
        text += (days >> i) & 1 ? kDayFields[i] : std::string_view("   ");
    return text;
}

int DaysFromText(std::string_view text) {
    int days = 0;
    for (int i = 0; i < 7; ++i)
        if (text.find(kDayNames[i]) != std::string_view::npos) days |= 1 << i;
    return days;
}

ScheduleCells EntryCells(std::uint32_t word) {
    if (EntryDays(word) == 0) return {};
    const int h = EntryHourBcd(word);
    const int m = EntryMinuteBcd(word);
    ScheduleCells cells;
    // Each nibble as its own decimal number: a nibble above 9 shows as two digits, so such a
    // time is longer than five characters.
    cells.time = std::to_string(h >> 4) + std::to_string(h & 0x0F) + ":" + std::to_string(m >> 4) +
                 std::to_string(m & 0x0F);
    cells.days = DaysText(EntryDays(word));
    cells.value = std::to_string(EntryValue(word));
    return cells;
}

std::string TimeText(int hour, int minute) {
    auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return two(hour) + ":" + two(minute);
}

std::optional<TimeOfDay> ParseTimeText(std::string_view t) {
    if (t.size() != 5 || !IsDigit(t[0]) || !IsDigit(t[1]) || t[2] != ':' || !IsDigit(t[3]) ||
        !IsDigit(t[4]))
        return std::nullopt;
    return TimeOfDay{(t[0] - '0') * 10 + (t[1] - '0'), (t[3] - '0') * 10 + (t[4] - '0')};
}

std::optional<int> ParseWholeNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

std::uint32_t MakeScheduleEntry(int hour, int minute, int days, int value) {
    const auto v =
        static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(value, -128, 127)));
    return static_cast<std::uint32_t>(ToBcd(minute)) |
           (static_cast<std::uint32_t>(ToBcd(hour)) << 8) |
           (static_cast<std::uint32_t>(days & 0x7F) << 16) | (static_cast<std::uint32_t>(v) << 24);
}

std::uint32_t EntryFromCells(std::string_view time, std::string_view days, std::string_view value) {
    const TimeOfDay t = ParseTimeText(time).value_or(TimeOfDay{});
    return MakeScheduleEntry(t.hour, t.minute, DaysFromText(days),
                             ParseWholeNumber(value).value_or(0));
}

std::optional<int> ScheduleValueInForce(const std::uint8_t* graph, int day, int hour, int minute) {
    constexpr int kWeek = 7 * 24 * 60;
    const int now = ((day % 7 + 7) % 7) * 24 * 60 + hour * 60 + minute;
    std::optional<int> value;
    int best = kWeek;  // minutes since the best entry took effect
    for (int s = 0; s < kScheduleEntries; ++s) {
        const std::uint32_t w = U32(graph, 4 * s);
        const auto hb = static_cast<std::uint8_t>(EntryHourBcd(w));
        const auto mb = static_cast<std::uint8_t>(EntryMinuteBcd(w));
        if (!IsBcd(hb) || !IsBcd(mb) || FromBcd(hb) > 23 || FromBcd(mb) > 59) continue;
        const int at = FromBcd(hb) * 60 + FromBcd(mb);
        for (int d = 0; d < 7; ++d) {
            if (!((EntryDays(w) >> d) & 1)) continue;
            const int ago = ((now - (d * 24 * 60 + at)) % kWeek + kWeek) % kWeek;
            // A later slot at the same moment wins, hence "<=".
            if (ago <= best) {
                best = ago;
                value = EntryValue(w);
            }
        }
    }
    return value;
}

}  // namespace vir05
