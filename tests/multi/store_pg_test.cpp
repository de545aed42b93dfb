// The PostgreSQL store against a real server: the schema, one transaction per reading, records
// and events stored once, and the lease fence that keeps a reading from being stored twice.
#include "poll/store_pg.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include "poll/lease_pg.h"
#include "services.h"

namespace vir05::poll {
namespace {

using test::Query;
using test::ScratchDatabase;

Reading GoodReading(const std::string& name, int records) {
    Reading r;
    r.controller = name;
    r.address = 3;
    r.started = "2026-12-11T10:00:00Z";
    r.finished = "2026-12-11T10:00:02Z";
    r.ok = true;
    r.archiveBlocks = 1;
    r.lineBytes = 4321;
    r.serial = 500001;
    r.softVer = 1.07;
    r.circuits = 2;
    r.image.assign(1955, 0);
    r.image[0] = 0x5a;
    r.image[1954] = 0x00;  // a zero byte inside: the image is stored as bytes, not as text
    r.currentValues = {{"DevNumber", "500001"}, {"S1T1", "21.5"}, {"Time", "10:00:00"}};
    for (int i = 0; i < records; ++i) {
        ArchiveRow a;
        a.circuit = 1 + i % 2;
        a.time = "2026-12-11 0" + std::to_string(i / 2 % 10) + ":00:00";
        a.t11 = 20.5 + i;
        a.t2 = std::nullopt;  // a no-value code
        a.klap = 40;
        a.errors = 0;
        r.records.push_back(a);
    }
    EventRow e;
    e.time = "2026-12-11 01:02:03";
    e.param = 5;
    e.circuit = 1;
    e.name = "Tk \"кв\"";  // quotes and Cyrillic survive the array literal
    e.newValue = 1;
    r.events.push_back(e);
    StoredState st;
    st.serial = 500001;
    st.numSystems = 2;
    st.archPos = 0x4020;
    st.anchorKey = 0x12345678;
    st.clock = "2026-12-11 10:00:00";
    st.eventLog = 0xF123456789ABCDEFull;  // the top bit set: kept as a signed 64-bit number
    r.archiveState = st;
    return r;
}

TEST(PgStore, CreatesTheSchemaOnceAndRefusesANewerOne) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    {
        PgStore a(db.Url()), b(db.Url());
        std::string error;
        ASSERT_TRUE(a.Open(error)) << error;
        ASSERT_TRUE(b.Open(error)) << error;  // a second poller finds the schema in place
    }
    EXPECT_EQ(Query(db.Url(), "SELECT count(*) FROM schema_version"), "1");
    EXPECT_EQ(Query(db.Url(), "SELECT max(version) FROM schema_version"),
              std::to_string(kPgSchemaVersion));
    Query(db.Url(), "INSERT INTO schema_version VALUES (99)");
    PgStore c(db.Url());
    std::string error;
    EXPECT_FALSE(c.Open(error));
    EXPECT_NE(error.find("99"), std::string::npos) << error;
}

TEST(PgStore, RefusesAnotherProgramsTablesAndAnUnreachableServer) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    Query(db.Url(), "CREATE TABLE reading(x INTEGER)");
    std::string error;
    PgStore foreign(db.Url());
    EXPECT_FALSE(foreign.Open(error));
    EXPECT_NE(error.find("another program"), std::string::npos) << error;

    PgStore nowhere("postgresql://vir05@127.0.0.1:1/none?connect_timeout=5");
    EXPECT_FALSE(nowhere.Open(error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

TEST(PgStore, StoresAReadingWholeAndRecordsAndEventsOnce) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    PgStore store(db.Url());
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;

    const Reading r = GoodReading("ЦТП-12", 12);
    SaveCounts first, second;
    ASSERT_TRUE(store.SaveReading(r, first, error)) << error;
    EXPECT_EQ(first.recordsNew, 12);
    EXPECT_EQ(first.eventsNew, 1);
    ASSERT_TRUE(store.SaveReading(r, second, error)) << error;
    EXPECT_EQ(second.recordsNew, 0);
    EXPECT_EQ(second.eventsNew, 0);
    EXPECT_NE(first.readingId, second.readingId);

    const std::string u = db.Url();
    EXPECT_EQ(Query(u, "SELECT count(*) FROM reading WHERE ok = 1"), "2");
    EXPECT_EQ(Query(u, "SELECT count(*) FROM archive_record"), "12");
    EXPECT_EQ(Query(u, "SELECT count(*) FROM event"), "1");
    EXPECT_EQ(Query(u, "SELECT name FROM event"), "Tk \"кв\"");
    EXPECT_EQ(Query(u, "SELECT count(*) FROM archive_record WHERE t2 IS NULL"), "12");
    EXPECT_EQ(Query(u, "SELECT t11 FROM archive_record WHERE circuit = 2 ORDER BY time LIMIT 1"),
              "21.5");
    EXPECT_EQ(Query(u, "SELECT length(image) FROM reading LIMIT 1"), "1955");
    EXPECT_EQ(Query(u, "SELECT get_byte(image, 0) FROM reading LIMIT 1"), "90");
    EXPECT_EQ(Query(u, "SELECT value FROM current_value WHERE key = 'S1T1' LIMIT 1"), "21.5");
    EXPECT_EQ(Query(u, "SELECT records_new FROM reading ORDER BY id LIMIT 1"), "12");
    EXPECT_EQ(Query(u, "SELECT last_ok FROM controller"), "2026-12-11T10:00:02Z");

    std::optional<StoredState> state;
    ASSERT_TRUE(store.State("ЦТП-12", state, error)) << error;
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->serial, 500001);
    EXPECT_EQ(state->numSystems, 2);
    EXPECT_EQ(state->archPos, 0x4020u);
    EXPECT_EQ(state->anchorKey, std::optional<std::uint32_t>(0x12345678));
    EXPECT_EQ(state->clock, "2026-12-11 10:00:00");
    EXPECT_EQ(state->eventLog, 0xF123456789ABCDEFull);
    ASSERT_TRUE(store.State("unknown", state, error)) << error;
    EXPECT_FALSE(state.has_value());
}

TEST(PgStore, AVersion1DatabaseIsUpgradedInPlaceAndKeepsWhatItHolds) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    std::string error;
    SaveCounts counts;
    {
        PgStore store(db.Url());
        ASSERT_TRUE(store.Open(error)) << error;
        ASSERT_TRUE(store.SaveReading(GoodReading("A", 4), counts, error)) << error;
    }
    // What a poller of version 1 left: no digest of the event log.
    Query(db.Url(), "ALTER TABLE controller DROP COLUMN arch_events");
    Query(db.Url(), "UPDATE schema_version SET version = 1");
    PgStore store(db.Url());
    ASSERT_TRUE(store.Open(error)) << error;
    EXPECT_EQ(Query(db.Url(), "SELECT string_agg(version::text, ',') FROM schema_version"),
              std::to_string(kPgSchemaVersion));
    std::optional<StoredState> state;
    ASSERT_TRUE(store.State("A", state, error)) << error;
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->archPos, 0x4020u);
    EXPECT_FALSE(state->eventLog) << "not known: the next reading offers the whole event log";
    EXPECT_EQ(Query(db.Url(), "SELECT count(*) FROM archive_record"), "4");
    ASSERT_TRUE(store.SaveReading(GoodReading("A", 6), counts, error)) << error;
    EXPECT_EQ(counts.recordsNew, 2);
    EXPECT_EQ(counts.eventsNew, 0);
    PgStore again(db.Url());  // a fresh start reads the digest back
    ASSERT_TRUE(again.Open(error)) << error;
    ASSERT_TRUE(again.State("A", state, error)) << error;
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->eventLog, 0xF123456789ABCDEFull);
}

TEST(PgStore, AFailedReadingStoresItsRowOnlyAndKeepsTheArchiveState) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    PgStore store(db.Url());
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    SaveCounts counts;
    ASSERT_TRUE(store.SaveReading(GoodReading("A", 4), counts, error)) << error;

    Reading failed;
    failed.controller = "A";
    failed.address = 3;
    failed.started = failed.finished = "2026-12-11T11:00:00Z";
    failed.status = 1;
    failed.error = "Нет ответа";
    ASSERT_TRUE(store.SaveFailure(failed, error)) << error;
    const std::string u = db.Url();
    EXPECT_EQ(Query(u, "SELECT count(*) FROM reading"), "2");
    EXPECT_EQ(Query(u, "SELECT status || ' ' || error FROM reading WHERE ok = 0"), "1 Нет ответа");
    EXPECT_EQ(Query(u, "SELECT image IS NULL FROM reading WHERE ok = 0"), "t");
    EXPECT_EQ(Query(u, "SELECT count(*) FROM current_value"), "3");  // the good reading's only
    EXPECT_EQ(Query(u, "SELECT last_error FROM controller"), "Нет ответа");
    std::optional<StoredState> state;
    ASSERT_TRUE(store.State("A", state, error)) << error;
    EXPECT_TRUE(state.has_value());
}

// Each round reads the states afresh: what another poller stored since is what the next
// incremental read starts from.
TEST(PgStore, ANewRoundSeesTheStatesOtherPollersStored) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    PgStore mine(db.Url()), other(db.Url());
    std::string error;
    ASSERT_TRUE(mine.Open(error)) << error;
    ASSERT_TRUE(other.Open(error)) << error;
    SaveCounts counts;
    ASSERT_TRUE(mine.SaveReading(GoodReading("A", 2), counts, error)) << error;
    std::optional<StoredState> state;
    ASSERT_TRUE(mine.State("A", state, error)) << error;
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->archPos, 0x4020u);

    Reading newer = GoodReading("A", 2);
    newer.archiveState->archPos = 0x4040;
    ASSERT_TRUE(other.SaveReading(newer, counts, error)) << error;
    mine.SetFence(2, "me/1/a");  // the next round
    ASSERT_TRUE(mine.State("A", state, error)) << error;
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->archPos, 0x4040u);
    // Its own reading updates what it knows at once.
    mine.ClearFence();
    Reading own = GoodReading("A", 2);
    own.archiveState->archPos = 0x4060;
    ASSERT_TRUE(mine.SaveReading(own, counts, error)) << error;
    ASSERT_TRUE(mine.State("A", state, error)) << error;
    EXPECT_EQ(state->archPos, 0x4060u);
}

// A reading whose statement fails half way leaves nothing behind: no reading row, no values.
TEST(PgStore, AReadingThatCannotBeStoredWholeLeavesNothing) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    PgStore store(db.Url());
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    Query(db.Url(), "ALTER TABLE event ADD CONSTRAINT no_param_7 CHECK (param <> 7)");
    Reading r = GoodReading("A", 6);
    r.events[0].param = 7;
    SaveCounts counts;
    EXPECT_FALSE(store.SaveReading(r, counts, error));
    EXPECT_NE(error.find("no_param_7"), std::string::npos) << error;  // the server's reason
    for (const char* table : {"reading", "current_value", "archive_record", "event", "controller"})
        EXPECT_EQ(Query(db.Url(), std::string("SELECT count(*) FROM ") + table), "0") << table;
}

// With a fence the reading is stored only under the poller's own lease, which it marks done in
// the same transaction; a lease another poller took over stores nothing.
TEST(PgStore, TheFenceStoresUnderTheOwnLeaseOnly) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ScratchDatabase db;
    PgStore store(db.Url());
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    PgLeases mine(db.Url(), "me/1/a", std::chrono::seconds(60));
    PgLeases other(db.Url(), "other/2/b", std::chrono::seconds(60));
    ASSERT_TRUE(mine.Open(error)) << error;
    ASSERT_TRUE(other.Open(error)) << error;
    store.SetFence(7, mine.Holder());

    struct Case {
        const char* controller;
        const char* holder;  // who holds the lease of slot 7 before the store; "" nobody
        bool ok;             // SaveReading or SaveFailure
        int status;
        bool stored;
        const char* doneAfter;    // lease.done afterwards
        const char* holderAfter;  // lease.holder afterwards
    };
    const Case cases[] = {
        {"held", "me/1/a", true, 0, true, "t", "me/1/a"},
        {"failed", "me/1/a", false, 1, true, "t", "me/1/a"},
        {"cancelled", "me/1/a", false, -1, true, "f", "NULL"},
        {"taken-over", "other/2/b", true, 0, false, "f", "other/2/b"},
        {"never-taken", "", true, 0, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.controller);
        if (std::string(c.holder) == "me/1/a") {
            ASSERT_TRUE(mine.Take(7, c.controller, ""));
        }
        if (std::string(c.holder) == "other/2/b") {
            ASSERT_TRUE(other.Take(7, c.controller, ""));
        }
        // Whatever the reading holds goes in with it or not at all.
        const std::string counting =
            "SELECT (SELECT count(*) FROM reading) || ' ' || (SELECT count(*) FROM current_value)"
            " || ' ' || (SELECT count(*) FROM controller WHERE name = '" +
            std::string(c.controller) + "')";
        const std::string before = Query(db.Url(), counting);
        bool saved;
        if (c.ok) {
            SaveCounts counts;
            saved = store.SaveReading(GoodReading(c.controller, 2), counts, error);
        } else {
            Reading f;
            f.controller = c.controller;
            f.started = f.finished = "2026-12-11T11:00:00Z";
            f.status = c.status;
            saved = store.SaveFailure(f, error);
        }
        EXPECT_EQ(saved, c.stored) << error;
        if (!c.stored) {
            EXPECT_NE(error.find("not stored"), std::string::npos) << error;
        }
        const std::string after = Query(db.Url(), counting);
        if (c.stored) {
            EXPECT_NE(after, before);
            EXPECT_EQ(std::stoi(after), std::stoi(before) + 1) << "one reading row";
        } else {
            EXPECT_EQ(after, before) << "nothing of a reading without its lease";
        }
        const std::string where =
            std::string(" FROM lease WHERE slot = 7 AND controller = '") + c.controller + "'";
        EXPECT_EQ(Query(db.Url(), "SELECT done" + where), c.doneAfter);
        EXPECT_EQ(Query(db.Url(), "SELECT holder" + where), c.holderAfter);
    }
    // The reading row of a done lease is the one the lease points at.
    EXPECT_EQ(Query(db.Url(),
                    "SELECT r.controller FROM lease l JOIN reading r ON r.id = l.reading"
                    " WHERE l.controller = 'held'"),
              "held");
}

}  // namespace
}  // namespace vir05::poll
