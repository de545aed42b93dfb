#include "core/present/write_plan.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/present/fields.h"
#include "core/schedule.h"
#include "model/layout.h"

namespace vir05 {

namespace {

constexpr int kWindow = 17;
constexpr int kConfigEnd = addr::ConfigStart + addr::ConfigLength;

std::array<bool, kImageSize> EditableMap() {
    std::array<bool, kImageSize> map{};
    auto mark = [&map](int from, int size) {
        for (int a = std::max(from, 0); a < from + size && a < static_cast<int>(kImageSize); ++a)
            map[static_cast<std::size_t>(a)] = true;
    };
    for (const FieldBinding& b : kFieldBindings) {
        const int size = present_detail::BindingSize(b);
        if (!b.inRecord) {
            mark(b.offset, size);
            continue;
        }
        for (int c = 0; c < kCircuitCount; ++c)
            mark(CircuitField(c, b.offset), size);
    }
    mark(addr::Schedules,
         ScheduleAddr(kCircuitCount - 1, kScheduleGraphs - 1) + kScheduleSize - addr::Schedules);
    return map;
}

const std::array<bool, kImageSize>& Editable() {
    static const std::array<bool, kImageSize> map = EditableMap();
    return map;
}

}  // namespace

std::vector<ByteSpan> ConfigWriteSpans(const std::uint8_t* image, const std::uint8_t* shadow,
                                       bool rewriteAll) {
    std::vector<ByteSpan> spans;
    for (int base = addr::ConfigStart; base < kConfigEnd; base += kWindow) {
        const int end = std::min(base + kWindow, kConfigEnd);
        int first = -1;
        int last = -1;
        for (int a = base; a < end; ++a) {
            if (rewriteAll || image[a] != shadow[a]) {
                if (first < 0) first = a;
                last = a;
            }
        }
        if (first >= 0) spans.push_back({first, last});
    }
    return spans;
}

bool IsEditableConfigByte(int address) {
    return address >= addr::ConfigStart && address < kConfigEnd &&
           Editable()[static_cast<std::size_t>(address)];
}

void KeepOnlyEditableBytes(std::uint8_t* image, const std::uint8_t* reference) {
    for (int a = addr::ConfigStart; a < kConfigEnd; ++a)
        if (!IsEditableConfigByte(a)) image[a] = reference[a];
}

std::vector<ConfigChange> DescribeConfigWrite(const std::uint8_t* image, const std::uint8_t* shadow,
                                              const std::uint8_t* controller, bool rewriteAll) {
    // The controller as it will be after the write, compared with what it holds now.
    std::array<std::uint8_t, kImageSize> after;
    std::memcpy(after.data(), controller, kImageSize);
    ApplyConfigWrite(after.data(), image, ConfigWriteSpans(image, shadow, rewriteAll));
    return DescribeConfigChanges(after.data(), controller);
}

void ApplyConfigWrite(std::uint8_t* controller, const std::uint8_t* image,
                      const std::vector<ByteSpan>& spans) {
    for (const ByteSpan& s : spans)
        std::memcpy(controller + s.first, image + s.first,
                    static_cast<std::size_t>(s.last - s.first + 1));
}

}  // namespace vir05
