// Faults on request: what each does to a reply, and which replies a rule hits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/protocol/frame.h"
#include "sim/faults.h"

namespace vir05 {
namespace {

using sim::FaultKind;

// A read reply of 4 data bytes: 170 | 01 | 0C | 01 | 0004 | 10 20 30 40 | checksum.
std::vector<std::uint8_t> SampleReply() {
    std::vector<std::uint8_t> r = {0xAA, 0x01, 0x0C, 0x01, 0x00, 0x04, 0x10, 0x20, 0x30, 0x40};
    r.push_back(FrameChecksum(r.data(), r.size()));
    return r;
}

TEST(SimFaults, EachKindDamagesTheReplyItsWay) {
    const auto good = SampleReply();
    struct Case {
        FaultKind kind;
        std::size_t length;  // bytes sent
        bool checksumValid;
        bool startsWith170;
        int pauseMs;
    } cases[] = {
        {FaultKind::None, 11, true, true, 0},
        {FaultKind::BadChecksum, 11, false, true, 0},
        {FaultKind::BadFirstByte, 11, false, false, 0},
        {FaultKind::Truncated, 5, false, true, 0},
        {FaultKind::Stall, 11, true, true, 2500},
        {FaultKind::Silence, 0, false, false, 0},
    };
    for (const Case& c : cases) {
        sim::FaultInjector faults;
        sim::FaultRule rule;
        rule.kind = c.kind;
        rule.stallMs = 2500;
        faults.Set(rule);
        const sim::Delivery d = faults.Plan(good);
        const char* name = sim::FaultKindName(c.kind);
        ASSERT_EQ(d.bytes.size(), c.length) << name;
        EXPECT_EQ(FrameValid(d.bytes.data(), d.bytes.size()), c.checksumValid) << name;
        EXPECT_EQ(!d.bytes.empty() && d.bytes[0] == 0xAA, c.startsWith170) << name;
        EXPECT_EQ(d.pauseMs, c.pauseMs) << name;
        if (c.kind == FaultKind::Stall) {
            EXPECT_EQ(d.bytes, good);
            EXPECT_GT(d.pauseAt, 0u);  // in the middle, not before or after the reply
            EXPECT_LT(d.pauseAt, good.size());
        }
        if (c.kind == FaultKind::Truncated) {
            EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), good.begin())) << name;
        }
        EXPECT_FALSE(d.flood) << name;
    }
    // A flood replaces the reply by bytes without end, which the line sends.
    sim::FaultInjector faults;
    faults.ApplyToNext(FaultKind::Flood, 1);
    const sim::Delivery flood = faults.Plan(good);
    EXPECT_TRUE(flood.flood);
    EXPECT_TRUE(flood.bytes.empty());
    EXPECT_FALSE(faults.Plan(good).flood);  // the next reply is clean
}

// Which of 12 replies a rule hits, as a string of 'x' (hit) and '.' (clean).
std::string Pattern(sim::FaultInjector& faults) {
    std::string s;
    for (int i = 0; i < 12; ++i)
        s += faults.Plan(SampleReply()).bytes.empty() ? 'x' : '.';
    return s;
}

TEST(SimFaults, RulesChooseTheRepliesTheySay) {
    sim::FaultInjector faults;
    EXPECT_EQ(Pattern(faults), "............");
    sim::FaultRule rule;
    rule.kind = FaultKind::Silence;
    rule.every = 3;
    faults.Set(rule);
    EXPECT_EQ(Pattern(faults), "..x..x..x..x");
    rule.limit = 2;  // every third, twice
    faults.Set(rule);
    EXPECT_EQ(Pattern(faults), "..x..x......");
    faults.ApplyToNext(FaultKind::Silence, 3);
    EXPECT_EQ(Pattern(faults), "xxx.........");
    faults.ApplyToNext(FaultKind::Silence, 1);
    faults.Clear();
    EXPECT_EQ(Pattern(faults), "............");
}

TEST(SimFaults, RandomRuleIsRepeatableBySeed) {
    auto run = [](std::uint32_t seed) {
        sim::FaultInjector faults;
        sim::FaultRule rule;
        rule.kind = FaultKind::Silence;
        rule.probability = 0.5;
        rule.seed = seed;
        faults.Set(rule);
        std::string s;
        for (int i = 0; i < 4; ++i)
            s += Pattern(faults);
        return s;
    };
    const std::string a = run(7);
    EXPECT_EQ(a, run(7));
    EXPECT_NE(a, run(8));
    const auto hits = std::count(a.begin(), a.end(), 'x');
    EXPECT_GT(hits, 8);  // of 48, about half
    EXPECT_LT(hits, 40);
}

TEST(SimFaults, RefusalCountsConnectionsNotReplies) {
    sim::FaultInjector faults;
    EXPECT_FALSE(faults.RefuseConnection());
    faults.ApplyToNext(FaultKind::Refuse, 2);
    EXPECT_FALSE(faults.RefusingAll());  // limited: connections are reset one by one
    EXPECT_EQ(Pattern(faults), "............");
    EXPECT_TRUE(faults.RefuseConnection());
    EXPECT_TRUE(faults.RefuseConnection());
    EXPECT_FALSE(faults.RefuseConnection());
    sim::FaultRule always;
    always.kind = FaultKind::Refuse;
    faults.Set(always);
    EXPECT_TRUE(faults.RefusingAll());
    // A modem fault lives beside a reply fault and is taken only at its own step.
    sim::FaultRule busy;
    busy.kind = FaultKind::ModemBusy;
    faults.Set(busy);
    EXPECT_TRUE(faults.RefusingAll());
    EXPECT_FALSE(faults.ModemFault(FaultKind::ModemNoDial));
    EXPECT_TRUE(faults.ModemFault(FaultKind::ModemBusy));
}

TEST(SimFaults, ParsesFaultTexts) {
    struct Good {
        const char* text;
        FaultKind kind;
        int every;
        double probability;
        std::uint32_t seed;
        int limit, stallMs;
    } good[] = {
        {"checksum", FaultKind::BadChecksum, 1, 0, 1, -1, 3000},
        {"header:every=4", FaultKind::BadFirstByte, 4, 0, 1, -1, 3000},
        {"stall:ms=2500:next=3", FaultKind::Stall, 1, 0, 1, 3, 2500},
        {"silence:random=0.25:seed=9", FaultKind::Silence, 1, 0.25, 9, -1, 3000},
        {"truncate:every=2:next=1", FaultKind::Truncated, 2, 0, 1, 1, 3000},
        {"refuse", FaultKind::Refuse, 1, 0, 1, -1, 3000},
        {"modem-nocarrier:next=1", FaultKind::ModemNoCarrier, 1, 0, 1, 1, 3000},
        {"modem-busy", FaultKind::ModemBusy, 1, 0, 1, -1, 3000},
        {"flood:every=2", FaultKind::Flood, 2, 0, 1, -1, 3000},
    };
    for (const Good& g : good) {
        std::string error;
        const auto r = sim::ParseFaultRule(g.text, error);
        ASSERT_TRUE(r.has_value()) << g.text << ": " << error;
        EXPECT_EQ(r->kind, g.kind) << g.text;
        EXPECT_EQ(r->every, g.every) << g.text;
        EXPECT_DOUBLE_EQ(r->probability, g.probability) << g.text;
        EXPECT_EQ(r->seed, g.seed) << g.text;
        EXPECT_EQ(r->limit, g.limit) << g.text;
        EXPECT_EQ(r->stallMs, g.stallMs) << g.text;
    }
    for (const char* bad :
         {"", "crc", "checksum:", "checksum:every=0", "checksum:every=x",
          "stall:ms=", "silence:random=0", "silence:random=1.5", "silence:random=0.5:every=2",
          "checksum:next=-1", "checksum:foo=1", "checksum:every=3x"}) {
        std::string error;
        EXPECT_FALSE(sim::ParseFaultRule(bad, error).has_value()) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace vir05
