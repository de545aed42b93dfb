// The text output: sections of key=value lines with the controller's identity, the current
// values of each circuit and the periodic archive condensed to hourly and daily records.
// Programs that poll controllers unattended read it; every presentation rewrites it.
#pragma once

#include <string>

#include "core/run_log.h"
#include "core/snapshot.h"
#include "model/records.h"

namespace vir05 {

struct MemoryAreas;

inline constexpr const char* kDefaultOutputName = "def.txt";

// What the text output is made of: the presentation's snapshot (circuit count, identity), the
// image (circuit records), the archive memory and the text of the time panel.
struct TextOutputSource {
    const ImageSnapshot& snapshot;
    const std::uint8_t* image;
    const std::uint8_t* archive;
    std::string panelTime;
};

// Appends the whole text output, CR LF line ends, to `out`. `order` is scratch space for the
// sorted archive, so that nothing is allocated per record.
void AppendTextOutput(std::string& out, const TextOutputSource& source, ArchiveOrder& order);

// Writes the text output file: deletes the file named `outputName` (relative to the current
// directory) when it is a regular file or a link, then writes `programDir + outputName` whole
// through a temporary file beside it. A file that cannot be written is reported in the run log
// as the name followed by " - (error!) невозможно записать файл!", a line with the reason and
// "log end error"; a written one by "log end done". The run log is then closed (only the first
// output of a run writes to it). Returns false, with the reason in `why`, when the file could
// not be written whole; no partial file is left then.
bool WriteTextOutput(const std::string& outputName, const std::string& programDir,
                     const TextOutputSource& source, RunLog& log, std::string* why = nullptr);

// The text output of what `areas` hold now, written as above under their program directory:
// what every presentation, conversion and unattended read leaves for the scheduler.
bool WriteTextOutputOf(const std::string& outputName, const MemoryAreas& areas, RunLog& log,
                       std::string* why = nullptr);

}  // namespace vir05
