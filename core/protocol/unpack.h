// Decoder of compressed archive blocks.
//
// The first 32 data bytes of a block travel plain. After them the data are a bit stream read
// from the lowest bit of each byte upwards: a 0 bit repeats the byte 32 positions back (archive
// records repeat with a period of 16 or 32 bytes), a 1 bit is followed by the 8 bits of a literal
// byte, lowest bit first, which may straddle two input bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vir05 {

inline constexpr std::size_t kUnpackHistory = 32;
// One input byte yields at most this many output bytes: callers keep that much room past the
// count they want, since the decoder always finishes the byte it was given.
inline constexpr std::size_t kUnpackMaxOutput = 8;

struct UnpackState {
    std::uint8_t bitPos = 0;
    std::uint8_t previous = 0;
    bool literalPending = false;
    std::array<std::uint8_t, kUnpackHistory> history{};
    std::uint32_t outCount = 0;  // output bytes since the start of the block

    void Reset() { *this = UnpackState{}; }
};

// Decodes input byte `b`, storing the output bytes at buffer[pos], buffer[pos + 1], ... and
// advancing `pos` past them.
void UnpackByte(UnpackState& state, std::uint8_t b, std::size_t& pos, std::uint8_t* buffer);

}  // namespace vir05
