#include "core/protocol/byte_line.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vir05 {

void RealSleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int SendPaced(const std::function<int(const std::uint8_t*, std::size_t)>& send,
              const LineTarget& target, const std::uint8_t* data, std::size_t count) {
    const auto pause = [&] {
        if (target.pause)
            target.pause(target.pauseBeforeSendMs);
        else
            RealSleep(target.pauseBeforeSendMs);
    };
    pause();
    const int sent = send(data, count);
    const std::size_t done =
        sent > 0 ? std::min(static_cast<std::size_t>(sent), count) : std::size_t{0};
    if (done >= count) return static_cast<int>(done);
    pause();
    const int rest = send(data + done, count - done);
    const std::size_t total = done + (rest > 0 ? static_cast<std::size_t>(rest) : 0);
    return total > 0 ? static_cast<int>(total) : -1;
}

}  // namespace vir05
