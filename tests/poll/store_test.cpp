// The SQLite store: its schema, one transaction per reading, each record and event stored once,
// a failed reading stored as its row only, and a store that cannot be used refused at open.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "poll/store_sqlite.h"

namespace vir05::poll {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vir05poll-store-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Reads one number or text from the database with its own connection.
std::string Query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    std::string out = "<error>";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        out = "<none>";
        if (sqlite3_step(s) == SQLITE_ROW)
            out = sqlite3_column_type(s, 0) == SQLITE_NULL
                      ? "NULL"
                      : reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
}

Reading Good(const std::string& name, int firstRecord, int records) {
    Reading r;
    r.controller = name;
    r.address = 3;
    r.started = "2026-12-11T10:00:00Z";
    r.finished = "2026-12-11T10:00:02Z";
    r.ok = true;
    r.archiveBlocks = 4;
    r.lineBytes = 131100;
    r.serial = 500001;
    r.softVer = 1.07;
    r.circuits = 1;
    r.image.assign(1955, 0x5A);
    r.currentValues = {{"Date", "11.12.26"}, {"DevNumber", "500001"}};
    for (int i = firstRecord; i < firstRecord + records; ++i) {
        ArchiveRow a;
        a.circuit = 1;
        char t[32];
        std::snprintf(t, sizeof t, "2026-12-%02d %02d:00:00", 1 + i / 24, i % 24);
        a.time = t;
        a.t11 = 70.5;
        a.t2 = std::nullopt;
        a.klap = 40;
        r.records.push_back(a);
    }
    EventRow e;
    e.time = "2026-12-01 01:02:03";
    e.param = 4;
    e.circuit = 1;
    e.name = "T";
    e.newValue = 2;
    e.oldValue = 1;
    r.events = {e, e};  // read twice in one reading
    StoredState st;
    st.serial = 500001;
    st.numSystems = 1;
    st.archPos = 20000;
    st.anchorKey = 77;
    st.clock = "2026-12-11 10:00:01";
    st.eventLog = 0xF123456789ABCDEFull;  // the top bit set: kept as a signed 64-bit number
    r.archiveState = st;
    return r;
}

TEST(SqliteStore, CreatesTheSchemaInWalModeWithItsVersion) {
    TempDir dir;
    SqliteStore store(dir / "a.sqlite");
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    EXPECT_EQ(Query(dir / "a.sqlite", "PRAGMA user_version"), std::to_string(kSqliteSchemaVersion));
    EXPECT_EQ(Query(dir / "a.sqlite", "PRAGMA journal_mode"), "wal");
    for (const char* table : {"controller", "reading", "current_value", "archive_record", "event"})
        EXPECT_EQ(
            Query(dir / "a.sqlite",
                  std::string("SELECT count(*) FROM sqlite_master WHERE name='") + table + "'"),
            "1")
            << table;
    // A second open of the same file keeps it.
    SqliteStore again(dir / "a.sqlite");
    EXPECT_TRUE(again.Open(error)) << error;
}

TEST(SqliteStore, ARecordOrEventReadTwiceIsStoredOnce) {
    TempDir dir;
    SqliteStore store(dir / "a.sqlite");
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    SaveCounts first, second;
    ASSERT_TRUE(store.SaveReading(Good("ЦТП-1", 0, 10), first, error)) << error;
    EXPECT_EQ(first.recordsNew, 10);
    EXPECT_EQ(first.eventsNew, 1);
    // The next reading overlaps: records 5..14.
    ASSERT_TRUE(store.SaveReading(Good("ЦТП-1", 5, 10), second, error)) << error;
    EXPECT_EQ(second.recordsNew, 5);
    EXPECT_EQ(second.eventsNew, 0);
    const std::string db = dir / "a.sqlite";
    EXPECT_EQ(Query(db, "SELECT count(*) FROM archive_record"), "15");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM event"), "1");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM reading WHERE ok=1"), "2");
    EXPECT_EQ(Query(db, "SELECT t2 FROM archive_record LIMIT 1"), "NULL");
    EXPECT_EQ(Query(db, "SELECT t11 FROM archive_record LIMIT 1"), "70.5");
    EXPECT_EQ(Query(db, "SELECT length(image) FROM reading LIMIT 1"), "1955");
    EXPECT_EQ(Query(db, "SELECT value FROM current_value WHERE key='DevNumber'"), "500001");
    EXPECT_EQ(Query(db, "SELECT records_new FROM reading ORDER BY id DESC LIMIT 1"), "5");
    EXPECT_EQ(Query(db, "SELECT soft_ver || ' ' || circuits || ' ' || address FROM controller"),
              "1.07 1 3");
}

TEST(SqliteStore, TheStateOfTheLastArchiveReadComesBack) {
    TempDir dir;
    SqliteStore store(dir / "a.sqlite");
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    std::optional<StoredState> state;
    ASSERT_TRUE(store.State("ЦТП-1", state, error));
    EXPECT_FALSE(state);
    SaveCounts counts;
    ASSERT_TRUE(store.SaveReading(Good("ЦТП-1", 0, 1), counts, error)) << error;
    ASSERT_TRUE(store.State("ЦТП-1", state, error));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->serial, 500001);
    EXPECT_EQ(state->numSystems, 1);
    EXPECT_EQ(state->archPos, 20000u);
    EXPECT_EQ(state->anchorKey, 77u);
    EXPECT_EQ(state->clock, "2026-12-11 10:00:01");
    EXPECT_EQ(state->eventLog, 0xF123456789ABCDEFull);
    // A reading of current values only leaves the archive state as it was.
    Reading current = Good("ЦТП-1", 0, 0);
    current.archiveState.reset();
    ASSERT_TRUE(store.SaveReading(current, counts, error)) << error;
    ASSERT_TRUE(store.State("ЦТП-1", state, error));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->archPos, 20000u);
}

TEST(SqliteStore, AVersion1DatabaseIsUpgradedInPlaceAndKeepsWhatItHolds) {
    TempDir dir;
    const std::string db = dir / "a.sqlite";
    std::string error;
    {
        SqliteStore store(db);
        ASSERT_TRUE(store.Open(error)) << error;
        SaveCounts counts;
        ASSERT_TRUE(store.SaveReading(Good("ЦТП-1", 0, 10), counts, error)) << error;
    }
    {
        // What a poller of version 1 left: no digest of the event log.
        sqlite3* h = nullptr;
        sqlite3_open(db.c_str(), &h);
        ASSERT_EQ(sqlite3_exec(h,
                               "ALTER TABLE controller DROP COLUMN arch_events;"
                               " PRAGMA user_version=1;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(h);
        sqlite3_close(h);
    }
    SqliteStore store(db);
    ASSERT_TRUE(store.Open(error)) << error;
    EXPECT_EQ(Query(db, "PRAGMA user_version"), std::to_string(kSqliteSchemaVersion));
    std::optional<StoredState> state;
    ASSERT_TRUE(store.State("ЦТП-1", state, error)) << error;
    ASSERT_TRUE(state);
    EXPECT_EQ(state->archPos, 20000u);
    EXPECT_FALSE(state->eventLog) << "not known: the next reading offers the whole event log";
    EXPECT_EQ(Query(db, "SELECT count(*) FROM archive_record"), "10");
    SaveCounts counts;
    ASSERT_TRUE(store.SaveReading(Good("ЦТП-1", 5, 10), counts, error)) << error;
    EXPECT_EQ(counts.recordsNew, 5);
    EXPECT_EQ(counts.eventsNew, 0);
    ASSERT_TRUE(store.State("ЦТП-1", state, error)) << error;
    EXPECT_EQ(state->eventLog, 0xF123456789ABCDEFull);
}

TEST(SqliteStore, AFailedReadingStoresItsRowAndNothingElse) {
    TempDir dir;
    SqliteStore store(dir / "a.sqlite");
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    Reading failed = Good("ЦТП-2", 0, 10);  // whatever it carries, none of it is stored
    failed.ok = false;
    failed.status = 2;
    failed.error = "Не сошлась контрольная сумма";
    ASSERT_TRUE(store.SaveFailure(failed, error)) << error;
    const std::string db = dir / "a.sqlite";
    EXPECT_EQ(Query(db, "SELECT ok || ' ' || status || ' ' || error FROM reading"),
              "0 2 Не сошлась контрольная сумма");
    EXPECT_EQ(Query(db, "SELECT image FROM reading"), "NULL");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM archive_record"), "0");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM event"), "0");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM current_value"), "0");
    EXPECT_EQ(Query(db, "SELECT last_error FROM controller WHERE name='ЦТП-2'"),
              "Не сошлась контрольная сумма");
    std::optional<StoredState> state;
    ASSERT_TRUE(store.State("ЦТП-2", state, error));
    EXPECT_FALSE(state);
}

TEST(SqliteStore, AReadingThatCannotBeStoredWholeLeavesNothing) {
    TempDir dir;
    SqliteStore store(dir / "a.sqlite");
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    Reading broken = Good("ЦТП-3", 0, 10);
    // The same key twice breaks the current values' primary key after the records went in.
    broken.currentValues.push_back({"Date", "again"});
    SaveCounts counts;
    EXPECT_FALSE(store.SaveReading(broken, counts, error));
    EXPECT_FALSE(error.empty());
    const std::string db = dir / "a.sqlite";
    EXPECT_EQ(Query(db, "SELECT count(*) FROM reading"), "0");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM archive_record"), "0");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM controller"), "0");
    // The store goes on working afterwards.
    ASSERT_TRUE(store.SaveReading(Good("ЦТП-3", 0, 10), counts, error)) << error;
    EXPECT_EQ(counts.recordsNew, 10);
}

TEST(SqliteStore, RefusesWhatItCannotUse) {
    TempDir dir;
    std::string error;
    {
        std::ofstream(dir / "text.sqlite") << "this is not a database, just some words\n";
        SqliteStore store(dir / "text.sqlite");
        EXPECT_FALSE(store.Open(error));
        EXPECT_NE(error.find(dir / "text.sqlite"), std::string::npos) << error;
    }
    {
        fs::create_directory(dir / "folder");
        SqliteStore store(dir / "folder");
        EXPECT_FALSE(store.Open(error));
    }
    {
        SqliteStore store(dir / "missing/dir/a.sqlite");
        EXPECT_FALSE(store.Open(error));
    }
    {
        // A database from a newer poller.
        sqlite3* db = nullptr;
        sqlite3_open((dir / "new.sqlite").c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE t(x); PRAGMA user_version=7;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        SqliteStore store(dir / "new.sqlite");
        EXPECT_FALSE(store.Open(error));
        EXPECT_NE(error.find("schema version 7"), std::string::npos) << error;
    }
    {
        // Another program's database with our table names taken.
        sqlite3* db = nullptr;
        sqlite3_open((dir / "other.sqlite").c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE reading(x);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        SqliteStore store(dir / "other.sqlite");
        EXPECT_FALSE(store.Open(error));
        EXPECT_EQ(Query(dir / "other.sqlite", "PRAGMA user_version"), "0");
    }
}

}  // namespace
}  // namespace vir05::poll
