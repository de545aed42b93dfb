// The text output: sections of key=value lines with the controller's identity, the current
// values of each circuit and the periodic archive condensed to hourly and daily records.
// Programs that poll controllers unattended read it; every presentation rewrites it.
#pragma once

#include <string>

#include "core/run_log.h"
#include "core/snapshot.h"
#include "model/records.h"

namespace vir05 {

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
// directory), then creates `programDir + outputName`. A file that cannot be created or written
// is reported in the run log as the name followed by " - (error!) невозможно записать файл!".
// Then the run log gets "log end done" and is closed (only the first output of a run writes
// to it). Returns false when the file could not be written whole.
bool WriteTextOutput(const std::string& outputName, const std::string& programDir,
                     const TextOutputSource& source, RunLog& log);

}  // namespace vir05
