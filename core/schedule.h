// The controller's weekly value graphs: one graph is 32 four-byte entries, each saying from which
// time of day, on which weekdays, which value applies.
//
// An entry is one little-endian word: byte 0 minutes and byte 1 hours in packed BCD, byte 2 the
// weekday bits (bit 0 Monday ... bit 6 Sunday, bit 7 always written as 0), byte 3 the value as a
// signed byte. An entry whose weekday byte is 0 is unused.
//
// The editor shows a graph as text cells and stores the cells back; the conversions in both
// directions live here, free of any window code. Cell texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/layout.h"

namespace vir05 {

inline constexpr int kScheduleGraphs = 3;  // per circuit

// Address of slot s of graph k of circuit c; circuit, graph and slot outside their ranges are
// brought to the nearest valid one, so the address always lies inside the schedule area.
int ScheduleSlotAddr(int c, int k, int s);

std::uint32_t ReadScheduleEntry(const std::uint8_t* image, int c, int k, int s);
void WriteScheduleEntry(std::uint8_t* image, int c, int k, int s, std::uint32_t word);

inline int EntryMinuteBcd(std::uint32_t w) {
    return static_cast<int>(w & 0xFF);
}
inline int EntryHourBcd(std::uint32_t w) {
    return static_cast<int>((w >> 8) & 0xFF);
}
inline int EntryDays(std::uint32_t w) {
    return static_cast<int>((w >> 16) & 0xFF);
}
inline int EntryValue(std::uint32_t w) {
    return static_cast<std::int8_t>(w >> 24);
}

// Range of the value of graph k: the set-point deviation (graph 0) from -99 to 127, the pump
// graphs (1 and 2) 0 or 1.
int ScheduleValueMin(int k);
int ScheduleValueMax(int k);

// The texts of one row of the table.
struct ScheduleCells {
    std::string time;   // "06:30": the four BCD nibbles as decimal numbers, colon after two
    std::string days;   // seven fields of three characters, "Пн." ... "Вс." or three spaces
    std::string value;  // the signed value in decimal
};

// The cells an entry shows; all three empty for an unused entry.
ScheduleCells EntryCells(std::uint32_t word);

// Seven weekday fields from the weekday bits (bit 0 Monday).
std::string DaysText(int days);
// Weekday bits of a weekday text: bit i when the two-letter name of day i occurs anywhere in it.
int DaysFromText(std::string_view text);

// "hh:mm" with two digits each.
std::string TimeText(int hour, int minute);
// Hour and minute of a time text of the form "dd:dd"; nothing for any other text.
struct TimeOfDay {
    int hour = 0;
    int minute = 0;
};
std::optional<TimeOfDay> ParseTimeText(std::string_view text);

// A whole number in decimal with an optional sign and surrounding spaces; nothing for any other
// text, including numbers too large for an int.
std::optional<int> ParseWholeNumber(std::string_view text);

// The word of an entry from its parts: hour and minute as BCD, the weekday bits (bit 7 dropped)
// and the value as a signed byte (clamped to -128..127).
std::uint32_t MakeScheduleEntry(int hour, int minute, int days, int value);

// The word a row of cells stores: the time when it reads "dd:dd" (else 00:00), the weekdays
// named in the weekday text, the value when it is a number (else 0; clamped to a signed byte so
// that it never spills out of its byte).
std::uint32_t EntryFromCells(std::string_view time, std::string_view days, std::string_view value);

// The value in force in a graph (32 entries from `graph`) on weekday `day` (0 Monday ... 6
// Sunday) at hour:minute: that of the entry that took effect most recently, an entry at exactly
// that time counting as in effect, looking back at most one week; at the same moment the higher
// slot wins. Entries whose time is not a valid time of day take no effect. Nothing when no entry
// is in use.
std::optional<int> ScheduleValueInForce(const std::uint8_t* graph, int day, int hour, int minute);

}  // namespace vir05
