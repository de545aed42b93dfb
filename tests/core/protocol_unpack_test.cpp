// The decoder of compressed archive data.
#include <gtest/gtest.h>

#include <vector>

#include "core/protocol/unpack.h"
#include "tests/core/protocol_fakes.h"

namespace vir05 {
namespace {

std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& in) {
    UnpackState s;
    std::vector<std::uint8_t> out(in.size() * kUnpackMaxOutput + 8);
    std::size_t pos = 0;
    for (auto b : in)
        UnpackByte(s, b, pos, out.data());
    out.resize(pos);
    return out;
}

TEST(UnpackByte, FirstThirtyTwoPlainThenRepeatsAndLiterals) {
    std::vector<std::uint8_t> in;
    for (int i = 0; i < 32; ++i)
        in.push_back(static_cast<std::uint8_t>(0xA0 + i));  // plain
    in.push_back(0x00);  // eight 0 bits: bytes 0..7 repeated from 32 back
    // 0x03 = bits 1,1,0,0,0,0,0,0 from the lowest: a 1 bit, then a literal of the next eight
    // bits: seven upper bits of 0x03 (1,0,0,0,0,0,0) and the lowest bit of 0x01 (1) -> 0x81.
    // Then the rest of 0x01: seven 0 bits, seven repeats.
    in.push_back(0x03);
    in.push_back(0x01);
    const auto out = Decode(in);
    ASSERT_EQ(out.size(), 32u + 8u + 1u + 7u);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(out[i], 0xA0 + i);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[32 + i], 0xA0 + i);  // 32 positions back
    EXPECT_EQ(out[40], 0x81);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(out[41 + i], 0xA0 + 9 + i);  // position 41 repeats position 9
}

TEST(UnpackByte, TestCompressorRoundTrips) {
    // The tests' own compressor must produce what the decoder reads, or the archive tests would
    // prove nothing.
    std::vector<std::uint8_t> data(4096);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < data.size(); ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = i >= 32 && (x >> 16) % 4 != 0 ? data[i - 32] : static_cast<std::uint8_t>(x >> 24);
    }
    const auto packed = test::CompressForTest(data.data(), data.size());
    EXPECT_LT(packed.size(), data.size());
    EXPECT_EQ(Decode(packed), data);
}

}  // namespace
}  // namespace vir05
