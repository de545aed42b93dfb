#include "core/present/untouched.h"

#include <cstring>

#include "core/present/fields.h"
#include "core/present/present.h"

namespace vir05 {

namespace {

bool Same(const ControlState& a, const ControlState& b, std::string_view name) {
    const auto x = a.find(name);
    const auto y = b.find(name);
    if (x == a.end() || y == b.end()) return x == a.end() && y == b.end();
    const ControlValue& u = x->second;
    const ControlValue& v = y->second;
    return u.number == v.number && u.index == v.index && u.checked == v.checked && u.text == v.text;
}

}  // namespace

void KeepUntouchedFields(const ControlState& read, const ControlState& presented,
                         const std::uint8_t* before, MemoryAreas& areas) {
    const int circuit = areas.Shown();
    for (const FieldBinding& b : kFieldBindings) {
        bool untouched = true;
        if (b.conversion == Conversion::Radio) {
            for (const RadioCode& r : b.radios)
                untouched = untouched && Same(read, presented, r.button);
        } else {
            untouched = Same(read, presented, b.control);
        }
        if (!untouched) continue;
        const int address = b.inRecord ? CircuitField(circuit, b.offset) : b.offset;
        const int width = present_detail::BindingSize(b);
        if (address < 0 || address + width > static_cast<int>(kImageSize)) continue;
        std::memcpy(areas.DeviceImage() + address, before + address,
                    static_cast<std::size_t>(width));
    }
}

}  // namespace vir05
