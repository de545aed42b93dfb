// Which archive blocks a reading asks for, and what a reading yields for the store.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/archive_view.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/records.h"
#include "poll/increment.h"
#include "poll/poller.h"
#include "sim/controller.h"
#include "sim/generator.h"

namespace vir05::poll {
namespace {

constexpr std::uint32_t kRing0 = arch::Periodic;  // 16384

std::array<std::uint8_t, kImageSize> Image(std::uint32_t archPos, int circuits = 2,
                                           std::int32_t serial = 500001) {
    std::array<std::uint8_t, kImageSize> image{};
    PutU32(image.data(), addr::ArchPos, archPos);
    image[addr::NumSystems] = static_cast<std::uint8_t>(circuits);
    PutI32(image.data(), addr::DevNumber, serial);
    // 2026-12-11 10:00:00
    image[addr::ClockSec] = 0x00;
    image[addr::ClockMin] = 0x00;
    image[addr::ClockHour] = 0x10;
    image[addr::ClockDay] = 0x11;
    image[addr::ClockMonth] = 0x12;
    image[addr::ClockYear] = 0x26;
    return image;
}

StoredState State(std::uint32_t archPos, int circuits = 2, std::int32_t serial = 500001) {
    StoredState s;
    s.serial = serial;
    s.numSystems = circuits;
    s.archPos = archPos;
    s.anchorKey = 1234;
    s.clock = "2026-12-11 09:00:00";
    return s;
}

std::vector<std::uint32_t> Starts(const ArchiveBlocks& b) {
    return std::vector<std::uint32_t>(b.start.begin(), b.start.begin() + b.count);
}

TEST(ChooseBlocks, WholeArchiveIsTheFourAlignedBlocksNewestFirst) {
    EXPECT_EQ(Starts(WholeArchiveBlocks(kRing0 + 100 * 32)),
              (std::vector<std::uint32_t>{0, 98304, 65536, 32768}));
    EXPECT_EQ(Starts(WholeArchiveBlocks(70000)),
              (std::vector<std::uint32_t>{65536, 32768, 0, 98304}));
}

struct Case {
    const char* what;
    std::uint32_t storedPos;
    std::uint32_t newPos;
    std::vector<std::uint32_t> blocks;  // empty: the whole archive
};

class Incremental : public ::testing::TestWithParam<Case> {};

TEST_P(Incremental, CoversTheEventLogAndEverySlotFromTheAnchorToTheNewPosition) {
    const Case& c = GetParam();
    const auto image = Image(c.newPos);
    const BlockChoice choice = ChooseBlocks(image.data(), State(c.storedPos));
    if (c.blocks.empty()) {
        EXPECT_TRUE(choice.whole);
        EXPECT_EQ(choice.blocks.count, 4);
        return;
    }
    EXPECT_FALSE(choice.whole) << choice.reason;
    EXPECT_EQ(Starts(choice.blocks), c.blocks);
    // Independently of the choice: every byte that must cross the line is in a block.
    for (std::uint32_t a = 0; a < kRing0; a += 16)
        ASSERT_TRUE(Covers(choice.blocks, a)) << a;
    std::uint32_t slot = c.storedPos - 32;
    if (slot < kRing0) slot += arch::PeriodicSize;
    while (slot != c.newPos) {
        ASSERT_TRUE(Covers(choice.blocks, slot) && Covers(choice.blocks, slot + 31)) << slot;
        slot += 32;
        if (slot >= kArchiveSize) slot = kRing0;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Incremental,
    ::testing::Values(
        Case{"nothing new, anchor in the first block", kRing0 + 320, kRing0 + 320, {0}},
        Case{"a few new records in the first block", kRing0 + 320, kRing0 + 3 * 32 + 320, {0}},
        Case{"a few new records further on", 70016, 70016 + 96, {0, 69984}},
        Case{"records that cross a block boundary", 65536 - 32, 65536 + 64, {0, 65472}},
        Case{"the ring wraps", 131072 - 64, kRing0 + 64, {0, 98304}},
        Case{"the anchor wraps back to the ring's end", kRing0, kRing0 + 96, {0, 98304}},
        Case{"new records near the ring's end", 120000 - 32 * 5, 120000, {0, 98304}},
        Case{"half the ring is new: three blocks", 40000, 40000 + 2000 * 32, {0, 39968, 72736}},
        Case{"most of the ring is new", kRing0 + 32, 131072 - 32, {}}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(ChooseBlocks, ReadsTheWholeArchiveWhenTheControllerIsNotTheOneStoredOrItsClockWentBack) {
    const std::uint32_t pos = kRing0 + 640;
    const auto image = Image(pos);
    struct Change {
        const char* what;
        std::optional<StoredState> state;
    };
    std::vector<Change> changes;
    changes.push_back({"no state", std::nullopt});
    changes.push_back({"another serial", State(pos, 2, 500002)});
    changes.push_back({"another circuit count", State(pos, 1)});
    StoredState later = State(pos);
    later.clock = "2026-12-11 10:00:01";
    changes.push_back({"the clock went back", later});
    changes.push_back({"stored position off the slots", State(pos + 16)});
    changes.push_back({"stored position outside the ring", State(100)});
    StoredState noAnchor = State(pos);
    noAnchor.anchorKey.reset();
    changes.push_back({"no anchor record", noAnchor});
    for (const Change& c : changes) {
        const BlockChoice choice = ChooseBlocks(image.data(), c.state);
        EXPECT_TRUE(choice.whole) << c.what;
        EXPECT_EQ(choice.blocks.count, 4) << c.what;
        EXPECT_FALSE(choice.reason.empty()) << c.what;
    }
    // The same controller a minute later: incremental.
    EXPECT_FALSE(ChooseBlocks(image.data(), State(pos)).whole);
    // A new write position off the slot grid is a jump too.
    const auto odd = Image(pos + 8);
    EXPECT_TRUE(ChooseBlocks(odd.data(), State(pos)).whole);
}

struct Generated {
    std::array<std::uint8_t, kImageSize> image{};
    std::vector<std::uint8_t> archive = std::vector<std::uint8_t>(kArchiveSize);
    explicit Generated(int circuits, int records = -1) {
        sim::GeneratorOptions o;
        o.circuits = circuits;
        o.archiveRecords = records;
        sim::GenerateContents(o, image.data(), archive.data());
    }
};

TEST(Decode, EveryValidRecordOfEveryCircuitOnceWithNoValueAsNothing) {
    for (int circuits : {1, 2}) {
        const Generated g(circuits);
        const auto rows = DecodeRecords(g.archive.data(), circuits,
                                        WholeArchiveBlocks(U32(g.image.data(), addr::ArchPos)));
        // Counted independently by the archive grid, which keeps the valid records only.
        auto grid = std::make_unique<ArchiveData>();
        grid->Fill(g.archive.data(), circuits, 0);
        const std::size_t valid = grid->Rows().size();
        EXPECT_GT(valid, 3000u);
        EXPECT_EQ(rows.size(), valid * static_cast<std::size_t>(circuits));
        std::set<std::pair<int, std::string>> keys;
        bool sawNoValue = false;
        for (const ArchiveRow& r : rows) {
            EXPECT_TRUE(keys.insert({r.circuit, r.time}).second) << r.time;
            ASSERT_EQ(r.time.size(), 19u);
            EXPECT_EQ(r.time[4], '-');
            EXPECT_EQ(r.time[10], ' ');
            sawNoValue = sawNoValue || !r.t2;
            if (r.t11) {
                EXPECT_GT(*r.t11, -100.0);
                EXPECT_LT(*r.t11, 205.0);
            }
        }
        EXPECT_TRUE(sawNoValue) << "the generator leaves a few lost sensors";
    }
}

TEST(Decode, OnlyTheBlocksReadAreDecoded) {
    const Generated g(2);
    ArchiveBlocks first;
    first.start[0] = 0;
    first.count = 1;
    const auto rows = DecodeRecords(g.archive.data(), 2, first);
    // Records of block 0 lie at 16384..32767: at most 512 slots of 32 bytes, two circuits each.
    EXPECT_LE(rows.size(), 1024u);
    EXPECT_GT(rows.size(), 900u);
    ArchiveBlocks none;
    EXPECT_TRUE(DecodeRecords(g.archive.data(), 2, none).empty());
    EXPECT_TRUE(DecodeEvents(g.archive.data(), none).empty());
    EXPECT_EQ(DecodeEvents(g.archive.data(), first).size(), 300u);  // the generator's events
}

TEST(Decode, EventsCarryCircuitAndName) {
    std::vector<std::uint8_t> archive(kArchiveSize, 0);
    const std::uint8_t slot0[16] = {0x05, 0x04, 0x03, 0x02, 0x01, 0x26, 0x81, 0, 7, 0, 5, 0};
    const std::uint8_t slot1[16] = {0x00, 0x00, 0x00, 0x02, 0x01, 0x26, 0xFF, 0, 0, 0, 0, 0};
    std::copy(slot0, slot0 + 16, archive.begin());
    std::copy(slot1, slot1 + 16, archive.begin() + 16);
    ArchiveBlocks first;
    first.count = 1;
    const auto events = DecodeEvents(archive.data(), first);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].time, "2026-01-02 03:04:05");
    EXPECT_EQ(events[0].param, 1);
    EXPECT_EQ(events[0].circuit, 2);
    EXPECT_EQ(events[0].newValue, 7);
    EXPECT_EQ(events[0].oldValue, 5);
    EXPECT_FALSE(events[0].name.empty());
    EXPECT_EQ(events[1].param, 255);
    EXPECT_EQ(events[1].circuit, 0);
}

// What a reading offers the store, as the poller makes it from what it read.
Reading Offered(const sim::Controller& c, const std::optional<StoredState>& state,
                BlockChoice* chosen = nullptr) {
    const auto image = c.Image();
    const auto archive = c.Archive();
    const BlockChoice choice = ChooseBlocks(image.data(), state);
    if (chosen) *chosen = choice;
    Reading r;
    FillArchive(r, image.data(), archive.data(), choice, state);
    return r;
}

std::set<std::string> Keys(const std::vector<ArchiveRow>& rows) {
    std::set<std::string> out;
    for (const ArchiveRow& r : rows)
        out.insert(std::to_string(r.circuit) + " " + r.time);
    return out;
}

TEST(FillArchive, AnIncrementalReadingOffersWhatWasWrittenSinceTheStoredStateOnly) {
    struct Case {
        const char* what;
        int circuits;
        int records;   // in the generated archive; -1 a full ring
        int append;    // new records
        bool nearEnd;  // the write position is moved near the ring's end before the first read
        bool newEvent;
        bool stateWithoutDigest;  // a state stored before the digest was kept
    };
    const Case cases[] = {
        {"three new records", 2, 500, 3, false, false, false},
        {"three new records in a full one-circuit ring", 1, -1, 3, false, false, false},
        {"new records across the ring's end", 2, 500, 5, true, false, false},
        {"nothing new", 2, 500, 0, false, false, false},
        {"a new event beside the old ones", 2, 500, 3, false, true, false},
        {"a state without the event log's digest", 1, 500, 3, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::GeneratorOptions o;
        o.circuits = c.circuits;
        o.archiveRecords = c.records;
        std::array<std::uint8_t, kImageSize> image{};
        std::vector<std::uint8_t> archive(kArchiveSize);
        sim::GenerateContents(o, image.data(), archive.data());
        sim::Controller controller;
        controller.Load(image.data(), archive.data());
        if (c.nearEnd) {
            const std::uint32_t pos = U32(image.data(), addr::ArchPos);
            const int toEnd = static_cast<int>((arch::Periodic + arch::PeriodicSize - pos) /
                                               ArchiveStride(c.circuits));
            if (toEnd > 2) controller.AppendRecords(toEnd - 2);
        }

        // The first reading is whole and offers everything.
        BlockChoice choice;
        const Reading first = Offered(controller, std::nullopt, &choice);
        ASSERT_TRUE(choice.whole);
        const auto before = DecodeRecords(controller.Archive().data(), c.circuits, choice.blocks);
        EXPECT_EQ(Keys(first.records), Keys(before));
        EXPECT_EQ(first.events.size(), 300u);
        ASSERT_TRUE(first.archiveState && first.archiveState->eventLog);
        std::optional<StoredState> stored = first.archiveState;
        if (c.stateWithoutDigest) stored->eventLog.reset();

        const std::uint32_t oldPos = stored->archPos;
        const int append = c.append;
        const std::uint32_t newPos = append > 0 ? controller.AppendRecords(append) : oldPos;
        if (c.nearEnd) {
            ASSERT_LT(newPos, oldPos) << "the ring did not go past its end";
        }
        if (c.newEvent) {
            // An event the controller logged since, in a free slot of its log.
            auto img = controller.Image();
            auto arc = controller.Archive();
            int free = 0;
            while (EventSlotHoldsEvent(arc.data() + free * arch::EventSlotSize))
                ++free;
            const std::uint8_t e[16] = {0x30, 0x15, 0x10, 0x11, 0x12, 0x26, 0x05, 0, 9, 0, 7, 0};
            std::copy(e, e + 16, arc.begin() + free * arch::EventSlotSize);
            controller.Load(img.data(), arc.data());
        }

        const Reading next = Offered(controller, stored, &choice);
        ASSERT_FALSE(choice.whole) << choice.reason;
        // The records new since the first reading, found independently: those of a whole
        // decode now that the first one did not have.
        std::set<std::string> fresh;
        const auto now = Keys(
            DecodeRecords(controller.Archive().data(), c.circuits, WholeArchiveBlocks(newPos)));
        const auto old = Keys(before);
        std::set_difference(now.begin(), now.end(), old.begin(), old.end(),
                            std::inserter(fresh, fresh.end()));
        EXPECT_EQ(fresh.size(), static_cast<std::size_t>(append * c.circuits));
        EXPECT_EQ(Keys(next.records), fresh);
        EXPECT_EQ(next.records.size(), fresh.size()) << "a record offered twice";
        // The event log: offered whole when it changed or its digest is not known, else not.
        const bool logOffered = c.newEvent || c.stateWithoutDigest;
        EXPECT_EQ(next.events.size(), logOffered ? (c.newEvent ? 301u : 300u) : 0u);
        ASSERT_TRUE(next.archiveState && next.archiveState->eventLog);
        EXPECT_EQ(*next.archiveState->eventLog == *first.archiveState->eventLog, !c.newEvent);
        EXPECT_EQ(next.archiveState->archPos, newPos);
    }
}

TEST(CurrentValues, TheTextOutputsFirstSectionKeysAndValues) {
    const Generated g(2);
    const auto values = CurrentValues(g.image.data());
    ASSERT_GT(values.size(), 10u);
    EXPECT_EQ(values[0].first, "Date");
    EXPECT_EQ(values[0].second, "10.12.26");
    std::map<std::string, std::string> byKey(values.begin(), values.end());
    EXPECT_EQ(byKey.at("DevNumber"), "500001");
    EXPECT_EQ(byKey.at("NumSystems"), "2");
    EXPECT_EQ(byKey.at("SoftVer"), "1.07");
    EXPECT_TRUE(byKey.count("S1T1"));
    EXPECT_TRUE(byKey.count("S2Type"));
    EXPECT_EQ(byKey.size(), values.size()) << "a key twice";
}

TEST(AnchorKey, IsTheRecordJustBeforeThePositionWrappingToTheRingsEnd) {
    std::vector<std::uint8_t> archive(kArchiveSize, 0xFF);
    PutU16(archive.data(), kArchiveSize - 32, 0x5000);      // time
    PutU16(archive.data(), kArchiveSize - 32 + 2, 0x3581);  // date
    EXPECT_EQ(AnchorKey(archive.data(), 2, kRing0), 0x35815000u);
    EXPECT_FALSE(AnchorKey(archive.data(), 2, kRing0 + 32));  // an erased slot
    EXPECT_FALSE(AnchorKey(archive.data(), 2, kRing0 + 8));   // off the grid
}

}  // namespace
}  // namespace vir05::poll

namespace vir05::poll {
namespace {

TEST(Schedule, DurationsAndTheBoundariesRoundsStartAt) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> seconds;
    };
    for (const Case& c : {Case{"30s", 30}, Case{"15m", 900}, Case{"1h", 3600}, Case{"2d", 172800},
                          Case{"90", 90}, Case{"0s", std::nullopt}, Case{"-1h", std::nullopt},
                          Case{"1x", std::nullopt}, Case{"h", std::nullopt}, Case{"", std::nullopt},
                          Case{"1.5h", std::nullopt}, Case{"400d", std::nullopt}})
        EXPECT_EQ(ParseDuration(c.text), c.seconds) << c.text;
    // Whole multiples of the interval since the epoch: an hourly round at the top of the hour.
    EXPECT_EQ(NextBoundary(7200, 3600), 7200);
    EXPECT_EQ(NextBoundary(7201, 3600), 10800);
    EXPECT_EQ(NextBoundary(1765450000, 3600), 1765450800);
    EXPECT_EQ(NextBoundary(59, 60), 60);
}

}  // namespace
}  // namespace vir05::poll
