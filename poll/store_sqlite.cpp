#include "poll/store_sqlite.h"

#include <sqlite3.h>

namespace vir05::poll {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE controller(
    name TEXT PRIMARY KEY,
    serial INTEGER,
    address INTEGER,
    soft_ver REAL,
    circuits INTEGER,
    last_ok TEXT,
    last_error TEXT,
    arch_serial INTEGER,
    arch_circuits INTEGER,
    arch_pos INTEGER,
    arch_anchor INTEGER,
    arch_clock TEXT,
    arch_events INTEGER
);
CREATE TABLE reading(
    id INTEGER PRIMARY KEY,
    controller TEXT NOT NULL,
    started TEXT NOT NULL,
    finished TEXT NOT NULL,
    ok INTEGER NOT NULL,
    status INTEGER NOT NULL,
    error TEXT,
    archive_blocks INTEGER NOT NULL,
    line_bytes INTEGER NOT NULL,
    image BLOB,
    serial INTEGER,
    records_new INTEGER,
    events_new INTEGER
);
CREATE INDEX reading_by_controller ON reading(controller, started);
CREATE TABLE current_value(
    reading INTEGER NOT NULL REFERENCES reading(id),
    key TEXT NOT NULL,
    value TEXT NOT NULL,
    PRIMARY KEY(reading, key)
) WITHOUT ROWID;
CREATE TABLE archive_record(
    serial INTEGER NOT NULL,
    circuit INTEGER NOT NULL,
    time TEXT NOT NULL,
    t11 REAL, t2 REAL, tk REAL, tn REAL, real REAL, base REAL,
    klap INTEGER,
    errors INTEGER,
    reading INTEGER REFERENCES reading(id),
    PRIMARY KEY(serial, circuit, time)
) WITHOUT ROWID;
CREATE TABLE event(
    serial INTEGER NOT NULL,
    time TEXT NOT NULL,
    param INTEGER NOT NULL,
    circuit INTEGER NOT NULL,
    name TEXT,
    new_value INTEGER NOT NULL,
    old_value INTEGER NOT NULL,
    reading INTEGER REFERENCES reading(id),
    UNIQUE(serial, time, param, circuit, new_value, old_value)
);
)sql";

// Ends a statement's run whatever happens, so that the next use starts clean.
struct Reset {
    sqlite3_stmt* s;
    ~Reset() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

void BindText(sqlite3_stmt* s, int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

void BindOptionalText(sqlite3_stmt* s, int i, const std::string& v) {
    if (v.empty())
        sqlite3_bind_null(s, i);
    else
        BindText(s, i, v);
}

void BindReal(sqlite3_stmt* s, int i, const std::optional<double>& v) {
    if (v)
        sqlite3_bind_double(s, i, *v);
    else
        sqlite3_bind_null(s, i);
}

}  // namespace

SqliteStore::SqliteStore(std::string path) : path_(std::move(path)) {}

SqliteStore::~SqliteStore() {
    Finalize();
}

void SqliteStore::Finalize() {
    for (sqlite3_stmt** s : {&insertReading_, &insertValue_, &insertRecord_, &insertEvent_,
                             &upsertOk_, &upsertFailed_, &updateCounts_, &selectState_}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

std::string SqliteStore::Error(const char* what) const {
    return path_ + ": " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
}

bool SqliteStore::Exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = path_ + ": " + (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

bool SqliteStore::Prepare(sqlite3_stmt*& stmt, const char* sql, std::string& error) {
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) == SQLITE_OK)
        return true;
    error = Error("cannot prepare a statement");
    return false;
}

bool SqliteStore::Open(std::string& error) {
    Finalize();
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = Error("cannot be opened");
        Finalize();
        return false;
    }
    sqlite3_busy_timeout(db_, 30000);
    sqlite3_extended_result_codes(db_, 1);
    // The first statement reads the file: a file that is not a database fails here.
    // WAL with synchronous NORMAL: a commit is atomic and survives the process being killed; only
    // the last commits before a power cut may be lost, never the database's consistency.
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;",
              error)) {
        Finalize();
        return false;
    }
    int version = -1;
    const auto readVersion = [&] {
        sqlite3_stmt* s = nullptr;
        if (!Prepare(s, "PRAGMA user_version", error)) return false;
        if (sqlite3_step(s) == SQLITE_ROW) version = sqlite3_column_int(s, 0);
        sqlite3_finalize(s);
        return true;
    };
    if (!readVersion()) return Finalize(), false;
    if (version == 1) {
        // Version 2 keeps the event log's digest with the archive state. Another poller may be
        // upgrading the same file: the version is read again under the write lock.
        std::string ignored;
        const bool upgraded =
            Exec("BEGIN IMMEDIATE", error) && readVersion() &&
            (version != 1 ||
             Exec("ALTER TABLE controller ADD COLUMN arch_events INTEGER; PRAGMA user_version=2;",
                  error)) &&
            Exec("COMMIT", error);
        if (!upgraded) {
            Exec("ROLLBACK", ignored);
            error = path_ + ": cannot upgrade the schema: " + error;
            Finalize();
            return false;
        }
        if (!readVersion()) return Finalize(), false;
    }
    if (version == 0) {
        // A new (or empty) database: the whole schema in one transaction.
        const std::string create = std::string("BEGIN IMMEDIATE;") + kSchema +
                                   "PRAGMA user_version=" + std::to_string(kSqliteSchemaVersion) +
                                   "; COMMIT;";
        if (!Exec(create.c_str(), error)) {
            Exec("ROLLBACK", error);
            error = path_ + ": cannot create the tables (is it another program's database?)";
            Finalize();
            return false;
        }
    } else if (version != kSqliteSchemaVersion) {
        error = path_ + ": schema version " + std::to_string(version) + " is not " +
                std::to_string(kSqliteSchemaVersion) + " (a newer poller wrote it)";
        Finalize();
        return false;
    }
    const bool prepared =
        Prepare(insertReading_,
                "INSERT INTO reading(controller, started, finished, ok, status, error,"
                " archive_blocks, line_bytes, image, serial) VALUES(?,?,?,?,?,?,?,?,?,?)",
                error) &&
        Prepare(insertValue_, "INSERT INTO current_value(reading, key, value) VALUES(?,?,?)",
                error) &&
        Prepare(insertRecord_,
                "INSERT OR IGNORE INTO archive_record(serial, circuit, time, t11, t2, tk, tn,"
                " real, base, klap, errors, reading) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)",
                error) &&
        Prepare(insertEvent_,
                "INSERT OR IGNORE INTO event(serial, time, param, circuit, name, new_value,"
                " old_value, reading) VALUES(?,?,?,?,?,?,?,?)",
                error) &&
        Prepare(upsertOk_,
                "INSERT INTO controller(name, serial, address, soft_ver, circuits, last_ok,"
                " last_error, arch_serial, arch_circuits, arch_pos, arch_anchor, arch_clock,"
                " arch_events) VALUES(?1,?2,?3,?4,?5,?6,NULL,?7,?8,?9,?10,?11,?13)"
                " ON CONFLICT(name) DO UPDATE SET serial=?2, address=?3, soft_ver=?4,"
                " circuits=?5, last_ok=?6, last_error=NULL,"
                " arch_serial=CASE WHEN ?12 THEN ?7 ELSE arch_serial END,"
                " arch_circuits=CASE WHEN ?12 THEN ?8 ELSE arch_circuits END,"
                " arch_pos=CASE WHEN ?12 THEN ?9 ELSE arch_pos END,"
                " arch_anchor=CASE WHEN ?12 THEN ?10 ELSE arch_anchor END,"
                " arch_clock=CASE WHEN ?12 THEN ?11 ELSE arch_clock END,"
                " arch_events=CASE WHEN ?12 THEN ?13 ELSE arch_events END",
                error) &&
        Prepare(upsertFailed_,
                "INSERT INTO controller(name, address, last_error) VALUES(?1,?2,?3)"
                " ON CONFLICT(name) DO UPDATE SET address=?2, last_error=?3",
                error) &&
        Prepare(updateCounts_, "UPDATE reading SET records_new=?, events_new=? WHERE id=?",
                error) &&
        Prepare(selectState_,
                "SELECT arch_serial, arch_circuits, arch_pos, arch_anchor, arch_clock,"
                " arch_events FROM controller WHERE name=? AND arch_pos IS NOT NULL",
                error);
    if (!prepared) {
        Finalize();
        return false;
    }
    return true;
}

bool SqliteStore::State(const std::string& controller, std::optional<StoredState>& state,
                        std::string& error) {
    state.reset();
    if (!db_) return error = path_ + ": not open", false;
    Reset reset{selectState_};
    BindText(selectState_, 1, controller);
    const int rc = sqlite3_step(selectState_);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return error = Error("cannot read a controller's state"), false;
    StoredState s;
    s.serial = sqlite3_column_int64(selectState_, 0);
    s.numSystems = sqlite3_column_int(selectState_, 1);
    s.archPos = static_cast<std::uint32_t>(sqlite3_column_int64(selectState_, 2));
    if (sqlite3_column_type(selectState_, 3) != SQLITE_NULL)
        s.anchorKey = static_cast<std::uint32_t>(sqlite3_column_int64(selectState_, 3));
    if (const unsigned char* t = sqlite3_column_text(selectState_, 4))
        s.clock = reinterpret_cast<const char*>(t);
    if (sqlite3_column_type(selectState_, 5) != SQLITE_NULL)
        s.eventLog = static_cast<std::uint64_t>(sqlite3_column_int64(selectState_, 5));
    state = s;
    return true;
}

bool SqliteStore::InsertReading(const Reading& r, std::int64_t& id, std::string& error) {
    Reset reset{insertReading_};
    sqlite3_stmt* s = insertReading_;
    BindText(s, 1, r.controller);
    BindText(s, 2, r.started);
    BindText(s, 3, r.finished);
    sqlite3_bind_int(s, 4, r.ok ? 1 : 0);
    sqlite3_bind_int(s, 5, r.status);
    BindOptionalText(s, 6, r.error);
    sqlite3_bind_int(s, 7, r.archiveBlocks);
    sqlite3_bind_int64(s, 8, static_cast<sqlite3_int64>(r.lineBytes));
    if (r.ok && !r.image.empty())
        sqlite3_bind_blob(s, 9, r.image.data(), static_cast<int>(r.image.size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(s, 9);
    if (r.ok)
        sqlite3_bind_int64(s, 10, r.serial);
    else
        sqlite3_bind_null(s, 10);
    if (sqlite3_step(s) != SQLITE_DONE) return error = Error("cannot store a reading"), false;
    id = sqlite3_last_insert_rowid(db_);
    return true;
}

bool SqliteStore::RolledBack(const std::string& why, std::string& error) {
    std::string ignored;
    Exec("ROLLBACK", ignored);
    error = why;
    return false;
}

bool SqliteStore::SaveReading(const Reading& r, SaveCounts& counts, std::string& error) {
    counts = {};
    if (!db_) return error = path_ + ": not open", false;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    auto fail = [&](const std::string& e) { return RolledBack(e, error); };
    std::int64_t id = 0;
    if (!InsertReading(r, id, error)) return fail(error);
    for (const auto& [key, value] : r.currentValues) {
        Reset reset{insertValue_};
        sqlite3_bind_int64(insertValue_, 1, id);
        BindText(insertValue_, 2, key);
        BindText(insertValue_, 3, value);
        if (sqlite3_step(insertValue_) != SQLITE_DONE)
            return fail(Error("cannot store a current value"));
    }
    for (const ArchiveRow& a : r.records) {
        sqlite3_stmt* s = insertRecord_;
        Reset reset{s};
        sqlite3_bind_int64(s, 1, r.serial);
        sqlite3_bind_int(s, 2, a.circuit);
        BindText(s, 3, a.time);
        BindReal(s, 4, a.t11);
        BindReal(s, 5, a.t2);
        BindReal(s, 6, a.tk);
        BindReal(s, 7, a.tn);
        BindReal(s, 8, a.real);
        BindReal(s, 9, a.base);
        sqlite3_bind_int(s, 10, a.klap);
        sqlite3_bind_int(s, 11, a.errors);
        sqlite3_bind_int64(s, 12, id);
        if (sqlite3_step(s) != SQLITE_DONE) return fail(Error("cannot store a record"));
        counts.recordsNew += sqlite3_changes(db_);
    }
    for (const EventRow& e : r.events) {
        sqlite3_stmt* s = insertEvent_;
        Reset reset{s};
        sqlite3_bind_int64(s, 1, r.serial);
        BindText(s, 2, e.time);
        sqlite3_bind_int(s, 3, e.param);
        sqlite3_bind_int(s, 4, e.circuit);
        BindText(s, 5, e.name);
        sqlite3_bind_int(s, 6, e.newValue);
        sqlite3_bind_int(s, 7, e.oldValue);
        sqlite3_bind_int64(s, 8, id);
        if (sqlite3_step(s) != SQLITE_DONE) return fail(Error("cannot store an event"));
        counts.eventsNew += sqlite3_changes(db_);
    }
    {
        sqlite3_stmt* s = upsertOk_;
        Reset reset{s};
        BindText(s, 1, r.controller);
        sqlite3_bind_int64(s, 2, r.serial);
        sqlite3_bind_int(s, 3, r.address);
        sqlite3_bind_double(s, 4, r.softVer);
        sqlite3_bind_int(s, 5, r.circuits);
        BindText(s, 6, r.finished);
        const bool archive = r.archiveState.has_value();
        if (archive) {
            const StoredState& st = *r.archiveState;
            sqlite3_bind_int64(s, 7, st.serial);
            sqlite3_bind_int(s, 8, st.numSystems);
            sqlite3_bind_int64(s, 9, st.archPos);
            if (st.anchorKey)
                sqlite3_bind_int64(s, 10, *st.anchorKey);
            else
                sqlite3_bind_null(s, 10);
            BindText(s, 11, st.clock);
            if (st.eventLog)
                sqlite3_bind_int64(s, 13, static_cast<sqlite3_int64>(*st.eventLog));
            else
                sqlite3_bind_null(s, 13);
        }
        sqlite3_bind_int(s, 12, archive ? 1 : 0);
        if (sqlite3_step(s) != SQLITE_DONE) return fail(Error("cannot store the controller"));
    }
    {
        Reset reset{updateCounts_};
        sqlite3_bind_int(updateCounts_, 1, counts.recordsNew);
        sqlite3_bind_int(updateCounts_, 2, counts.eventsNew);
        sqlite3_bind_int64(updateCounts_, 3, id);
        if (sqlite3_step(updateCounts_) != SQLITE_DONE)
            return fail(Error("cannot store a reading"));
    }
    if (!Exec("COMMIT", error)) return fail(error);
    counts.readingId = id;
    return true;
}

bool SqliteStore::SaveFailure(const Reading& r, std::string& error) {
    if (!db_) return error = path_ + ": not open", false;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    auto fail = [&](const std::string& e) { return RolledBack(e, error); };
    std::int64_t id = 0;
    if (!InsertReading(r, id, error)) return fail(error);
    {
        Reset reset{upsertFailed_};
        BindText(upsertFailed_, 1, r.controller);
        sqlite3_bind_int(upsertFailed_, 2, r.address);
        BindText(upsertFailed_, 3,
                 r.error.empty() ? "status " + std::to_string(r.status) : r.error);
        if (sqlite3_step(upsertFailed_) != SQLITE_DONE)
            return fail(Error("cannot store the controller"));
    }
    if (!Exec("COMMIT", error)) return fail(error);
    return true;
}

}  // namespace vir05::poll
