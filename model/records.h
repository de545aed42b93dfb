// Decoding of the archive memory: event log slots and periodic archive records.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "model/layout.h"

namespace vir05 {

// One slot of the event log (16 bytes). Time stamp fields are the BCD bytes as stored.
struct EventRecord {
    std::uint8_t sec, min, hour, day, month, year;  // BCD
    std::uint8_t code;  // 255 = switched off; bits 0-6 parameter, bit 7 circuit 2
    std::int16_t newValue;
    std::int16_t oldValue;
};

// The controller's rule for a slot that holds an event.
bool EventSlotHoldsEvent(const std::uint8_t* slot);
// Stricter: the time stamp is also a real calendar date and time of day (the controller's rule
// lets through day 32, month 13, hour 25 and the like, which only a damaged slot holds).
bool EventTimeIsPlausible(const EventRecord& e);
EventRecord DecodeEvent(const std::uint8_t* slot);

// Six packed temperatures and the valve and error state of one circuit in an archive record.
struct CircuitSample {
    std::int16_t T11, T2, Tk, Tn, Real, Base;  // tenths of a degree, 12-bit signed
    std::uint8_t Klap;                         // valve position, percent
    std::int16_t Errors;
};

// A packed archive temperature at or below this means there is no value.
inline constexpr int kArchiveNoValue = -2000;

CircuitSample DecodeSample(const std::uint8_t* sample);

struct ArchiveTime {
    std::uint16_t time;  // bits 11-15 hour, 5-10 minute, 0-4 seconds / 2
    std::uint16_t date;  // bits 9-15 year - 2000, 5-8 month, 0-4 day
    int Hour() const { return time >> 11; }
    int Minute() const { return (time >> 5) & 0x3F; }
    int HalfSeconds() const { return time & 0x1F; }
    int Second() const { return 2 * HalfSeconds(); }
    int Year() const { return 2000 + (date >> 9); }
    int Month() const { return (date >> 5) & 0x0F; }
    int Day() const { return date & 0x1F; }
    // The controller's validity rule for a record slot.
    bool Valid() const {
        return HalfSeconds() <= 29 && Minute() <= 59 && Hour() <= 23 && Day() != 0 &&
               Month() >= 1 && Month() <= 12;
    }
    // The sort key: date in the high half, time in the low half.
    std::uint32_t Key() const { return (static_cast<std::uint32_t>(date) << 16) | time; }
};

ArchiveTime DecodeArchiveTime(const std::uint8_t* record);

// A record of the periodic archive by its place in the archive memory, for sorting.
struct ArchiveSlot {
    std::uint32_t key;
    std::uint32_t offset;  // archive offset of the record
};

// Capacity for the largest periodic archive (7168 one-circuit records).
using ArchiveOrder = std::array<ArchiveSlot, ArchiveSlotCount(1)>;

// Puts the periodic archive's records in time order (by their 32-bit key, ties in slot order)
// into `order` and returns how many there are. `numSystems` is the normalised circuit count.
std::size_t SortArchive(const std::uint8_t* archive, int numSystems, ArchiveOrder& order);

}  // namespace vir05
