// Request frames byte for byte, and the checksum rule.
#include <gtest/gtest.h>

#include "core/protocol/frame.h"
#include "tests/core/protocol_fakes.h"

namespace vir05 {
namespace {

using test::Bytes;
using test::Hex;

TEST(FrameChecksum, ValidWhenAllBytesSumToFF) {
    // A valid frame sums to 0xFF, so the checksum over the whole frame is 0.
    const Bytes ack = {0xAA, 0x01, 0xFE, 0x0C, 0x81, 0x00, 0x00};
    Bytes sealed = ack;
    sealed.back() = FrameChecksum(ack.data(), 6);
    EXPECT_EQ(sealed.back(), 0xC9);  // ~(AA+01+FE+0C+81+00) = ~0x36
    EXPECT_EQ(FrameChecksum(sealed.data(), sealed.size()), 0);
    EXPECT_TRUE(FrameValid(sealed.data(), sealed.size()));
    sealed[3] ^= 0x10;
    EXPECT_FALSE(FrameValid(sealed.data(), sealed.size()));
    EXPECT_FALSE(FrameValid(sealed.data(), 0));
}

TEST(FrameBuilders, ImageReadEndsInEBForEveryAddress) {
    std::uint8_t f[kReadFrameSize];
    // 55 start, 01 address, FE complement, 0F image mode, 01 read, 06 parameters,
    // 00 00 00 00 address 0, 07 A3 count 1955, EB checksum
    ASSERT_EQ(BuildReadImageFrame(f, 1), 13u);
    EXPECT_EQ(Hex(Bytes(f, f + 13)), "55 01 FE 0F 01 06 00 00 00 00 07 A3 EB");
    for (int a = 0; a < 256; ++a) {
        BuildReadImageFrame(f, static_cast<std::uint8_t>(a));
        EXPECT_EQ(f[12], 0xEB) << a;
    }
}

TEST(FrameBuilders, ExamplesOfEachKind) {
    std::uint8_t f[32];
    const std::uint8_t two = 2;
    // 55, 01, FE, 0C plain, 81 write, 03 = 1 byte + 2 address bytes, 00 60 address 96, 02 data,
    // B9 checksum
    ASSERT_EQ(BuildWriteFrame(f, 1, 96, &two, 1), 10u);
    EXPECT_EQ(Hex(Bytes(f, f + 10)), "55 01 FE 0C 81 03 00 60 02 B9");
    // 55, 05, FA, 0C, 01 read, 06, 00 00 00 92 address 146, 00 05 count, 01 checksum
    ASSERT_EQ(BuildReadMemoryFrame(f, 5, 146, 5), 13u);
    EXPECT_EQ(Hex(Bytes(f, f + 13)), "55 05 FA 0C 01 06 00 00 00 92 00 05 01");
    // 55, 01, FE, 0C plain, 03 archive, 08, 00 01 80 00 offset 98304, 00 00 80 00 count 32768, 93
    ASSERT_EQ(BuildArchiveFrame(f, 1, kModePlain, 98304, 32768), 15u);
    EXPECT_EQ(Hex(Bytes(f, f + 15)), "55 01 FE 0C 03 08 00 01 80 00 00 00 80 00 93");
}

}  // namespace
}  // namespace vir05
