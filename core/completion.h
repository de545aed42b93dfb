// What the command cycle does with a command that has completed.
#pragma once

#include <string>

#include "model/memory.h"

namespace vir05 {

// After a successful read: controller addresses 0..1954 go from ReceiveArea offset 6 into
// DeviceImage and ConfigShadow; the archive ring from offset 4096 after an archive read, and the
// zeros from offset 2054 after any other read, go into ArchiveImage (so that reading current
// values empties the archive shown).
void TakeOverRead(MemoryAreas& areas, bool archiveRead);

// The data file an archive read leaves behind: program directory, serial number, ".vi5".
std::string ArchiveDataFileName(const MemoryAreas& areas);

// The caption of a file that could not be written whole, with the reason when one is given.
std::string FileNotWrittenCaption(const std::string& name, const std::string& why = {});

// The elapsed time of a command as the caption shows it: the duration in days times 60, as a
// time of day (h:mm:ss), so that a read of 12 seconds shows as 0:12:00.
std::string ElapsedText(double durationDays);

}  // namespace vir05
