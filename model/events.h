// The rows of the event grid, built from the event log of the archive memory.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/records.h"

namespace vir05 {

inline constexpr int kEventGridColumns = 8;
inline constexpr int kEventGridRows = 1026;  // one title row and 1025 data rows

using EventGridRow = std::array<std::string, kEventGridColumns>;

// Column titles: "N", "Время Дата", "Параметр", (none), "Новое значение", "Cтарое значение".
const EventGridRow& EventGridTitles();

// The date and time of an event in the computer's short date and long time formats; a time of
// exactly 00:00:00 shows the date alone. The default is the Russian one: 07.11.2025 12:34:56.
struct EventStampFormat {
    virtual ~EventStampFormat() = default;
    virtual std::string Date(int year, int month, int day) const;
    virtual std::string Time(int hour, int minute, int second) const;
};
std::string EventStampText(const EventRecord& e, const EventStampFormat& format);

// The data rows, in slot order: every slot that holds an event by the controller's rule and
// whose stamp is a real date and time (a damaged stamp cannot be placed in time and is left
// out). Column 0 numbers the rows from 0.
std::vector<EventGridRow> EventGridRows(const std::uint8_t* archive,
                                        const EventStampFormat& format);

}  // namespace vir05
