#include "core/protocol/frame.h"

#include "model/layout.h"

namespace vir05 {

std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t length) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return static_cast<std::uint8_t>(~sum);
}

namespace {
std::size_t Head(std::uint8_t* out, std::uint8_t net, std::uint8_t mode, std::uint8_t op,
                 std::uint8_t params) {
    out[0] = kFrameStart;
    out[1] = net;
    out[2] = static_cast<std::uint8_t>(~net);
    out[3] = mode;
    out[4] = op;
    out[5] = params;
    return 6;
}
std::size_t Be32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    return 4;
}
std::size_t Be16(std::uint8_t* out, std::uint16_t v) {
    out[0] = static_cast<std::uint8_t>(v >> 8);
    out[1] = static_cast<std::uint8_t>(v);
    return 2;
}
std::size_t Seal(std::uint8_t* out, std::size_t n) {
    out[n] = FrameChecksum(out, n);
    return n + 1;
}
}  // namespace

std::size_t BuildWriteFrame(std::uint8_t* out, std::uint8_t net, std::uint16_t address,
                            const std::uint8_t* data, std::size_t n) {
    std::size_t i = Head(out, net, kModePlain, kOpWrite, static_cast<std::uint8_t>(n + 2));
    i += Be16(out + i, address);
    for (std::size_t k = 0; k < n; ++k)
        out[i++] = data[k];
    return Seal(out, i);
}

std::size_t BuildReadMemoryFrame(std::uint8_t* out, std::uint8_t net, std::uint32_t address,
                                 std::uint16_t count) {
    std::size_t i = Head(out, net, kModePlain, kOpRead, 6);
    i += Be32(out + i, address);
    i += Be16(out + i, count);
    return Seal(out, i);
}

std::size_t BuildReadImageFrame(std::uint8_t* out, std::uint8_t net) {
    std::size_t i = Head(out, net, kModeImage, kOpRead, 6);
    i += Be32(out + i, 0);
    i += Be16(out + i, static_cast<std::uint16_t>(kImageSize));
    return Seal(out, i);
}

std::size_t BuildArchiveFrame(std::uint8_t* out, std::uint8_t net, std::uint8_t mode,
                              std::uint32_t start, std::uint32_t count) {
    std::size_t i = Head(out, net, mode, kOpArchive, 8);
    i += Be32(out + i, start);
    i += Be32(out + i, count);
    return Seal(out, i);
}

}  // namespace vir05
