// Leases against a real server: one holder per controller and slot, expiry and take-over, the
// heartbeat, lines held by one process even when two pollers share a host name.
#include "poll/lease_pg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "services.h"

namespace vir05::poll {
namespace {

using namespace std::chrono_literals;
using test::Query;
using test::ScratchDatabase;

std::unique_ptr<PgLeases> Open(const ScratchDatabase& db, const std::string& holder,
                               std::chrono::milliseconds lease = 60s) {
    auto l = std::make_unique<PgLeases>(db.Url(), holder, lease);
    std::string error;
    EXPECT_TRUE(l->Open(error)) << error;
    return l;
}

TEST(Leases, OneHolderPerControllerAndSlotUntilDoneOrExpired) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    auto a = Open(db, "a/1/x");
    auto b = Open(db, "b/2/y");
    EXPECT_TRUE(a->Take(1, "X", ""));
    EXPECT_FALSE(b->Take(1, "X", ""));
    EXPECT_TRUE(a->Take(1, "X", ""));  // its own lease again
    EXPECT_TRUE(b->Take(2, "X", ""));  // the next slot is another lease

    // A poller that died: its lease ran out, the other takes the controller.
    Query(db.Url(),
          "INSERT INTO lease(slot, controller, holder, expires) VALUES"
          " (1, 'Y', 'dead/9/z', now() - interval '1 second'),"
          " (1, 'Z', 'dead/9/z', now() + interval '1 hour')");
    EXPECT_TRUE(b->Take(1, "Y", ""));
    EXPECT_FALSE(b->Take(1, "Z", ""));  // still within its time
    // Done is final, whoever asks.
    Query(db.Url(), "UPDATE lease SET done = true WHERE controller = 'X' AND slot = 1");
    EXPECT_FALSE(a->Take(1, "X", ""));
    EXPECT_FALSE(b->Take(1, "X", ""));
}

TEST(Leases, ManyWorkersOfManyPollersTakeEachControllerOnce) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    std::vector<std::unique_ptr<PgLeases>> pollers;
    for (int p = 0; p < 3; ++p)
        pollers.push_back(Open(db, "p" + std::to_string(p) + "/1/x"));
    // Which pollers were told they hold each controller: never more than one.
    std::mutex mutex;
    std::map<std::string, std::set<int>> holders;
    std::vector<std::thread> workers;
    for (int w = 0; w < 12; ++w) {
        workers.emplace_back([&, w] {
            for (int c = 0; c < 60; ++c) {
                const std::string name = "C" + std::to_string((c + w * 7) % 60);
                if (pollers[w % 3]->Take(5, name, "")) {
                    std::lock_guard lock(mutex);
                    holders[name].insert(w % 3);
                }
            }
        });
    }
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(holders.size(), 60u);
    for (const auto& [name, who] : holders)
        EXPECT_EQ(who.size(), 1u) << name;
    EXPECT_EQ(Query(db.Url(), "SELECT count(DISTINCT holder) FROM lease WHERE slot = 5"),
              std::to_string(std::set<int>([&] {
                                 std::set<int> all;
                                 for (const auto& [n, who] : holders)
                                     all.insert(*who.begin());
                                 return all;
                             }())
                                 .size()));
}

TEST(Leases, TheHeartbeatKeepsALiveHoldersLeaseAndReleaseHandsItBack) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    auto a = Open(db, "a/1/x", 600ms);
    auto b = Open(db, "b/2/y", 600ms);
    ASSERT_TRUE(a->Take(3, "X", ""));
    const std::string first = Query(db.Url(), "SELECT expires FROM lease");
    // Wait for the heartbeat to push the expiry forward (however slowly the machine runs).
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Query(db.Url(), "SELECT expires > '" + first + "' FROM lease") != "t" &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Query(db.Url(), "SELECT expires > '" + first + "' FROM lease"), "t");
    // Live and renewed: the other poller cannot have it.
    Query(db.Url(), "UPDATE lease SET expires = now() + interval '1 hour'");
    EXPECT_FALSE(b->Take(3, "X", ""));
    a->ReleaseAll();
    EXPECT_EQ(Query(db.Url(), "SELECT holder FROM lease"), "NULL");
    EXPECT_TRUE(b->Take(3, "X", ""));
}

// Two processes started with one host name: the line is polled by the first only; the second
// says so once and takes the line over when the first is gone.
TEST(Leases, ALineIsPolledByOneProcessEvenWhenHostNamesClash) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    auto first = Open(db, "site1/100/aa");
    auto second = Open(db, "site1/200/bb");
    EXPECT_TRUE(first->Take(1, "on-bus-1", "bus1"));
    EXPECT_FALSE(second->Take(1, "on-bus-2", "bus1"));
    EXPECT_FALSE(second->Take(1, "on-bus-3", "bus1"));
    EXPECT_TRUE(second->Take(1, "tcp", ""));  // TCP controllers are not tied to a line
    auto warnings = second->TakeWarnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("site1/100/aa"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("bus1"), std::string::npos) << warnings[0];
    EXPECT_TRUE(second->TakeWarnings().empty());

    first.reset();  // a clean stop gives the line back
    EXPECT_TRUE(second->Take(1, "on-bus-2", "bus1"));
    // A first holder that died holds the line until its lease runs out.
    Query(db.Url(),
          "UPDATE line_lease SET holder = 'site1/300/cc', expires = now() - interval"
          " '1 second'");
    EXPECT_TRUE(second->Take(1, "on-bus-3", "bus1"));
}

// A controller declined because another poller has it is no failure; one that could not be
// taken because the database failed is, and the poller hears of it.
TEST(Leases, ADatabaseFailureIsNotADecline) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    auto a = Open(db, "a/1/x");
    auto b = Open(db, "b/2/y");
    ASSERT_TRUE(a->Take(1, "X", ""));
    EXPECT_FALSE(b->Take(1, "X", ""));
    EXPECT_EQ(b->TakeFailure(), "");
    Query(db.Url(), "ALTER TABLE lease RENAME TO lease_elsewhere");
    EXPECT_FALSE(b->Take(1, "Y", ""));
    const std::string failure = b->TakeFailure();
    EXPECT_NE(failure.find("cannot take a lease"), std::string::npos) << failure;
    EXPECT_EQ(b->TakeFailure(), "");  // reported once
}

TEST(Leases, WhatIsLeftOfASlot) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    auto me = Open(db, "me/1/x");
    ASSERT_TRUE(me->Take(4, "mine-unstored", ""));
    Query(db.Url(),
          "INSERT INTO lease(slot, controller, holder, expires, done) VALUES"
          " (4, 'done', 'o/2/y', NULL, true),"
          " (4, 'live', 'o/2/y', now() + interval '1 hour', false),"
          " (4, 'expired', 'o/2/y', now() - interval '1 second', false),"
          " (4, 'released', NULL, NULL, false),"
          " (3, 'other-slot', 'o/2/y', now() + interval '1 hour', false)");
    PgLeases::Remaining left;
    std::string error;
    ASSERT_TRUE(me->Left(
        4, {"done", "live", "expired", "released", "never-seen", "mine-unstored", "other-slot"},
        left, error))
        << error;
    std::sort(left.takeable.begin(), left.takeable.end());
    EXPECT_EQ(left.takeable, (std::vector<std::string>{"expired", "mine-unstored", "never-seen",
                                                       "other-slot", "released"}));
    EXPECT_EQ(left.heldByOthers, 1);
}

}  // namespace
}  // namespace vir05::poll
