// Only the fields the user changed go into the image.
#pragma once

#include <cstdint>

#include "core/present/controls.h"
#include "model/memory.h"

namespace vir05 {

// After a collect: every field whose controls still show what the last presentation put there
// gets its bytes back from `before` (the image as it was before the collect), so that a
// configuration write never sends a byte the user did not change. A field the controls cannot
// show exactly (a setpoint of 21.50 °C in a whole-degree field, say) is thus kept as the
// controller holds it until the user edits it.
void KeepUntouchedFields(const ControlState& read, const ControlState& presented,
                         const std::uint8_t* before, MemoryAreas& areas);

}  // namespace vir05
