#include "model/events.h"

#include "model/bytes.h"
#include "model/vocab.h"

namespace vir05 {

namespace {
std::string Two(int v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}
}  // namespace

const EventGridRow& EventGridTitles() {
    static const EventGridRow kTitles = {
        "N", "Время Дата", "Параметр", "", "Новое значение", "Cтарое значение", "", ""};
    return kTitles;
}

std::string EventStampFormat::Date(int year, int month, int day) const {
    return Two(day) + "." + Two(month) + "." + std::to_string(year);
}

std::string EventStampFormat::Time(int hour, int minute, int second) const {
    return std::to_string(hour) + ":" + Two(minute) + ":" + Two(second);
}

std::string EventStampText(const EventRecord& e, const EventStampFormat& format) {
    const std::string date = format.Date(2000 + FromBcd(e.year), FromBcd(e.month), FromBcd(e.day));
    if (e.hour == 0 && e.min == 0 && e.sec == 0) return date;
    return date + " " + format.Time(FromBcd(e.hour), FromBcd(e.min), FromBcd(e.sec));
}

std::vector<EventGridRow> EventGridRows(const std::uint8_t* archive,
                                        const EventStampFormat& format) {
    std::vector<EventGridRow> rows;
    for (int slot = 0; slot < arch::EventSlots; ++slot) {
        const std::uint8_t* s = archive + arch::EventLog + slot * arch::EventSlotSize;
        if (!EventSlotHoldsEvent(s)) continue;
        const EventRecord e = DecodeEvent(s);
        if (!EventTimeIsPlausible(e)) continue;
        EventGridRow row;
        row[0] = std::to_string(rows.size());
        row[1] = EventStampText(e, format);
        row[2] = std::to_string(e.code);
        row[3] = EventName(e.code);
        row[4] = std::to_string(e.newValue);
        row[5] = std::to_string(e.oldValue);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace vir05
