// Deterministic generator of realistic controller contents.
//
// From a seed it builds a memory image (clock, identity, firmware version, one or two circuits
// with plausible temperatures, errors, inputs and configuration, schedules, GSM settings,
// calibration) and an archive memory (an event log and a periodic archive written in ring order
// up to ArchPos, with a few no-value codes and damaged slots). The same seed always gives the
// same bytes.
#pragma once

#include <cstdint>

namespace vir05::sim {

struct GeneratorOptions {
    std::uint32_t seed = 1;
    int circuits = 2;             // NumSystems
    int periodIndex = 6;          // PeriodStat: 6 = one record an hour
    std::uint16_t softVer = 107;  // above 106 the archive is read compressed
    std::int32_t serial = 500001;
    int events = 300;         // event log entries (at most 1024)
    int archiveRecords = -1;  // periodic records written; -1 fills the whole ring
    // Controller clock: 2026-12-10 10:15:42, a Thursday.
    int year = 2026, month = 12, day = 10, hour = 10, minute = 15, second = 42;
};

// Fills `image` (1955 bytes) and `archive` (131072 bytes).
void GenerateContents(const GeneratorOptions& options, std::uint8_t* image, std::uint8_t* archive);

}  // namespace vir05::sim
