#include "poll/lease_pg.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "poll/pg_util.h"
#include "poll/store_pg.h"

namespace vir05::poll {

namespace {

using pg::Ok;
using pg::Result;
using pg::Run;

// A text array literal of names.
std::string TextArray(const std::vector<std::string>& items) {
    std::string out = "{";
    for (const auto& s : items) {
        if (out.size() > 1) out += ',';
        out += '"';
        for (char c : s) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    out += '}';
    return out;
}

}  // namespace

std::string MakeLeaseHolder(const std::string& host) {
    std::random_device rd;
    char token[9];
    std::snprintf(token, sizeof token, "%08x", static_cast<unsigned>(rd()));
    return host + "/" + std::to_string(::getpid()) + "/" + token;
}

PgLeases::PgLeases(std::string url, std::string holder, std::chrono::milliseconds lease)
    : url_(std::move(url)), holder_(std::move(holder)), lease_(lease) {}

PgLeases::~PgLeases() {
    {
        std::lock_guard lock(stopMutex_);
        stop_ = true;
    }
    stopCv_.notify_all();
    if (heartbeat_.joinable()) heartbeat_.join();
    ReleaseAll();
    if (conn_) PQfinish(conn_);
}

std::string PgLeases::Interval() const {
    return std::to_string(lease_.count()) + " milliseconds";
}

bool PgLeases::Open(std::string& error) {
    conn_ = OpenPgDatabase(url_, error);
    if (!conn_) return false;
    heartbeat_ = std::thread([this] { Heartbeat(); });
    return true;
}

void PgLeases::Heartbeat() {
    const auto period = std::max(lease_ / 3, std::chrono::milliseconds(1));
    std::unique_lock stopLock(stopMutex_);
    while (!stopCv_.wait_for(stopLock, period, [this] { return stop_; })) {
        stopLock.unlock();
        {
            std::lock_guard lock(mutex_);
            if (PQstatus(conn_) != CONNECTION_OK) PQreset(conn_);
            Run(conn_,
                "UPDATE lease SET expires = now() + $2::interval"
                " WHERE holder = $1 AND NOT done AND expires IS NOT NULL",
                {holder_, Interval()});
            Run(conn_, "UPDATE line_lease SET expires = now() + $2::interval WHERE holder = $1",
                {holder_, Interval()});
        }
        stopLock.lock();
    }
}

bool PgLeases::Take(std::int64_t slot, const std::string& controller, const std::string& line) {
    std::lock_guard lock(mutex_);
    if (!conn_) return false;
    if (PQstatus(conn_) != CONNECTION_OK) PQreset(conn_);
    if (PQstatus(conn_) != CONNECTION_OK) {
        if (failure_.empty()) failure_ = url_ + ": connection lost: " + PQerrorMessage(conn_);
        return false;
    }
    if (!line.empty()) {
        Result l = Run(conn_,
                       "INSERT INTO line_lease(line, holder, expires)"
                       " VALUES($1, $2, now() + $3::interval)"
                       " ON CONFLICT(line) DO UPDATE SET holder = EXCLUDED.holder,"
                       " expires = EXCLUDED.expires"
                       " WHERE line_lease.holder = EXCLUDED.holder OR line_lease.expires < now()"
                       " RETURNING 1",
                       {line, holder_, Interval()});
        if (!Ok(l)) {
            if (failure_.empty())
                failure_ = url_ + ": cannot take a lease: " + PQerrorMessage(conn_);
            return false;
        }
        if (PQntuples(l.get()) != 1) {
            if (warnedLines_.insert(line).second) {
                Result who = Run(conn_, "SELECT holder FROM line_lease WHERE line = $1", {line});
                std::string other = Ok(who) && PQntuples(who.get()) == 1
                                        ? PQgetvalue(who.get(), 0, 0)
                                        : std::string("another poller");
                warnings_.push_back("line " + line + " is polled by " + other +
                                    " (two pollers with one --host name?); this poller leaves it"
                                    " alone while that one runs");
            }
            return false;
        }
    }
    Result r = Run(conn_,
                   "INSERT INTO lease(slot, controller, holder, taken, expires)"
                   " VALUES($1, $2, $3, now(), now() + $4::interval)"
                   " ON CONFLICT(slot, controller) DO UPDATE SET holder = EXCLUDED.holder,"
                   " taken = now(), expires = EXCLUDED.expires"
                   " WHERE NOT lease.done AND (lease.holder IS NULL OR lease.expires < now()"
                   " OR lease.holder = EXCLUDED.holder)"
                   " RETURNING 1",
                   {std::to_string(slot), controller, holder_, Interval()});
    if (!Ok(r)) {
        if (failure_.empty()) failure_ = url_ + ": cannot take a lease: " + PQerrorMessage(conn_);
        return false;
    }
    return PQntuples(r.get()) == 1;
}

std::string PgLeases::TakeFailure() {
    std::lock_guard lock(mutex_);
    std::string out;
    out.swap(failure_);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool PgLeases::Left(std::int64_t slot, const std::vector<std::string>& controllers, Remaining& out,
                    std::string& error) {
    out = {};
    std::lock_guard lock(mutex_);
    if (!conn_) return error = url_ + ": not open", false;
    if (PQstatus(conn_) != CONNECTION_OK) PQreset(conn_);
    const std::string slotText = std::to_string(slot);
    if (!Ok(Run(conn_,
                "UPDATE lease SET holder = NULL, expires = NULL"
                " WHERE slot = $1 AND holder = $2 AND NOT done",
                {slotText, holder_}))) {
        error = url_ + ": " + PQerrorMessage(conn_);
        return false;
    }
    // Done leases of old slots are no longer needed by anyone.
    Run(conn_, "DELETE FROM lease WHERE done AND taken < now() - interval '7 days'", {});
    Result r = Run(conn_,
                   "SELECT n, l.done, l.holder IS NOT NULL AND l.expires >= now()"
                   " FROM unnest($2::text[]) AS n"
                   " LEFT JOIN lease l ON l.slot = $1 AND l.controller = n",
                   {slotText, TextArray(controllers)});
    if (!Ok(r)) {
        error = url_ + ": " + PQerrorMessage(conn_);
        return false;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const bool known = !PQgetisnull(r.get(), i, 1);
        const bool done = known && PQgetvalue(r.get(), i, 1)[0] == 't';
        const bool live = known && PQgetvalue(r.get(), i, 2)[0] == 't';
        if (done) continue;
        if (live) {
            ++out.heldByOthers;
        } else {
            out.takeable.emplace_back(PQgetvalue(r.get(), i, 0));
        }
    }
    return true;
}

void PgLeases::ReleaseAll() {
    std::lock_guard lock(mutex_);
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return;
    Run(conn_, "UPDATE lease SET holder = NULL, expires = NULL WHERE holder = $1 AND NOT done",
        {holder_});
    Run(conn_, "DELETE FROM line_lease WHERE holder = $1", {holder_});
}

std::vector<std::string> PgLeases::TakeWarnings() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    out.swap(warnings_);
    return out;
}

}  // namespace vir05::poll
