// Small helpers over libpq shared by the PostgreSQL store and the leases.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

namespace vir05::poll::pg {

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Runs `sql` with text parameters ($1, $2, ...); a parameter marked in `binary` goes as bytes.
inline Result Run(PGconn* conn, const char* sql, const std::vector<std::string>& params,
                  const std::vector<bool>& binary = {}) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (std::size_t i = 0; i < params.size(); ++i) {
        values.push_back(params[i].c_str());
        lengths.push_back(static_cast<int>(params[i].size()));
        formats.push_back(i < binary.size() && binary[i] ? 1 : 0);
    }
    return Result(PQexecParams(conn, sql, static_cast<int>(params.size()), nullptr, values.data(),
                               lengths.data(), formats.data(), 0));
}

inline bool Ok(const Result& r) {
    const ExecStatusType s = PQresultStatus(r.get());
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

// The connection's last message without its trailing line break.
inline std::string LastMessage(PGconn* conn) {
    std::string m = conn ? PQerrorMessage(conn) : "";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    return m;
}

}  // namespace vir05::poll::pg
