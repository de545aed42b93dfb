// Leases: how several pollers share one fleet through the database, each controller read once
// per slot (a slot is one --every interval, numbered from the epoch).
//
// Table lease(slot, controller, holder, taken, expires, done, reading): a poller takes a
// controller of a slot by writing itself as holder with an expiry, which succeeds only when the
// row is new, free, expired, or already its own, and never once the controller is done. The
// store marks the lease done in the transaction that stores the reading. While a poller lives, a
// heartbeat pushes the expiry of its leases forward; a poller that dies (kill -9, power cut)
// stops renewing them and the others take its controllers once they expire.
//
// Table line_lease(line, holder, expires): a serial line is polled by one process at a time. A
// line belongs to the host named in the fleet file, but two pollers started with the same host
// name would both open the port; the second finds the line held and leaves it alone (with a
// warning) until the first is gone.
//
// A holder is "HOST/PID/RANDOM", unique per process even when host names clash.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct pg_conn;

namespace vir05::poll {

std::string MakeLeaseHolder(const std::string& host);

class PgLeases {
  public:
    PgLeases(std::string url, std::string holder, std::chrono::milliseconds lease);
    ~PgLeases();
    PgLeases(const PgLeases&) = delete;
    PgLeases& operator=(const PgLeases&) = delete;

    // Connects (its own connection), makes sure the schema exists and starts the heartbeat.
    bool Open(std::string& error);

    // Takes `controller` for `slot`; `line` is its serial line ("" over TCP), whose lease is
    // taken first. False when another poller holds it, it is done, or the database failed.
    // Safe from several workers at once.
    bool Take(std::int64_t slot, const std::string& controller, const std::string& line);

    struct Remaining {
        std::vector<std::string> takeable;  // to be read now (new, free or expired)
        int heldByOthers = 0;               // being read by a live poller
    };
    // Of `controllers`, those of `slot` not done yet. This poller's own leases that are not done
    // (a reading it could not store) are handed back first, so that another poller may try.
    bool Left(std::int64_t slot, const std::vector<std::string>& controllers, Remaining& out,
              std::string& error);

    // Gives back every lease this poller holds that is not done, and its lines.
    void ReleaseAll();

    // The first database failure of Take since the last call ("" none): a controller that could
    // not be taken for it was not read, and the round must not count as complete.
    std::string TakeFailure();

    // Messages for the operator since the last call (a line held by another process).
    std::vector<std::string> TakeWarnings();

    const std::string& Holder() const { return holder_; }
    std::chrono::milliseconds LeaseTime() const { return lease_; }

  private:
    void Heartbeat();
    std::string Interval() const;

    std::string url_;
    std::string holder_;
    std::chrono::milliseconds lease_;
    pg_conn* conn_ = nullptr;
    std::mutex mutex_;  // guards conn_ and warnings_
    std::vector<std::string> warnings_;
    std::string failure_;
    std::set<std::string> warnedLines_;

    std::thread heartbeat_;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stop_ = false;
};

}  // namespace vir05::poll
