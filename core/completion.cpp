#include "core/completion.h"

#include <cmath>
#include <cstring>

#include "model/bytes.h"

namespace vir05 {

void TakeOverRead(MemoryAreas& areas, bool archiveRead) {
    std::memcpy(areas.DeviceImage(), areas.ReceiveArea.data() + kReceiveImageOffset, kImageSize);
    std::memcpy(areas.ConfigShadow(), areas.DeviceImage(), kImageSize);
    const std::size_t from = archiveRead ? kReceiveArchiveOffset : kReceiveEmptyArchiveOffset;
    std::memcpy(areas.ArchiveImage(), areas.ReceiveArea.data() + from, kArchiveSize);
}

std::string ArchiveDataFileName(const MemoryAreas& areas) {
    return areas.ProgramDir + std::to_string(I32(areas.DeviceImage(), addr::DevNumber)) + ".vi5";
}

std::string FileNotWrittenCaption(const std::string& name, const std::string& why) {
    return "Ошибка: не удалось записать файл " + name + (why.empty() ? "" : ": " + why);
}

std::string ElapsedText(double durationDays) {
    const double scaled = durationDays * 60.0 * 86400.0;  // seconds of the shown time of day
    long long s = scaled > 0 ? static_cast<long long>(std::llround(scaled)) % 86400 : 0;
    const long long h = s / 3600;
    s %= 3600;
    const long long m = s / 60;
    s %= 60;
    auto two = [](long long v) {
        return (v < 10 ? std::string("0") : std::string()) + std::to_string(v);
    };
    return std::to_string(h) + ":" + two(m) + ":" + two(s);
}

}  // namespace vir05
