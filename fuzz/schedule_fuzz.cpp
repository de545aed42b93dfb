// The schedule editor's texts: any cell texts parsed and stored, any entry word shown and stored
// back, any graph asked for the value in force.
//
// Input: the first 4 bytes are an entry word (little-endian), the next 3 a weekday, an hour and a
// minute; the rest splits at zero bytes into a time text, a weekday text and a value text. When
// the input holds 128 bytes or more, its first 128 bytes are also a whole graph.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/schedule.h"
#include "model/bytes.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "schedule_fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

bool NibblesDecimal(std::uint32_t w) {
    return vir05::IsBcd(static_cast<std::uint8_t>(vir05::EntryHourBcd(w))) &&
           vir05::IsBcd(static_cast<std::uint8_t>(vir05::EntryMinuteBcd(w)));
}

// The word that the cells of `w` store back: a time with a nibble above 9 shows longer than five
// characters and stores as 00:00, weekday bit 7 is not shown, an unused entry stores as 0.
std::uint32_t ShownWord(std::uint32_t w) {
    if (vir05::EntryDays(w) == 0) return 0;
    std::uint32_t shown = w & 0xFF7FFFFFu;
    if (!NibblesDecimal(w)) shown &= 0xFFFF0000u;
    return shown;
}

// The value in force found another way: a table of the week's minutes, each holding the highest
// slot that takes effect then, searched back from the given moment for at most one week.
std::optional<int> ValueInForceByMinutes(const std::uint8_t* graph, int day, int hour, int minute) {
    constexpr int kWeek = 7 * 24 * 60;
    std::array<std::int8_t, kWeek> slotAt;
    slotAt.fill(-1);
    for (int s = 0; s < vir05::kScheduleEntries; ++s) {
        const std::uint32_t w = vir05::U32(graph, 4 * s);
        const auto hb = static_cast<std::uint8_t>(vir05::EntryHourBcd(w));
        const auto mb = static_cast<std::uint8_t>(vir05::EntryMinuteBcd(w));
        if (!vir05::IsBcd(hb) || !vir05::IsBcd(mb) || vir05::FromBcd(hb) > 23 ||
            vir05::FromBcd(mb) > 59)
            continue;
        for (int d = 0; d < 7; ++d)
            if ((vir05::EntryDays(w) >> d) & 1)
                slotAt[d * 24 * 60 + vir05::FromBcd(hb) * 60 + vir05::FromBcd(mb)] =
                    static_cast<std::int8_t>(s);
    }
    const int now = ((day % 7 + 7) % 7) * 24 * 60 + hour * 60 + minute;
    for (int ago = 0; ago < kWeek; ++ago) {
        const int s = slotAt[((now - ago) % kWeek + kWeek) % kWeek];
        if (s >= 0) return vir05::EntryValue(vir05::U32(graph, 4 * s));
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vir05;
    if (size < 7) return 0;
    const std::uint32_t word = U32(data, 0);
    const int day = data[4] % 7;
    const int hour = data[5] % 24;
    const int minute = data[6] % 60;
    std::array<std::string, 3> texts;
    std::size_t field = 0;
    for (std::size_t i = 7; i < size && field < texts.size(); ++i) {
        if (data[i] == 0)
            ++field;
        else
            texts[field] += static_cast<char>(data[i]);
    }
    const std::string& timeText = texts[0];
    const std::string& daysText = texts[1];
    const std::string& valueText = texts[2];

    // Any word: its cells store back the word they show.
    const ScheduleCells cells = EntryCells(word);
    Check(EntryFromCells(cells.time, cells.days, cells.value) == ShownWord(word),
          "EntryCells(word) -> EntryFromCells gives back the shown word");
    if (EntryDays(word) != 0) {
        Check(NibblesDecimal(word) == (cells.time.size() == 5),
              "the time cell has five characters exactly when every nibble is a digit");
        Check(DaysFromText(cells.days) == (EntryDays(word) & 0x7F), "weekday cell round trip");
        Check(ParseWholeNumber(cells.value) == EntryValue(word), "value cell round trip");
    } else {
        Check(cells.time.empty() && cells.days.empty() && cells.value.empty(),
              "an unused entry shows three empty cells");
    }

    // Any time text: what parses is "dd:dd" and prints back as itself.
    if (const auto t = ParseTimeText(timeText)) {
        Check(t->hour >= 0 && t->hour <= 99 && t->minute >= 0 && t->minute <= 99,
              "a parsed time has two digits each");
        Check(TimeText(t->hour, t->minute) == timeText, "a parsed time prints back as its text");
    } else {
        Check(timeText.size() != 5 || timeText[2] != ':' ||
                  !(timeText[0] >= '0' && timeText[0] <= '9' && timeText[1] >= '0' &&
                    timeText[1] <= '9' && timeText[3] >= '0' && timeText[3] <= '9' &&
                    timeText[4] >= '0' && timeText[4] <= '9'),
              "every dd:dd text parses");
    }
    const auto own = ParseTimeText(TimeText(hour, minute));
    Check(own && own->hour == hour && own->minute == minute, "TimeText parses back");

    // Any weekday text: the bits found show as a text that finds the same bits.
    const int days = DaysFromText(daysText);
    Check(days >= 0 && days <= 0x7F, "weekday bits stay in bits 0..6");
    Check(DaysFromText(DaysText(days)) == days, "weekday text round trip");
    Check(DaysFromText(DaysText(data[0])) == (data[0] & 0x7F), "weekday bits round trip");

    // Any value text: a number prints back to a text that parses to the same number.
    const std::optional<int> value = ParseWholeNumber(valueText);
    if (value) Check(ParseWholeNumber(std::to_string(*value)) == value, "number round trip");
    const auto asInt = static_cast<std::int32_t>(word);
    Check(ParseWholeNumber(" " + std::to_string(asInt) + " ") == asInt, "decimal text parses");

    // Any cells: the stored word shows cells that store the same word again.
    const std::uint32_t stored = EntryFromCells(timeText, daysText, valueText);
    Check(EntryDays(stored) == days, "the weekday byte is the weekday text's bits");
    const int expectedValue = value ? (*value < -128 ? -128 : *value > 127 ? 127 : *value) : 0;
    Check(EntryValue(stored) == expectedValue, "the value byte is the clamped number");
    Check(NibblesDecimal(stored), "a stored time is decimal BCD");
    if (days != 0) {
        const ScheduleCells again = EntryCells(stored);
        Check(EntryFromCells(again.time, again.days, again.value) == stored,
              "stored cells round trip");
    }

    // Any graph: the value in force agrees with a search minute by minute.
    if (size >= kScheduleSize) {
        const auto fast = ScheduleValueInForce(data, day, hour, minute);
        Check(fast == ValueInForceByMinutes(data, day, hour, minute),
              "value in force agrees with the minute-by-minute search");
    }
    return 0;
}
