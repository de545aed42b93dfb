// The generator of controller contents: deterministic, realistic, in ring order.
#include <gtest/gtest.h>

#include <cstring>

#include "model/bytes.h"
#include "model/layout.h"
#include "model/records.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

struct Contents {
    std::uint8_t image[kImageSize];
    std::uint8_t archive[kArchiveSize];
};

TEST(SimGenerator, SameSeedSameBytesOtherSeedOtherBytes) {
    static Contents a, b, c;
    sim::GeneratorOptions o;
    o.seed = 7;
    sim::GenerateContents(o, a.image, a.archive);
    sim::GenerateContents(o, b.image, b.archive);
    o.seed = 8;
    sim::GenerateContents(o, c.image, c.archive);
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
    EXPECT_NE(0, std::memcmp(&a, &c, sizeof a));
}

TEST(SimGenerator, IdentityClockAndCircuits) {
    static Contents g;
    sim::GeneratorOptions o;
    o.serial = 500123;
    o.softVer = 106;
    sim::GenerateContents(o, g.image, g.archive);
    EXPECT_EQ(I32(g.image, addr::DevNumber), 500123);
    EXPECT_EQ(U16(g.image, addr::SoftVer), 106);
    EXPECT_EQ(g.image[addr::NumSystems], 2);
    EXPECT_EQ(g.image[addr::ClockYear], 0x26);
    EXPECT_EQ(g.image[addr::ClockMonth], 0x12);
    EXPECT_EQ(g.image[addr::ClockDay], 0x10);
    EXPECT_EQ(g.image[addr::ClockWeekday], 4);  // 10 December 2026 is a Thursday
    for (int c = 0; c < 2; ++c) {
        const int t11 = I16(g.image, CircuitField(c, rec::T11));
        EXPECT_GT(t11, 3000) << c;
        EXPECT_LT(t11, 10000) << c;
        EXPECT_NE(g.image[CircuitField(c, rec::Scheme)], 0) << c;
    }
    // The GSM message ends with a zero byte and 0x1A.
    const char* msg = reinterpret_cast<const char*>(g.image + addr::GsmMessage);
    const std::size_t len = std::strlen(msg);
    EXPECT_GT(len, 0u);
    EXPECT_EQ(g.image[addr::GsmMessage + len + 1], 0x1A);
}

TEST(SimGenerator, PeriodicArchiveEndsJustBeforeArchPos) {
    for (int circuits : {1, 2}) {
        static Contents g;
        sim::GeneratorOptions o;
        o.circuits = circuits;
        o.seed = 11;
        sim::GenerateContents(o, g.image, g.archive);
        const std::uint32_t pos = U32(g.image, addr::ArchPos);
        const int stride = ArchiveStride(circuits);
        ASSERT_GE(pos, static_cast<std::uint32_t>(arch::Periodic));
        ASSERT_LT(pos, kArchiveSize);
        ASSERT_EQ((pos - arch::Periodic) % stride, 0u);
        static ArchiveOrder order;
        const std::size_t n = SortArchive(g.archive, circuits, order);
        // The newest valid record sits in the slot just before the write position (ring order).
        std::size_t newest = n;
        int valid = 0, noValue = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const ArchiveTime t = DecodeArchiveTime(g.archive + order[k].offset);
            if (!t.Valid()) continue;
            ++valid;
            newest = k;
            const CircuitSample s = DecodeSample(g.archive + order[k].offset + 4);
            if (s.T2 <= kArchiveNoValue) ++noValue;
        }
        ASSERT_LT(newest, n);
        const std::uint32_t before = pos == static_cast<std::uint32_t>(arch::Periodic)
                                         ? static_cast<std::uint32_t>(kArchiveSize - stride)
                                         : pos - static_cast<std::uint32_t>(stride);
        EXPECT_EQ(order[newest].offset, before) << circuits;
        EXPECT_GT(valid, static_cast<int>(n) * 9 / 10) << circuits;
        EXPECT_LT(valid, static_cast<int>(n)) << circuits;  // a few damaged slots
        EXPECT_GT(noValue, 0) << circuits;
    }
}

TEST(SimGenerator, EventLogHoldsTheAskedNumberOfEvents) {
    static Contents g;
    sim::GeneratorOptions o;
    o.events = 250;
    sim::GenerateContents(o, g.image, g.archive);
    int events = 0;
    for (int s = 0; s < arch::EventSlots; ++s)
        events += EventSlotHoldsEvent(g.archive + 16 * s);
    EXPECT_EQ(events, 250);
}

}  // namespace
}  // namespace vir05
