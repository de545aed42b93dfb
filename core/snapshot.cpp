#include "core/snapshot.h"

#include <cstring>

#include "core/format.h"

namespace vir05 {

ImageSnapshot TakeSnapshot(const std::uint8_t* image) {
    ImageSnapshot s;
    std::memcpy(s.bytes.data(), image, kImageSize);
    std::uint8_t& n = s.bytes[addr::NumSystems];
    if (n != 1 && n != 2) n = 2;
    return s;
}

std::string PanelTimeText(const std::uint8_t* image) {
    return Hex2(image[addr::ClockHour]) + ":" + Hex2(image[addr::ClockMin]) + ":" +
           Hex2(image[addr::ClockSec]);
}

}  // namespace vir05
