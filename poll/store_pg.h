// The PostgreSQL store: the same tables as the SQLite store in a database shared by several
// pollers, the schema version in the table schema_version, one transaction per reading.
//
// Several pollers share one fleet through the table lease (see poll/lease_pg.h). When a fence is
// set, a reading is stored only while this poller still holds the controller's lease for the
// slot, in the same transaction that marks the lease done: a poller that lost its lease (it was
// stalled past the expiry and another took over) stores nothing, so no reading is stored twice.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "poll/store.h"

struct pg_conn;

namespace vir05::poll {

inline constexpr int kPgSchemaVersion = 2;

// True for the two forms a fleet file names a PostgreSQL database with:
// "postgresql://USER@HOST:PORT/DB" and "postgresql:///DB?host=/socket/dir" ("postgres://" too).
bool IsPostgresUrl(const std::string& database);

// Creates or upgrades the schema on an open connection; several pollers starting at once take
// turns through an advisory lock. False with a message in `error`.
bool EnsurePgSchema(pg_conn* conn, std::string& error);

// Connects to `url` and makes sure its schema is there; null with a message naming the
// database in `error`.
pg_conn* OpenPgDatabase(const std::string& url, std::string& error);

class PgStore : public Store {
  public:
    explicit PgStore(std::string url);
    ~PgStore() override;
    PgStore(const PgStore&) = delete;
    PgStore& operator=(const PgStore&) = delete;

    bool Open(std::string& error) override;
    bool State(const std::string& controller, std::optional<StoredState>& state,
               std::string& error) override;
    bool SaveReading(const Reading& reading, SaveCounts& counts, std::string& error) override;
    bool SaveFailure(const Reading& reading, std::string& error) override;

    // From now on every reading is stored only under the controller's lease of `slot` held by
    // `holder`, and marks that lease done. A cancelled reading (status -1) releases the lease
    // instead, so that another poller reads the controller in the same round.
    void SetFence(std::int64_t slot, std::string holder);
    void ClearFence() {
        fenced_ = false;
        statesLoaded_ = false;
    }

    const std::string& Url() const { return url_; }

  private:
    bool Connected(std::string& error);
    bool Exec(const char* sql, std::string& error);
    bool Fence(const std::string& controller, std::int64_t readingId, bool done,
               std::string& error);
    std::string Error(const std::string& what) const;
    std::string LostLease(const std::string& controller) const;
    bool Prepared(std::string& error);

    std::string url_;
    pg_conn* conn_ = nullptr;
    bool prepared_ = false;  // the statement of a reading, on this session
    bool fenced_ = false;
    std::int64_t slot_ = 0;
    std::string holder_;
    bool statesLoaded_ = false;
    std::map<std::string, StoredState> states_;
};

}  // namespace vir05::poll
