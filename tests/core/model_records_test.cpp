// The memory map and the decoding of event and archive slots.
#include <gtest/gtest.h>

#include <cstring>

#include "model/bytes.h"
#include "model/layout.h"
#include "model/memory.h"
#include "model/records.h"

namespace vir05 {
namespace {

TEST(ModelLayout, AreasLieBackToBackAndStartZeroed) {
    static MemoryAreas areas;
    EXPECT_EQ(areas.ConfigShadow(), areas.DeviceImage() + 1955);
    EXPECT_EQ(areas.ArchiveImage(), areas.DeviceImage() + 3910);
    EXPECT_EQ(areas.block.size(), 1955u + 1955u + 131072u);
    for (std::uint8_t b : areas.block)
        ASSERT_EQ(b, 0);
    EXPECT_EQ(areas.ReceiveArea.size(), 262144u);
}

TEST(ModelLayout, CircuitAndScheduleAddresses) {
    EXPECT_EQ(CircuitRecordAddr(0), 105);
    EXPECT_EQ(CircuitRecordAddr(1), 320);
    EXPECT_EQ(CircuitField(1, rec::Scheme), 320 + 82);
    EXPECT_EQ(ScheduleAddr(0, 0), 535);
    EXPECT_EQ(ScheduleAddr(1, 2), 535 + 384 + 256);
}

TEST(ModelBytes, LittleEndianAndBcd) {
    std::uint8_t b[8] = {0x34, 0x12, 0xFE, 0xFF, 0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(U16(b, 0), 0x1234);
    EXPECT_EQ(I16(b, 2), -2);
    EXPECT_EQ(U32(b, 0), 0xFFFE1234u);
    EXPECT_EQ(F32(b, 4), 1.0f);
    PutI32(b, 0, -500001);
    EXPECT_EQ(I32(b, 0), -500001);
    EXPECT_EQ(FromBcd(0x59), 59);
    EXPECT_EQ(ToBcd(7), 0x07);
    EXPECT_EQ(ToBcd(42), 0x42);
    EXPECT_TRUE(IsBcd(0x99));
    EXPECT_FALSE(IsBcd(0x9A));
    EXPECT_FALSE(IsBcd(0xA0));
}

// Six 12-bit temperatures packed two to three bytes.
TEST(ModelRecords, CircuitSamplePackedTemperatures) {
    struct Case {
        int first, second;
    } cases[] = {{215, -53}, {0x7FF, -2048}, {-2048, 0x7FF}, {0, -1}, {-1, 0}, {1000, -2000}};
    for (const Case& c : cases) {
        std::uint8_t s[12] = {};
        // T11 in the low 12 bits of the word at 0, T2 in the word at 1 shifted right by 4.
        s[0] = static_cast<std::uint8_t>(c.first & 0xFF);
        s[1] = static_cast<std::uint8_t>(((c.first >> 8) & 0x0F) | ((c.second & 0x0F) << 4));
        s[2] = static_cast<std::uint8_t>((c.second >> 4) & 0xFF);
        const CircuitSample d = DecodeSample(s);
        EXPECT_EQ(d.T11, c.first) << c.first;
        EXPECT_EQ(d.T2, c.second) << c.second;
    }
}

TEST(ModelRecords, SampleValveAndErrors) {
    // Real = 0x123 (29.1 C), Base = 0xFCE (-5.0 C), Klap 200 (unsigned), Errors 0x8001.
    const std::uint8_t s[12] = {0, 0, 0, 0, 0, 0, 0x23, 0xE1, 0xFC, 200, 0x01, 0x80};
    const CircuitSample d = DecodeSample(s);
    EXPECT_EQ(d.Real, 0x123);
    EXPECT_EQ(d.Base, -50);
    EXPECT_EQ(d.Klap, 200);
    EXPECT_EQ(static_cast<std::uint16_t>(d.Errors), 0x8001);
}

TEST(ModelRecords, ArchiveTimeFieldsAndValidity) {
    // 14:05:08 on 2009-03-01: time = 14<<11 | 5<<5 | 4, date = 9<<9 | 3<<5 | 1.
    const std::uint8_t r[4] = {0xA4, 0x70, 0x61, 0x12};
    const ArchiveTime t = DecodeArchiveTime(r);
    EXPECT_EQ(t.Hour(), 14);
    EXPECT_EQ(t.Minute(), 5);
    EXPECT_EQ(t.Second(), 8);
    EXPECT_EQ(t.Day(), 1);
    EXPECT_EQ(t.Month(), 3);
    EXPECT_EQ(t.Year(), 2009);
    EXPECT_TRUE(t.Valid());
    EXPECT_EQ(t.Key(), 0x126170A4u);

    struct Bad {
        std::uint16_t time, date;
    } bad[] = {
        {0xFFFF, 0xFFFF},                       // erased
        {0x0000, 0x0000},                       // zeroed: day 0
        {(24 << 11), (9 << 9) | (3 << 5) | 1},  // hour 24
        {(60 << 5), (9 << 9) | (3 << 5) | 1},   // minute 60
        {30, (9 << 9) | (3 << 5) | 1},          // seconds/2 = 30
        {0, (9 << 9) | (13 << 5) | 1},          // month 13
        {0, (9 << 9) | (0 << 5) | 1},           // month 0
    };
    for (const Bad& b : bad)
        EXPECT_FALSE((ArchiveTime{b.time, b.date}.Valid())) << b.time << " " << b.date;
}

TEST(ModelRecords, SortPutsRecordsInTimeOrderTiesBySlot) {
    static std::uint8_t archive[kArchiveSize];
    std::memset(archive, 0xFF, sizeof archive);
    auto put = [](int slot, std::uint32_t key) {
        PutU32(archive, arch::Periodic + 32 * slot, key);
    };
    put(0, 0x30000000);
    put(5, 0x10000000);
    put(7, 0x20000000);
    put(9, 0x10000000);
    static ArchiveOrder order;
    const std::size_t n = SortArchive(archive, 2, order);
    ASSERT_EQ(n, 3584u);
    EXPECT_EQ(order[0].offset, static_cast<std::uint32_t>(arch::Periodic + 32 * 5));
    EXPECT_EQ(order[1].offset, static_cast<std::uint32_t>(arch::Periodic + 32 * 9));
    EXPECT_EQ(order[2].offset, static_cast<std::uint32_t>(arch::Periodic + 32 * 7));
    EXPECT_EQ(order[3].offset, static_cast<std::uint32_t>(arch::Periodic + 32 * 0));
    EXPECT_EQ(order[n - 1].key, 0xFFFFFFFFu);  // erased slots sort last

    EXPECT_EQ(SortArchive(archive, 1, order), 7168u);
}

TEST(ModelRecords, EventSlotRuleAndDecoding) {
    // 12:34:56 on 07.11.25, code 0x85, new 300, old -20.
    const std::uint8_t slot[16] = {0x56, 0x34, 0x12, 0x07, 0x11, 0x25,
                                   0x85, 0,    0x2C, 0x01, 0xEC, 0xFF};
    EXPECT_TRUE(EventSlotHoldsEvent(slot));
    const EventRecord e = DecodeEvent(slot);
    EXPECT_EQ(e.code, 0x85);
    EXPECT_EQ(e.newValue, 300);
    EXPECT_EQ(e.oldValue, -20);
    EXPECT_TRUE(EventTimeIsPlausible(e));

    std::uint8_t erased[16];
    std::memset(erased, 0xFF, 16);
    EXPECT_FALSE(EventSlotHoldsEvent(erased));
    const std::uint8_t zeroed[16] = {};
    EXPECT_FALSE(EventSlotHoldsEvent(zeroed));

    // Passes the controller's rule but is not a real moment: day 32, month 13, hour 25, 30 Feb.
    const std::uint8_t damaged[][6] = {
        {0x00, 0x00, 0x10, 0x32, 0x01, 0x25}, {0x00, 0x00, 0x10, 0x01, 0x13, 0x25},
        {0x00, 0x00, 0x25, 0x01, 0x01, 0x25}, {0x00, 0x00, 0x10, 0x30, 0x02, 0x24},
        {0x00, 0x6A, 0x10, 0x01, 0x01, 0x25},
    };
    for (const auto& d : damaged) {
        std::uint8_t s[16] = {};
        std::memcpy(s, d, 6);
        EXPECT_FALSE(EventTimeIsPlausible(DecodeEvent(s)));
    }
    const std::uint8_t leap[16] = {0x00, 0x00, 0x10, 0x29, 0x02, 0x24};
    EXPECT_TRUE(EventTimeIsPlausible(DecodeEvent(leap)));
}

}  // namespace
}  // namespace vir05
