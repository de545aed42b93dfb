// The saved data file (.vi5): a flat 135168-byte copy of one controller reading.
//
//   offset 0      1955 bytes   DeviceImage
//   offset 1955   1955 bytes   ConfigShadow
//   offset 3910    186 bytes   ArchiveImage bytes 0 to 185
//   offset 4096 131072 bytes   ArchiveImage
//
// There is no header, version or checksum. Opening uses file bytes 0 to 1954 and 4096 onward.
#pragma once

#include <string>

#include "model/memory.h"

namespace vir05 {

inline constexpr std::size_t kDataFileFirstBlock = 4096;
inline constexpr std::size_t kDataFileSize = kDataFileFirstBlock + kArchiveSize;  // 135168

// Writes the data file. The bytes go to a temporary file beside `name` that replaces `name` only
// once it is complete, so a failed save never leaves a damaged file in place of a good one.
// The temporary file is created exclusively under a name of its own, so concurrent saves and a
// planted link cannot mix or redirect it; only a regular file or a link at `name` is replaced.
// Returns false when the file could not be written; `error` then says why.
bool SaveDataFile(const std::string& name, const MemoryAreas& areas);
bool SaveDataFile(const std::string& name, const MemoryAreas& areas, std::string& error);

// Where opening a data file failed.
enum class OpenStage { None, Open, Size, ReadImage, ReadArchive, Decode };

// The texts the caption shows after the name and " ошибка ".
const char* OpenStageText(OpenStage stage);

// A name may come from the shell in double quotes: a leading quote is removed, and then the
// first quote left in the name.
std::string StripShellQuotes(std::string name);

// Loads a data file into the areas: DeviceImage from file bytes 0..1954 (bytes beyond a short
// file keep their contents), ConfigShadow := DeviceImage, ArchiveImage cleared and then filled
// from file offset 4096 (bytes beyond the end stay zero). What was loaded before a failure stays
// loaded. Returns the failing stage, or OpenStage::None. Presenting the result is the caller's.
OpenStage LoadDataFile(const std::string& name, MemoryAreas& areas);

}  // namespace vir05
