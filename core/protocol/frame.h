// Request frames and replies of the controller protocol.
//
// A request: 0x55, network address, its complement, mode byte, operation, parameter count,
// parameters, checksum. Numbers inside frames are big-endian. A reply: 170, five more header
// bytes, the data, a checksum. A frame or reply is valid when the 8-bit sum of all its bytes,
// checksum included, is 0xFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vir05 {

inline constexpr std::uint8_t kFrameStart = 0x55;
inline constexpr std::uint8_t kReplyStart = 170;  // 0xAA
inline constexpr std::uint8_t kModePlain = 0x0C;
inline constexpr std::uint8_t kModeImage = 0x0F;       // image read
inline constexpr std::uint8_t kModeCompressed = 0x0F;  // archive read asking for compressed data
inline constexpr std::uint8_t kOpRead = 0x01;
inline constexpr std::uint8_t kOpWrite = 0x81;
inline constexpr std::uint8_t kOpArchive = 0x03;
inline constexpr std::size_t kReplyHeaderSize = 6;
inline constexpr std::size_t kReplyOverhead = 7;  // header and checksum
inline constexpr std::size_t kReadFrameSize = 13;
inline constexpr std::size_t kArchiveFrameSize = 15;
inline constexpr std::size_t kWriteFrameOverhead = 9;

// One's complement of the 8-bit sum of the bytes: appended to a frame, and 0 over a whole valid
// frame.
std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t length);
inline bool FrameValid(const std::uint8_t* bytes, std::size_t length) {
    return length > 0 && FrameChecksum(bytes, length) == 0;
}

// Builders write into `out` and return the frame length.
std::size_t BuildWriteFrame(std::uint8_t* out, std::uint8_t netAddr, std::uint16_t address,
                            const std::uint8_t* data, std::size_t n);  // n + 9 bytes, n <= 253
std::size_t BuildReadMemoryFrame(std::uint8_t* out, std::uint8_t netAddr, std::uint32_t address,
                                 std::uint16_t count);
std::size_t BuildReadImageFrame(std::uint8_t* out, std::uint8_t netAddr);
std::size_t BuildArchiveFrame(std::uint8_t* out, std::uint8_t netAddr, std::uint8_t mode,
                              std::uint32_t start, std::uint32_t count);

}  // namespace vir05
