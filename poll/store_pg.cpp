#include "poll/store_pg.h"

#include <libpq-fe.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "poll/pg_util.h"

namespace vir05::poll {

namespace {

// Schema version 1: the SQLite store's tables, PostgreSQL types, and the leases of the pollers.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE controller(
    name TEXT PRIMARY KEY,
    serial BIGINT,
    address INTEGER,
    soft_ver DOUBLE PRECISION,
    circuits INTEGER,
    last_ok TEXT,
    last_error TEXT,
    arch_serial BIGINT,
    arch_circuits INTEGER,
    arch_pos BIGINT,
    arch_anchor BIGINT,
    arch_clock TEXT
);
CREATE TABLE reading(
    id BIGSERIAL PRIMARY KEY,
    controller TEXT NOT NULL,
    started TEXT NOT NULL,
    finished TEXT NOT NULL,
    ok INTEGER NOT NULL,
    status INTEGER NOT NULL,
    error TEXT,
    archive_blocks INTEGER NOT NULL,
    line_bytes BIGINT NOT NULL,
    image BYTEA,
    serial BIGINT,
    records_new INTEGER,
    events_new INTEGER
);
CREATE INDEX reading_by_controller ON reading(controller, started);
CREATE TABLE current_value(
    reading BIGINT NOT NULL REFERENCES reading(id),
    key TEXT NOT NULL,
    value TEXT NOT NULL,
    PRIMARY KEY(reading, key)
);
CREATE TABLE archive_record(
    serial BIGINT NOT NULL,
    circuit INTEGER NOT NULL,
    time TEXT NOT NULL,
    t11 DOUBLE PRECISION, t2 DOUBLE PRECISION, tk DOUBLE PRECISION, tn DOUBLE PRECISION,
    real DOUBLE PRECISION, base DOUBLE PRECISION,
    klap INTEGER,
    errors INTEGER,
    reading BIGINT REFERENCES reading(id),
    PRIMARY KEY(serial, circuit, time)
);
CREATE TABLE event(
    serial BIGINT NOT NULL,
    time TEXT NOT NULL,
    param INTEGER NOT NULL,
    circuit INTEGER NOT NULL,
    name TEXT,
    new_value INTEGER NOT NULL,
    old_value INTEGER NOT NULL,
    reading BIGINT REFERENCES reading(id),
    UNIQUE(serial, time, param, circuit, new_value, old_value)
);
CREATE TABLE lease(
    slot BIGINT NOT NULL,
    controller TEXT NOT NULL,
    holder TEXT,
    taken TIMESTAMPTZ,
    expires TIMESTAMPTZ,
    done BOOLEAN NOT NULL DEFAULT false,
    reading BIGINT,
    PRIMARY KEY(slot, controller)
);
CREATE TABLE line_lease(
    line TEXT PRIMARY KEY,
    holder TEXT NOT NULL,
    expires TIMESTAMPTZ NOT NULL
);
)sql";

// Version 2: the event log's digest with the archive state.
constexpr const char* kSchemaV2 = R"sql(
ALTER TABLE controller ADD COLUMN arch_events BIGINT;
UPDATE schema_version SET version = 2;
)sql";

// Any fixed number: the key of the advisory lock the schema is created under.
constexpr long long kSchemaLock = 0x56495230355043LL;

using pg::Ok;
using pg::Result;
using pg::Run;

int Affected(const Result& r) {
    const char* n = PQcmdTuples(r.get());
    return n && *n ? std::atoi(n) : 0;
}

std::string Real(const std::optional<double>& v) {
    if (!v) return "NULL";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", *v);
    return buf;
}

// An element of a text array literal, quoted.
void AppendQuoted(std::string& out, const std::string& text) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

// Builds the array literals of a column-wise bulk insert through unnest(): one statement per
// table and reading, however many rows.
class Columns {
  public:
    explicit Columns(std::size_t n) : cols_(n, "{") {}
    void Raw(std::size_t i, const std::string& v) { Add(i, v); }
    void Text(std::size_t i, const std::string& v) {
        Sep(i);
        AppendQuoted(cols_[i], v);
    }
    std::vector<std::string> Done() {
        for (auto& c : cols_)
            c += '}';
        return std::move(cols_);
    }

  private:
    void Sep(std::size_t i) {
        if (cols_[i].size() > 1) cols_[i] += ',';
    }
    void Add(std::size_t i, const std::string& v) {
        Sep(i);
        cols_[i] += v;
    }
    std::vector<std::string> cols_;
};

}  // namespace

bool IsPostgresUrl(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

bool EnsurePgSchema(PGconn* conn, std::string& error) {
    auto fail = [&](const std::string& what) {
        error = what + ": " + PQerrorMessage(conn);
        while (!error.empty() && (error.back() == '\n' || error.back() == ' '))
            error.pop_back();
        Result(PQexec(conn, "ROLLBACK"));
        return false;
    };
    if (!Ok(Result(PQexec(conn, "BEGIN")))) return fail("cannot begin");
    if (!Ok(Run(conn, "SELECT pg_advisory_xact_lock($1)", {std::to_string(kSchemaLock)})))
        return fail("cannot lock the schema");
    Result exists(PQexec(conn, "SELECT to_regclass('schema_version') IS NOT NULL"));
    if (!Ok(exists)) return fail("cannot read the schema");
    int version = 0;
    if (std::string(PQgetvalue(exists.get(), 0, 0)) == "t") {
        Result v(PQexec(conn, "SELECT max(version) FROM schema_version"));
        if (!Ok(v)) return fail("cannot read the schema version");
        if (!PQgetisnull(v.get(), 0, 0)) version = std::atoi(PQgetvalue(v.get(), 0, 0));
    } else {
        if (!Ok(Result(PQexec(conn, "CREATE TABLE schema_version(version INTEGER NOT NULL)"))))
            return fail("cannot create the table schema_version");
        Result other(PQexec(conn, "SELECT to_regclass('reading') IS NOT NULL"));
        if (!Ok(other)) return fail("cannot read the schema");
        if (std::string(PQgetvalue(other.get(), 0, 0)) == "t") {
            error =
                "the database holds a table reading but no schema version"
                " (is it another program's database?)";
            Result(PQexec(conn, "ROLLBACK"));
            return false;
        }
    }
    if (version > kPgSchemaVersion) {
        error = "schema version " + std::to_string(version) + " is newer than " +
                std::to_string(kPgSchemaVersion) + " (a newer poller wrote it)";
        Result(PQexec(conn, "ROLLBACK"));
        return false;
    }
    // Upgrades run one version after another; version 1 is the first.
    if (version < 1) {
        if (!Ok(Result(PQexec(conn, kSchemaV1)))) return fail("cannot create the tables");
        if (!Ok(Result(PQexec(conn, "INSERT INTO schema_version VALUES (1)"))))
            return fail("cannot store the schema version");
    }
    if (version < 2 && !Ok(Result(PQexec(conn, kSchemaV2))))
        return fail("cannot upgrade the tables to version 2");
    if (!Ok(Result(PQexec(conn, "COMMIT")))) return fail("cannot commit the schema");
    return true;
}

pg_conn* OpenPgDatabase(const std::string& url, std::string& error) {
    PGconn* conn = PQconnectdb(url.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string why = pg::LastMessage(conn);
        error = url + ": cannot connect" + (why.empty() ? "" : ": " + why);
        PQfinish(conn);
        return nullptr;
    }
    Result(PQexec(conn, "SET client_min_messages = warning"));
    if (!EnsurePgSchema(conn, error)) {
        error = url + ": " + error;
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

PgStore::PgStore(std::string url) : url_(std::move(url)) {}

PgStore::~PgStore() {
    if (conn_) PQfinish(conn_);
}

std::string PgStore::Error(const std::string& what) const {
    std::string e = what;
    if (const std::string m = pg::LastMessage(conn_); !m.empty()) e += ": " + m;
    return e;
}

bool PgStore::Open(std::string& error) {
    if (conn_) PQfinish(conn_);
    prepared_ = false;
    conn_ = OpenPgDatabase(url_, error);
    return conn_ != nullptr;
}

// A connection the server dropped (a restart) is opened again before the next reading; a
// transaction that was cut is never repeated, as its outcome is not known.
bool PgStore::Connected(std::string& error) {
    if (!conn_) return error = url_ + ": not open", false;
    if (PQstatus(conn_) == CONNECTION_OK) return true;
    prepared_ = false;  // a new session has no prepared statements
    PQreset(conn_);
    if (PQstatus(conn_) == CONNECTION_OK) return true;
    error = Error(url_ + ": connection lost");
    return false;
}

bool PgStore::Exec(const char* sql, std::string& error) {
    Result r(PQexec(conn_, sql));
    if (Ok(r)) return true;
    error = Error(url_);
    return false;
}

void PgStore::SetFence(std::int64_t slot, std::string holder) {
    fenced_ = true;
    statesLoaded_ = false;  // a new round: read the states afresh
    slot_ = slot;
    holder_ = std::move(holder);
}

bool PgStore::Fence(const std::string& controller, std::int64_t readingId, bool done,
                    std::string& error) {
    if (!fenced_) return true;
    Result r = done ? Run(conn_,
                          "UPDATE lease SET done = true, reading = $4, expires = NULL"
                          " WHERE slot = $1 AND controller = $2 AND holder = $3 AND NOT done",
                          {std::to_string(slot_), controller, holder_, std::to_string(readingId)})
                    : Run(conn_,
                          "UPDATE lease SET holder = NULL, expires = NULL"
                          " WHERE slot = $1 AND controller = $2 AND holder = $3 AND NOT done",
                          {std::to_string(slot_), controller, holder_});
    if (!Ok(r)) {
        error = Error(url_ + ": cannot update the lease");
        return false;
    }
    if (Affected(r) != 1) return error = LostLease(controller), false;
    return true;
}

std::string PgStore::LostLease(const std::string& controller) const {
    return url_ + ": the lease of " + controller +
           " was taken over by another poller; this reading is not stored";
}

// The poller asks for every controller's state before a round: one query answers them all,
// and the answers hold until the next round (SetFence) or the controller's next reading.
bool PgStore::State(const std::string& controller, std::optional<StoredState>& state,
                    std::string& error) {
    state.reset();
    if (!statesLoaded_) {
        if (!Connected(error)) return false;
        Result r(PQexec(conn_,
                        "SELECT name, arch_serial, arch_circuits, arch_pos, arch_anchor,"
                        " arch_clock, arch_events FROM controller WHERE arch_pos IS NOT NULL"));
        if (!Ok(r)) return error = Error(url_ + ": cannot read the controllers' states"), false;
        states_.clear();
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            StoredState s;
            s.serial = std::atoll(PQgetvalue(r.get(), i, 1));
            s.numSystems = std::atoi(PQgetvalue(r.get(), i, 2));
            s.archPos = static_cast<std::uint32_t>(std::atoll(PQgetvalue(r.get(), i, 3)));
            if (!PQgetisnull(r.get(), i, 4))
                s.anchorKey = static_cast<std::uint32_t>(std::atoll(PQgetvalue(r.get(), i, 4)));
            if (!PQgetisnull(r.get(), i, 5)) s.clock = PQgetvalue(r.get(), i, 5);
            if (!PQgetisnull(r.get(), i, 6))
                s.eventLog = static_cast<std::uint64_t>(std::atoll(PQgetvalue(r.get(), i, 6)));
            states_[PQgetvalue(r.get(), i, 0)] = s;
        }
        statesLoaded_ = true;
    }
    if (auto it = states_.find(controller); it != states_.end()) state = it->second;
    return true;
}

// The reading, its values, records and events, the controller's row and, when fenced, the lease
// marked done go in as one prepared statement, a transaction of its own: a server round trip is
// what a busy database server makes expensive. When the lease is no longer this poller's, the
// statement stores nothing (every insert waits for the lease's row) and says so.
constexpr const char* kSaveReadingName = "vir05_save_reading";
constexpr int kSaveReadingParams = 40;
constexpr const char* kSaveReading = R"sql(
WITH rid AS (SELECT nextval(pg_get_serial_sequence('reading', 'id')) AS id),
f AS (
    UPDATE lease SET done = true, reading = (SELECT id FROM rid), expires = NULL
    WHERE $38::boolean AND slot = $39::bigint AND controller = $1 AND holder = $40 AND NOT done
    RETURNING 1),
go AS (SELECT 1 FROM f UNION ALL SELECT 1 WHERE NOT $38::boolean),
a AS (
    INSERT INTO archive_record(serial, circuit, time, t11, t2, tk, tn, real, base, klap, errors,
                               reading)
    SELECT $9, c, t, t11, t2, tk, tn, re, ba, kl, er, (SELECT id FROM rid)
    FROM unnest($21::int[], $22::text[], $23::float8[], $24::float8[], $25::float8[],
                $26::float8[], $27::float8[], $28::float8[], $29::int[], $30::int[])
         AS u(c, t, t11, t2, tk, tn, re, ba, kl, er)
    WHERE EXISTS (SELECT 1 FROM go)
    ON CONFLICT DO NOTHING RETURNING 1),
e AS (
    INSERT INTO event(serial, time, param, circuit, name, new_value, old_value, reading)
    SELECT $9, t, p, c, n, nv, ov, (SELECT id FROM rid)
    FROM unnest($31::text[], $32::int[], $33::int[], $34::text[], $35::int[], $36::int[])
         AS u(t, p, c, n, nv, ov)
    WHERE EXISTS (SELECT 1 FROM go)
    ON CONFLICT DO NOTHING RETURNING 1),
r AS (
    INSERT INTO reading(id, controller, started, finished, ok, status, error, archive_blocks,
                        line_bytes, image, serial, records_new, events_new)
    SELECT id, $1, $2, $3, 1, $4, NULLIF($5, ''), $6, $7, $8, $9,
           (SELECT count(*) FROM a), (SELECT count(*) FROM e)
    FROM rid WHERE EXISTS (SELECT 1 FROM go) RETURNING id),
v AS (
    INSERT INTO current_value(reading, key, value)
    SELECT (SELECT id FROM rid), k, x FROM unnest($19::text[], $20::text[]) AS u(k, x)
    WHERE EXISTS (SELECT 1 FROM go)),
c AS (
    INSERT INTO controller(name, serial, address, soft_ver, circuits, last_ok, last_error,
                           arch_serial, arch_circuits, arch_pos, arch_anchor, arch_clock,
                           arch_events)
    SELECT $1, $9, $10, $11, $12, $3, NULL, $13, $14, $15, $16, $17, $37
    WHERE EXISTS (SELECT 1 FROM go)
    ON CONFLICT(name) DO UPDATE SET serial = $9, address = $10, soft_ver = $11,
        circuits = $12, last_ok = $3, last_error = NULL,
        arch_serial = CASE WHEN $18 THEN $13 ELSE controller.arch_serial END,
        arch_circuits = CASE WHEN $18 THEN $14 ELSE controller.arch_circuits END,
        arch_pos = CASE WHEN $18 THEN $15 ELSE controller.arch_pos END,
        arch_anchor = CASE WHEN $18 THEN $16 ELSE controller.arch_anchor END,
        arch_clock = CASE WHEN $18 THEN $17 ELSE controller.arch_clock END,
        arch_events = CASE WHEN $18 THEN $37 ELSE controller.arch_events END)
SELECT (SELECT id FROM r), (SELECT count(*) FROM a), (SELECT count(*) FROM e),
       EXISTS (SELECT 1 FROM go)
)sql";

bool PgStore::Prepared(std::string& error) {
    if (prepared_) return true;
    Result r(PQprepare(conn_, kSaveReadingName, kSaveReading, kSaveReadingParams, nullptr));
    if (!Ok(r)) return error = Error(url_ + ": cannot prepare the statement of a reading"), false;
    prepared_ = true;
    return true;
}

bool PgStore::SaveReading(const Reading& r, SaveCounts& counts, std::string& error) {
    counts = {};
    if (!Connected(error) || !Prepared(error)) return false;
    std::vector<std::optional<std::string>> p(kSaveReadingParams);
    p[0] = r.controller;
    p[1] = r.started;
    p[2] = r.finished;
    p[3] = std::to_string(r.status);
    p[4] = r.error;
    p[5] = std::to_string(r.archiveBlocks);
    p[6] = std::to_string(r.lineBytes);
    p[7] = std::string(r.image.begin(), r.image.end());
    p[8] = std::to_string(r.serial);
    p[9] = std::to_string(r.address);
    p[10] = Real(r.softVer);
    p[11] = std::to_string(r.circuits);
    const bool archive = r.archiveState.has_value();
    if (archive) {
        const StoredState& st = *r.archiveState;
        p[12] = std::to_string(st.serial);
        p[13] = std::to_string(st.numSystems);
        p[14] = std::to_string(st.archPos);
        if (st.anchorKey) p[15] = std::to_string(*st.anchorKey);
        p[16] = st.clock;
        if (st.eventLog) p[36] = std::to_string(static_cast<std::int64_t>(*st.eventLog));
    }
    p[17] = archive ? "true" : "false";
    p[37] = fenced_ ? "true" : "false";
    p[38] = std::to_string(slot_);
    p[39] = holder_;
    {
        Columns c(2);
        for (const auto& [key, value] : r.currentValues) {
            c.Text(0, key);
            c.Text(1, value);
        }
        auto cols = c.Done();
        p[18] = cols[0];
        p[19] = cols[1];
    }
    {
        Columns c(10);
        for (const ArchiveRow& a : r.records) {
            c.Raw(0, std::to_string(a.circuit));
            c.Text(1, a.time);
            c.Raw(2, Real(a.t11));
            c.Raw(3, Real(a.t2));
            c.Raw(4, Real(a.tk));
            c.Raw(5, Real(a.tn));
            c.Raw(6, Real(a.real));
            c.Raw(7, Real(a.base));
            c.Raw(8, std::to_string(a.klap));
            c.Raw(9, std::to_string(a.errors));
        }
        auto cols = c.Done();
        for (std::size_t i = 0; i < cols.size(); ++i)
            p[20 + i] = cols[i];
    }
    {
        Columns c(6);
        for (const EventRow& e : r.events) {
            c.Text(0, e.time);
            c.Raw(1, std::to_string(e.param));
            c.Raw(2, std::to_string(e.circuit));
            c.Text(3, e.name);
            c.Raw(4, std::to_string(e.newValue));
            c.Raw(5, std::to_string(e.oldValue));
        }
        auto cols = c.Done();
        for (std::size_t i = 0; i < cols.size(); ++i)
            p[30 + i] = cols[i];
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (std::size_t i = 0; i < p.size(); ++i) {
        values.push_back(p[i] ? p[i]->c_str() : nullptr);
        lengths.push_back(p[i] ? static_cast<int>(p[i]->size()) : 0);
        formats.push_back(i == 7 ? 1 : 0);  // the image as bytes
    }
    Result res(PQexecPrepared(conn_, kSaveReadingName, static_cast<int>(p.size()), values.data(),
                              lengths.data(), formats.data(), 0));
    if (!Ok(res) || PQntuples(res.get()) != 1)
        return error = Error(url_ + ": cannot store a reading"), false;
    if (std::string(PQgetvalue(res.get(), 0, 3)) != "t")
        return error = LostLease(r.controller), false;
    if (PQgetisnull(res.get(), 0, 0)) return error = url_ + ": cannot store a reading", false;
    counts.readingId = std::atoll(PQgetvalue(res.get(), 0, 0));
    counts.recordsNew = std::atoi(PQgetvalue(res.get(), 0, 1));
    counts.eventsNew = std::atoi(PQgetvalue(res.get(), 0, 2));
    if (r.archiveState) states_[r.controller] = *r.archiveState;
    return true;
}

bool PgStore::SaveFailure(const Reading& r, std::string& error) {
    if (!Connected(error)) return false;
    if (!Exec("BEGIN", error)) return false;
    auto fail = [&](const std::string& e) {
        Result(PQexec(conn_, "ROLLBACK"));
        error = e;
        return false;
    };
    Result ins = Run(conn_,
                     "INSERT INTO reading(controller, started, finished, ok, status, error,"
                     " archive_blocks, line_bytes)"
                     " VALUES($1,$2,$3,0,$4,NULLIF($5,''),$6,$7) RETURNING id",
                     {r.controller, r.started, r.finished, std::to_string(r.status), r.error,
                      std::to_string(r.archiveBlocks), std::to_string(r.lineBytes)});
    if (!Ok(ins) || PQntuples(ins.get()) != 1)
        return fail(Error(url_ + ": cannot store a reading"));
    const std::int64_t id = std::atoll(PQgetvalue(ins.get(), 0, 0));
    const std::string lastError = r.error.empty() ? "status " + std::to_string(r.status) : r.error;
    Result u = Run(conn_,
                   "INSERT INTO controller(name, address, last_error) VALUES($1,$2,$3)"
                   " ON CONFLICT(name) DO UPDATE SET address=$2, last_error=$3",
                   {r.controller, std::to_string(r.address), lastError});
    if (!Ok(u)) return fail(Error(url_ + ": cannot store the controller"));
    // A cancelled reading (a stop) hands the controller back to the other pollers.
    if (!Fence(r.controller, id, r.status != -1, error)) return fail(error);
    if (!Exec("COMMIT", error)) return fail(error);
    return true;
}

}  // namespace vir05::poll
