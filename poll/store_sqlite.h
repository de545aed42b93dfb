// The SQLite store: one database file in WAL mode, the schema version in PRAGMA user_version,
// one transaction per reading.
#pragma once

#include <string>

#include "poll/store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vir05::poll {

inline constexpr int kSqliteSchemaVersion = 2;

class SqliteStore : public Store {
  public:
    explicit SqliteStore(std::string path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    bool Open(std::string& error) override;
    bool State(const std::string& controller, std::optional<StoredState>& state,
               std::string& error) override;
    bool SaveReading(const Reading& reading, SaveCounts& counts, std::string& error) override;
    bool SaveFailure(const Reading& reading, std::string& error) override;

    const std::string& Path() const { return path_; }

  private:
    bool Exec(const char* sql, std::string& error);
    // Ends the open transaction without storing anything; `error` becomes `why`. Always false.
    bool RolledBack(const std::string& why, std::string& error);
    bool Prepare(sqlite3_stmt*& stmt, const char* sql, std::string& error);
    std::string Error(const char* what) const;
    bool InsertReading(const Reading& r, std::int64_t& id, std::string& error);
    void Finalize();

    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertReading_ = nullptr;
    sqlite3_stmt* insertValue_ = nullptr;
    sqlite3_stmt* insertRecord_ = nullptr;
    sqlite3_stmt* insertEvent_ = nullptr;
    sqlite3_stmt* upsertOk_ = nullptr;
    sqlite3_stmt* upsertFailed_ = nullptr;
    sqlite3_stmt* updateCounts_ = nullptr;
    sqlite3_stmt* selectState_ = nullptr;
};

}  // namespace vir05::poll
