// What a configuration write sends and what the engineer is told before it goes: only edited
// bytes leave the image, the preview names the spans the link really sends, and a value written
// once is not offered again as pending.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "core/present/present.h"
#include "core/present/write_plan.h"
#include "core/schedule.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "sim/generator.h"
#include "tests/core/protocol_fakes.h"
#include "tests/sim_controller.h"

namespace vir05 {
namespace {

using test::LinkRig;

class WritePlanTest : public ::testing::Test {
  protected:
    std::unique_ptr<MemoryAreas> areas = test::AreasAfterARead();
    std::uint8_t* img() { return areas->DeviceImage(); }
    std::uint8_t* shadow() { return areas->ConfigShadow(); }
};

struct ByteCase {
    const char* what;
    int address;
    bool editable;
};

TEST_F(WritePlanTest, OnlyBytesThePagesAndGraphsEditStayInTheImage) {
    const ByteCase cases[] = {
        {"T11 of circuit 1, written by the plant emulation", CircuitField(0, rec::T11), false},
        {"T11 of circuit 2", CircuitField(1, rec::T11) + 1, false},
        {"the emulation flag", addr::EmulationFlag, false},
        {"the service command byte", addr::ServiceCommand, false},
        {"the valve accumulator the controller keeps", CircuitField(0, rec::RegAccum), false},
        {"Tv of circuit 1", CircuitField(0, rec::Tv), true},
        {"Tv of circuit 2", CircuitField(1, rec::Tv), true},
        {"the serial number on the service page", addr::DevNumber + 3, true},
        {"the first value graph entry", ScheduleSlotAddr(0, 0, 0), true},
        {"the last value graph entry", ScheduleSlotAddr(1, 2, 31) + 3, true},
        {"the end of the GSM message", addr::GsmMessageEnd, true},
    };
    for (const ByteCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsEditableConfigByte(c.address), c.editable);
        std::memcpy(img(), shadow(), kImageSize);
        img()[c.address] ^= 0x5A;
        KeepOnlyEditableBytes(img(), shadow());
        EXPECT_EQ(img()[c.address] != shadow()[c.address], c.editable);
    }
    // Below the configuration area nothing is sent and nothing is touched.
    img()[addr::ClockSec] ^= 0x5A;
    KeepOnlyEditableBytes(img(), shadow());
    EXPECT_NE(img()[addr::ClockSec], shadow()[addr::ClockSec]);
}

// The spans the preview names are the frames the link sends, for scattered edits and for a
// full rewrite alike.
TEST_F(WritePlanTest, SpansAreWhatTheLinkSends) {
    std::mt19937 random(7);
    for (const bool rewrite : {false, true}) {
        SCOPED_TRACE(rewrite);
        LinkRig rig;
        std::memcpy(rig.shadow(), shadow(), kImageSize);
        std::memcpy(rig.image(), shadow(), kImageSize);
        for (int i = 0; i < 40; ++i)
            rig.image()[addr::ConfigStart + random() % addr::ConfigLength] ^= 0x11;
        const auto spans = ConfigWriteSpans(rig.image(), rig.shadow(), rewrite);
        rig.StartTcp(command::WriteConfig);
        rig.req().RewriteAll = rewrite ? 1 : 0;
        rig.engine->RunPass();
        const auto writes = rig.FramesWith(kOpWrite);
        ASSERT_EQ(writes.size(), spans.size());
        for (std::size_t k = 0; k < spans.size(); ++k) {
            EXPECT_EQ(static_cast<int>(test::FakeController::Be(writes[k], 6, 2)), spans[k].first);
            EXPECT_EQ(writes[k][5] - 2, spans[k].last - spans[k].first + 1);
        }
    }
}

TEST_F(WritePlanTest, AWrittenChangeIsNotOfferedAgain) {
    std::array<std::uint8_t, kImageSize> controller;
    std::memcpy(controller.data(), shadow(), kImageSize);
    img()[CircuitField(0, rec::Tv)] =
        static_cast<std::uint8_t>(shadow()[CircuitField(0, rec::Tv)] + 3);
    auto changes = DescribeConfigWrite(img(), shadow(), controller.data(), false);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].control, "Tv");
    EXPECT_EQ(changes[0].circuit, 1);

    const auto spans = ConfigWriteSpans(img(), shadow(), false);
    ApplyConfigWrite(controller.data(), img(), spans);
    // The shadow still holds the last reading, so the same bytes would go out again; they change
    // nothing in the controller any more, and nothing is listed.
    EXPECT_FALSE(ConfigWriteSpans(img(), shadow(), false).empty());
    EXPECT_TRUE(DescribeConfigWrite(img(), shadow(), controller.data(), false).empty());
    // A full rewrite of the same image changes nothing either.
    EXPECT_TRUE(DescribeConfigWrite(img(), shadow(), controller.data(), true).empty());
    // A later edit is listed alone.
    img()[CircuitField(0, rec::T_Klap)] ^= 0x01;
    changes = DescribeConfigWrite(img(), shadow(), controller.data(), false);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].control, "T_Klap");
}

TEST_F(WritePlanTest, AValueGraphEntryIsListedAsItsRow) {
    struct Case {
        int circuit, graph, slot;
        std::uint32_t before, after;
        const char* field;
        int shownCircuit;
        const char* oldText;
        const char* newText;
    };
    const Case cases[] = {
        {0, 0, 4, 0, MakeScheduleEntry(12, 15, 0x60, 4), "График 1, строка 5", 1, "—",
         "12:15 Сб. Вс. 4"},
        {1, 2, 31, MakeScheduleEntry(6, 30, 0x1F, 1), 0, "График 3, строка 32", 2,
         "06:30 Пн. Вт. Ср. Чт. Пт. 1", "—"},
        {1, 1, 0, MakeScheduleEntry(7, 0, 0x01, 0), MakeScheduleEntry(7, 5, 0x01, 1),
         "График 2, строка 1", 2, "07:00 Пн. 0", "07:05 Пн. 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        WriteScheduleEntry(shadow(), c.circuit, c.graph, c.slot, c.before);
        std::memcpy(img(), shadow(), kImageSize);
        WriteScheduleEntry(img(), c.circuit, c.graph, c.slot, c.after);
        const auto changes = DescribeConfigChanges(img(), shadow());
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].field, c.field);
        EXPECT_EQ(changes[0].circuit, c.shownCircuit);
        EXPECT_EQ(changes[0].oldText, c.oldText);
        EXPECT_EQ(changes[0].newText, c.newText);
    }
}

}  // namespace
}  // namespace vir05
