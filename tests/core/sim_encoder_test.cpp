// The compressed archive encoder against the tool's decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/protocol/unpack.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "sim/encoder.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

constexpr std::uint8_t kSentinel = 0xC7;

// Feeds the whole stream to UnpackByte and returns every byte it produced, overrun included.
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream, std::size_t room) {
    std::vector<std::uint8_t> out(room + kUnpackMaxOutput * stream.size() + 8, kSentinel);
    UnpackState state;
    std::size_t pos = 0;
    for (std::uint8_t b : stream)
        UnpackByte(state, b, pos, out.data());
    out.resize(pos);
    return out;
}

void ExpectRoundTrip(const std::vector<std::uint8_t>& data, const char* what) {
    const std::vector<std::uint8_t> coded = sim::EncodeArchiveBlock(data.data(), data.size());
    // Exactly the block: an extra byte would be taken by the tool for the checksum byte.
    EXPECT_EQ(Decode(coded, data.size()), data) << what << ", " << data.size() << " bytes";
}

TEST(SimEncoder, FirstBytesPlainThenRepeatBitsAndLiterals) {
    std::vector<std::uint8_t> data(32);
    for (int i = 0; i < 32; ++i)
        data[i] = static_cast<std::uint8_t>(i);
    // 32 bytes equal to those 32 back: 32 zero bits.
    data.insert(data.end(), data.begin(), data.end());
    // One literal A5: bit 1, then 1 0 1 0 0 1 0 1 (lowest first), then the padding flag 1.
    data.push_back(0xA5);
    std::vector<std::uint8_t> expected(data.begin(), data.begin() + 32);
    for (std::uint8_t b : {0x00, 0x00, 0x00, 0x00,  // 32 repeats
                           0x4B,                    // 1 | 1 0 1 0 0 1 0  (flag, A5 bits 0-6)
                           0x03})                   // 1 (A5 bit 7), 1 (padding flag)
        expected.push_back(b);
    EXPECT_EQ(sim::EncodeArchiveBlock(data.data(), data.size()), expected);
}

TEST(SimEncoder, RandomBlocksOfEverySizeRoundTrip) {
    std::mt19937 rng(5);
    for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 34u, 40u, 41u, 100u, 1000u, 32768u}) {
        // Random bytes with runs of repeats of the byte 32 back, so both symbols occur.
        std::vector<std::uint8_t> data(n);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = i >= 32 && rng() % 3 == 0 ? data[i - 32] : static_cast<std::uint8_t>(rng());
        ExpectRoundTrip(data, "random");
    }
}

TEST(SimEncoder, GeneratedArchiveBlocksRoundTripAndShrink) {
    static std::uint8_t image[kImageSize], archive[kArchiveSize];
    for (int circuits : {1, 2}) {
        sim::GeneratorOptions o;
        o.circuits = circuits;
        o.seed = 3;
        sim::GenerateContents(o, image, archive);
        for (std::size_t start = 0; start < kArchiveSize; start += 32768) {
            const std::vector<std::uint8_t> block(archive + start, archive + start + 32768);
            ExpectRoundTrip(block, circuits == 1 ? "one circuit" : "two circuits");
            // Records repeat their time and much of their samples: the 32-back repeats pay.
            EXPECT_LT(sim::EncodeArchiveBlock(block.data(), block.size()).size(), 32768u * 3 / 4)
                << circuits << " circuits, block at " << start;
        }
    }
}

// The decoder finishes every input byte: zero padding bits in the last byte would come out as
// repeats past the end of the block. The encoder's padding yields nothing.
TEST(SimEncoder, PaddingOfTheLastByteYieldsNoExtraBytes) {
    std::vector<std::uint8_t> data(35, 0x11);
    data[33] = 0x22;  // 32 plain, then: repeat (0), literal (1 + 8), repeat (0): 11 bits
    std::vector<std::uint8_t> coded = sim::EncodeArchiveBlock(data.data(), data.size());
    ASSERT_EQ(coded.size(), 32u + 2u);
    EXPECT_EQ(Decode(coded, data.size()), data);
    EXPECT_EQ(coded.back(), 0x08);  // 0x22 bits 6 and 7 (0 0), the repeat (0), the padding flag
    // The same stream with zero padding overruns by the 5 padding bits.
    coded.back() = static_cast<std::uint8_t>(coded.back() & 0x07);
    EXPECT_EQ(Decode(coded, data.size()).size(), data.size() + 5);
}

}  // namespace
}  // namespace vir05
