// Calendar date and time of day of a count of seconds since 1970 (no time zone: the controller's
// clock has none).
#pragma once

#include <chrono>
#include <cstdint>

#include "model/bytes.h"

namespace vir05::sim {

struct Civil {
    int year, month, day, hour, minute, second;
    int isoWeekday;  // 1 = Monday .. 7 = Sunday
};

inline Civil ToCivil(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds t{std::chrono::seconds(seconds)};
    const auto dayPoint = floor<days>(t);
    const year_month_day ymd{dayPoint};
    const hh_mm_ss hms{t - dayPoint};
    return Civil{static_cast<int>(ymd.year()),
                 static_cast<int>(unsigned(ymd.month())),
                 static_cast<int>(unsigned(ymd.day())),
                 static_cast<int>(hms.hours().count()),
                 static_cast<int>(hms.minutes().count()),
                 static_cast<int>(hms.seconds().count()),
                 static_cast<int>(weekday{dayPoint}.iso_encoding())};
}

// The six BCD time-stamp bytes of an event log slot: seconds, minutes, hours, day, month, year.
inline void PutEventStamp(std::uint8_t* slot, const Civil& c) {
    slot[0] = ToBcd(c.second);
    slot[1] = ToBcd(c.minute);
    slot[2] = ToBcd(c.hour);
    slot[3] = ToBcd(c.day);
    slot[4] = ToBcd(c.month);
    slot[5] = ToBcd(c.year % 100);
}

}  // namespace vir05::sim
