// The presentation's view of the image.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/layout.h"

namespace vir05 {

// The window's copy of DeviceImage taken at each presentation. Its NumSystems byte is
// normalised: anything but 1 or 2 counts as 2.
struct ImageSnapshot {
    std::array<std::uint8_t, kImageSize> bytes{};
    const std::uint8_t* data() const { return bytes.data(); }
    int NumSystems() const { return bytes[addr::NumSystems]; }
};

ImageSnapshot TakeSnapshot(const std::uint8_t* image);

// Text of the time panel: hours, minutes and seconds of the controller clock, two digits each.
std::string PanelTimeText(const std::uint8_t* image);

}  // namespace vir05
