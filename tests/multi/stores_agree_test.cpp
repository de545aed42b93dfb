// The two stores hold the same: one simulated fleet polled into SQLite and into PostgreSQL round
// after round (whole archives, new records and a new event read by restarted pollers, nothing
// new), each record and event once in both.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <set>

#include "../poll/poll_harness.h"
#include "poll/store_pg.h"
#include "services.h"

namespace vir05::poll::test {
namespace {

// Rows as "a|b|c" with the given columns read as numbers and written with one decimal (the two
// databases write reals differently), sorted.
std::vector<std::string> Normalised(const std::vector<std::string>& rows,
                                    const std::set<std::size_t>& reals) {
    std::vector<std::string> out;
    for (const std::string& row : rows) {
        std::string text;
        std::size_t at = 0, column = 0;
        for (;;) {
            const std::size_t bar = row.find('|', at);
            std::string cell = row.substr(at, bar == std::string::npos ? bar : bar - at);
            if (reals.count(column) && cell != "NULL") {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.1f", std::stod(cell));
                cell = buf;
            }
            text += (column ? "|" : "") + cell;
            if (bar == std::string::npos) break;
            at = bar + 1;
            ++column;
        }
        out.push_back(text);
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct Contents {
    std::vector<std::string> records, events, readings;
};

template <typename Query>
Contents Read(Query rows) {
    Contents c;
    c.records = Normalised(rows("SELECT serial, circuit, time, t11, t2, tk, tn, real, base, klap,"
                                " errors FROM archive_record"),
                           {3, 4, 5, 6, 7, 8});
    c.events = Normalised(
        rows("SELECT serial, time, param, circuit, name, new_value, old_value FROM event"), {});
    c.readings =
        Normalised(rows("SELECT controller, ok, serial, records_new, events_new FROM reading"), {});
    return c;
}

TEST(Stores, SqliteAndPostgresqlHoldTheSameRoundAfterRound) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    // The workers' Qt sockets in their usual environment.
    static int argc = 1;
    static char name[] = "multi_tests";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
    sim::FleetOptions o;
    o.tcp = 3;
    o.archiveRecords = 300;
    sim::SimFleet sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    TempDir dir;
    ScratchDatabase pg;
    std::ofstream(dir / "fleet.toml") << sim.FleetToml("database = \"fleet.sqlite\"\n");
    const auto fleet = LoadFleet(dir / "fleet.toml", error);
    ASSERT_TRUE(fleet) << error;

    const auto lines = [] {
        WorkerLines l;
        l.serial = std::make_unique<QtSerialLine>("", TestTiming());
        l.tcp = std::make_unique<QtTcpLine>(TestTiming());
        return l;
    };
    // Each round with stores opened afresh, as a poller started anew for it.
    const auto round = [&](Store& store) {
        std::string e;
        if (!store.Open(e)) return ADD_FAILURE() << e, false;
        PollOptions options;
        options.timing = TestTiming();
        Poller poller(*fleet, store, options, lines);
        const Round r = poller.RunRound();
        EXPECT_EQ(r.ExitCode(), 0) << r.storeError;
        return r.ExitCode() == 0;
    };
    for (const char* change : {"whole archives", "new records and an event", "nothing new"}) {
        SCOPED_TRACE(change);
        if (std::string(change) == "new records and an event") {
            sim.AppendRecords(3);
            LogNewEvent(*sim.Units()[1].controller);
        }
        SqliteStore sqlite(fleet->database);
        PgStore postgres(pg.Url());
        ASSERT_TRUE(round(sqlite));
        ASSERT_TRUE(round(postgres));
        const Contents a = Read([&](const std::string& sql) { return Rows(fleet->database, sql); });
        const Contents b = Read([&](const std::string& sql) { return PgRows(pg.Url(), sql); });
        EXPECT_EQ(a.records, b.records);
        EXPECT_EQ(a.events, b.events);
        EXPECT_EQ(a.readings, b.readings);
        // And both hold what the controllers hold, each record and event once.
        std::size_t records = 0, events = 0;
        for (auto& u : sim.Units()) {
            EXPECT_TRUE(SameRecords(StoredRecords(fleet->database, u.serial), ExpectedRecords(u)))
                << u.name;
            records += ExpectedRecords(u).size();
            events += ExpectedEvents(u);
        }
        EXPECT_EQ(b.records.size(), records);
        EXPECT_EQ(b.events.size(), events);
    }
    sim.Stop();
}

}  // namespace
}  // namespace vir05::poll::test
