// The memory areas that mirror one controller.
//
// DeviceImage, ConfigShadow and ArchiveImage lie back to back in one zero-initialised block: the
// data file writes its first block (4096 bytes) straight from the start of it. The link's receive
// area and progress cell sit beside them. Nothing here is ever reallocated; every read, load and
// edit overwrites in place.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "model/layout.h"

namespace vir05 {

// The circuit the window shows for a selection: 1 (the second) only when chosen as such, the
// first for anything else.
constexpr int ShownCircuit(int selected) {
    return selected == 1 ? 1 : 0;
}

inline constexpr std::size_t kAreaBlockSize = 2 * kImageSize + kArchiveSize;  // 135032

struct MemoryAreas {
    std::array<std::uint8_t, kAreaBlockSize> block{};
    std::array<std::uint8_t, kReceiveAreaSize> ReceiveArea{};
    std::atomic<std::uint8_t> ProgressCell{0};
    int SelectedCircuit = 0;
    int Shown() const { return vir05::ShownCircuit(SelectedCircuit); }
    // Directory of the executable with a trailing separator (an installed program: the user's
    // data directory), where the window writes its own files; empty until the window is shown,
    // so that names built on it stay relative to the current directory.
    std::string ProgramDir;

    std::uint8_t* DeviceImage() { return block.data(); }
    const std::uint8_t* DeviceImage() const { return block.data(); }
    std::uint8_t* ConfigShadow() { return block.data() + kImageSize; }
    const std::uint8_t* ConfigShadow() const { return block.data() + kImageSize; }
    std::uint8_t* ArchiveImage() { return block.data() + 2 * kImageSize; }
    const std::uint8_t* ArchiveImage() const { return block.data() + 2 * kImageSize; }

    std::span<std::uint8_t, kImageSize> Image() {
        return std::span<std::uint8_t, kImageSize>(DeviceImage(), kImageSize);
    }
    std::span<std::uint8_t, kImageSize> Shadow() {
        return std::span<std::uint8_t, kImageSize>(ConfigShadow(), kImageSize);
    }
    std::span<std::uint8_t, kArchiveSize> Archive() {
        return std::span<std::uint8_t, kArchiveSize>(ArchiveImage(), kArchiveSize);
    }
};

// Offsets of what a successful read leaves in ReceiveArea.
inline constexpr std::size_t kReceiveImageOffset = 6;       // image reply after its 6-byte header
inline constexpr std::size_t kReceiveArchiveOffset = 4096;  // archive ring after an archive read
inline constexpr std::size_t kReceiveEmptyArchiveOffset = 2054;  // zeros after an image read

}  // namespace vir05
