// A fleet soak: 100 controllers over TCP and a bus, one in ten with seeded faults of every kind
// the lines show (a wrong checksum, a wrong first byte, a cut reply, a stall, a refused
// connection, silence). The round must end, every healthy controller must be read, every failure
// stored with its status and text and nothing partial, and the next round, faults gone, must
// complete what was missing.
//
// VIR05_POLL_SOAK_SEED repeats a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <random>

#include "poll_harness.h"

namespace vir05::poll::test {
namespace {

using FleetSoak = FleetFixture;

TEST_F(FleetSoak, FaultsOfEveryKindAreStoredAsFailuresAndTheNextRoundCompletes) {
    const char* seedText = std::getenv("VIR05_POLL_SOAK_SEED");
    const std::uint32_t seed = seedText
                                   ? static_cast<std::uint32_t>(std::strtoul(seedText, nullptr, 10))
                                   : std::random_device{}();
    SCOPED_TRACE("VIR05_POLL_SOAK_SEED=" + std::to_string(seed));
    sim::FleetOptions o;
    o.tcp = 90;
    o.bus = 10;
    o.seed = seed;
    o.archiveRecords = 100;
    StartFleet(o);
    auto& units = sim_->Units();

    // Every tenth controller is faulty, the kinds in turn; silent ones never answer.
    std::mt19937 rng(seed);
    const sim::FaultKind kinds[] = {sim::FaultKind::BadChecksum, sim::FaultKind::BadFirstByte,
                                    sim::FaultKind::Truncated,   sim::FaultKind::Stall,
                                    sim::FaultKind::Silence,     sim::FaultKind::Refuse};
    std::map<std::string, sim::FaultKind> faulty;
    int k = 0;
    for (std::size_t i = rng() % 10; i < units.size(); i += 10) {
        sim::FaultKind kind = kinds[k++ % 6];
        if (units[i].onBus && kind == sim::FaultKind::Refuse) kind = sim::FaultKind::Silence;
        sim::FaultRule rule;
        rule.kind = kind;
        rule.seed = static_cast<std::uint32_t>(rng());
        // Silence is for good; the others hit at random, so that some readings still succeed
        // after retries and some do not.
        rule.probability = kind == sim::FaultKind::Silence ? 0.0 : 0.5;
        rule.stallMs = 1500;  // longer than the reply wait: the attempt fails
        units[i].faults->Set(rule);
        faulty[units[i].name] = kind;
    }

    // The round runs under a watchdog that only catches a hang: the waits allow far less.
    auto round = std::async(std::launch::async, [this] { return RunRound(); });
    if (round.wait_for(std::chrono::minutes(10)) != std::future_status::ready) {
        poller_->Cancel();
        FAIL() << "the round did not end";
    }
    const Round first = round.get();
    ASSERT_EQ(first.results.size(), units.size());
    EXPECT_FALSE(first.stopped);
    EXPECT_TRUE(first.storeError.empty()) << first.storeError;
    EXPECT_EQ(first.ExitCode(), 1) << "the silent controllers fail";
    int failures = 0;
    for (auto& u : units) {
        const ControllerResult* r = Result(first, u.name);
        ASSERT_TRUE(r) << u.name;
        const bool isFaulty = faulty.count(u.name) > 0;
        if (!isFaulty) {
            EXPECT_TRUE(r->ok) << u.name << ": " << r->error;
        } else if (faulty[u.name] == sim::FaultKind::Silence) {
            EXPECT_FALSE(r->ok) << u.name;
        }
        const auto rows = Rows(Db(),
                               "SELECT ok, status, ifnull(error, '') FROM reading WHERE"
                               " controller='" +
                                   u.name + "'");
        ASSERT_EQ(rows.size(), 1u) << u.name;
        if (r->ok) {
            EXPECT_EQ(rows[0], "1|0|") << u.name;
            EXPECT_TRUE(SameRecords(StoredRecords(Db(), u.serial), ExpectedRecords(u))) << u.name;
            continue;
        }
        ++failures;
        EXPECT_NE(r->status, 0) << u.name;
        EXPECT_FALSE(r->error.empty()) << u.name;
        EXPECT_EQ(rows[0], "0|" + std::to_string(r->status) + "|" + r->error) << u.name;
        EXPECT_TRUE(StoredRecords(Db(), u.serial).empty()) << u.name << ": nothing partial";
    }
    EXPECT_GE(failures, 1);
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM reading WHERE ok=0 AND image IS NOT NULL"), "0");

    // The faults are gone and a few records are new: the next round reads everyone, and the
    // database holds exactly what a whole read of each controller gives.
    for (auto& u : units)
        u.faults->Clear();
    sim_->AppendRecords(2);
    const Round second = RunRound();
    EXPECT_EQ(second.ExitCode(), 0);
    for (auto& u : units) {
        const ControllerResult* r = Result(second, u.name);
        ASSERT_TRUE(r && r->ok) << u.name << ": " << (r ? r->error : "no result");
        EXPECT_TRUE(SameRecords(StoredRecords(Db(), u.serial), ExpectedRecords(u))) << u.name;
    }
}

}  // namespace
}  // namespace vir05::poll::test
