// The throwaway servers of the test command (scripts/services.sh): a PostgreSQL cluster and an
// MQTT broker on loopback. Tests that need them are skipped when they are not running, unless
// VIR05_REQUIRE_SERVICES is set (the test command sets it), in which case they fail.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace vir05::poll::test {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

#define VIR05_NEED_SERVICE(var)                                                            \
    do {                                                                                   \
        if (::vir05::poll::test::Env(var).empty()) {                                       \
            if (!::vir05::poll::test::Env("VIR05_REQUIRE_SERVICES").empty())               \
                FAIL() << var << " is not set: start scripts/services.sh";                 \
            GTEST_SKIP() << var << " is not set (scripts/services.sh starts the servers)"; \
        }                                                                                  \
    } while (0)

// A database of its own for one test, dropped at the end.
class ScratchDatabase {
  public:
    ScratchDatabase() {
        const std::string admin = Env("VIR05_PG_URL");
        std::random_device rd;
        name_ = "t" + std::to_string(rd()) + std::to_string(rd());
        PGconn* c = PQconnectdb(admin.c_str());
        if (PQstatus(c) == CONNECTION_OK) {
            PQclear(PQexec(c, ("CREATE DATABASE " + name_).c_str()));
        } else {
            ADD_FAILURE() << "cannot connect to " << admin << ": " << PQerrorMessage(c);
        }
        PQfinish(c);
        url_ = admin.substr(0, admin.rfind('/') + 1) + name_;
    }
    ~ScratchDatabase() {
        PGconn* c = PQconnectdb(Env("VIR05_PG_URL").c_str());
        PQclear(PQexec(c, ("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)").c_str()));
        PQfinish(c);
    }
    const std::string& Url() const { return url_; }
    const std::string& Name() const { return name_; }

  private:
    std::string name_, url_;
};

// One value of a query, "" when there is no row; NULL reads as "NULL".
inline std::string Query(const std::string& url, const std::string& sql) {
    PGconn* c = PQconnectdb(url.c_str());
    std::string out;
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
        if (PQntuples(r) > 0) out = PQgetisnull(r, 0, 0) ? "NULL" : PQgetvalue(r, 0, 0);
    } else if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
    }
    PQclear(r);
    PQfinish(c);
    return out;
}

// Every row of a query, its columns joined by "|" (NULL as "NULL").
inline std::vector<std::string> PgRows(const std::string& url, const std::string& sql) {
    PGconn* c = PQconnectdb(url.c_str());
    std::vector<std::string> out;
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
        for (int i = 0; i < PQntuples(r); ++i) {
            std::string row;
            for (int j = 0; j < PQnfields(r); ++j) {
                if (j) row += '|';
                row += PQgetisnull(r, i, j) ? "NULL" : PQgetvalue(r, i, j);
            }
            out.push_back(std::move(row));
        }
    } else {
        ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
    }
    PQclear(r);
    PQfinish(c);
    return out;
}

}  // namespace vir05::poll::test
