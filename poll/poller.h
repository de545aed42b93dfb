// The rounds of the poller: every controller of the fleet read once, one worker per serial line
// (its controllers one after another) and up to tcp_parallel workers for TCP (controllers behind
// the same host and port one after another, as they share the gateway's single connection).
//
// One controller's reading goes through these steps, each a hook point:
//   1. hooks.beforeController: may decline the controller for this round (another poller has it);
//   2. the stored state of its last archive read is fetched;
//   3. one pass of the link: the image read and, unless the archive is off, the archive blocks
//      chosen from that image (only what is new, or the whole archive);
//   4. an incremental read whose anchor record is gone is repeated as a whole read;
//   5. the files of the output folder are written (successful readings only);
//   6. the reading is stored in one transaction (a failure stores its row only);
//   7. hooks.afterStored: the reading as stored and its counts.
//
// Steps 1 to 5 run on the controller's worker; the worker then hands the reading to the
// round's single writer thread, which stores it (step 6) and runs hooks.afterStored (step 7)
// while the worker goes on with its next controller. The states of step 2 are fetched for every
// controller before the round starts.
//
// The poller only reads: it sends the image read and archive block requests and nothing else.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/byte_line.h"
#include "core/protocol/timing.h"
#include "poll/fleet.h"
#include "poll/store.h"

namespace vir05::poll {

// The outcome of one controller in one round.
struct ControllerResult {
    std::string name;
    std::optional<std::int64_t> serial;
    bool ok = false;
    bool skipped = false;  // declined by hooks.beforeController; not read, not failed
    int status = 0;
    std::string error;
    double seconds = 0;
    int archiveBlocks = 0;
    std::uint64_t lineBytes = 0;
    int recordsNew = 0;
    int eventsNew = 0;
    bool wholeArchive = false;  // the whole archive was read
    bool done = false;          // taken in this round (a stop leaves the rest untaken)
};

struct Round {
    std::vector<ControllerResult> results;  // in fleet order
    bool stopped = false;                   // a stop ended the round early
    std::string storeError;                 // the store failed (the round may have gone on)
    // Where the round waited on its store: fetching the stored states before the workers
    // started, workers held back by a full hand-over queue (summed over the workers), and the
    // writer's last stores after every worker had ended.
    double statesSeconds = 0;
    double heldBackSeconds = 0;
    double drainSeconds = 0;
    int workers = 0;

    bool AllRead() const;
    int ExitCode() const { return AllRead() ? 0 : 1; }
};

// The lines one worker uses; made per worker, used by that worker's thread only.
struct WorkerLines {
    std::unique_ptr<ByteLine> serial;
    std::unique_ptr<ByteLine> tcp;
};
using LineFactory = std::function<WorkerLines()>;

struct PollHooks {
    std::function<bool(const FleetController&)> beforeController;
    std::function<void(const FleetController&, const Reading&, const SaveCounts&)> afterStored;
};

// Live state of a worker, for the progress display.
struct WorkerView {
    std::string label;        // line name, or "TCP n"
    std::string controller;   // being read now ("" idle)
    int done = 0, total = 0;  // total 0: a TCP worker, which takes from a shared queue
    int progress = 0;         // percent of the current reading
};

struct PollOptions {
    ArchiveMode archive = ArchiveMode::New;
    std::vector<std::string> only;  // empty: every controller
    LinkTiming timing = LinkTiming::Default();
    // Every wait of the link goes through it (empty: a real sleep); the benchmarks count them.
    std::function<void(int ms)> sleep;
};

class Poller {
  public:
    Poller(const Fleet& fleet, Store& store, PollOptions options, LineFactory lines,
           PollHooks hooks = {});
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // Runs one round and returns when every worker has finished.
    Round RunRound();

    // From any thread. StopAfterCurrent: no controller is started any more, readings in progress
    // run to their end. Cancel: readings in progress are cut at the link's next poll and stored
    // as cancelled (status -1), never as partial readings.
    void StopAfterCurrent();
    void Cancel();
    bool Stopping() const { return stop_.load(); }

    // A copy of the workers' live state.
    std::vector<WorkerView> Views() const;

  private:
    struct Group;
    struct Worker;
    // A controller as its worker leaves it: the result so far and the reading to store.
    struct Taken {
        ControllerResult result;
        Reading reading;
    };
    struct Job {
        Taken taken;
        std::size_t slot = 0;
    };
    static constexpr std::size_t kQueueLimit = 16;
    std::atomic<long long> heldBackNs_{0};
    void RunWorker(Worker& worker);
    Taken PollOne(const FleetController& c, Worker& worker);
    void Enqueue(Taken taken, std::size_t slot);
    void RunWriter(std::vector<ControllerResult>& results);

    const Fleet& fleet_;
    Store& store_;
    PollOptions options_;
    LineFactory lineFactory_;
    PollHooks hooks_;
    std::mutex storeMutex_;  // guards storeError_; the store itself is used by one thread
    std::map<const FleetController*, std::optional<StoredState>> states_;
    std::mutex queueMutex_;
    std::condition_variable queueReady_, queueSpace_;
    std::deque<Job> queue_;
    bool queueClosed_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> cancel_{false};
    mutable std::mutex viewMutex_;
    std::vector<WorkerView> views_;
    std::mutex enginesMutex_;
    std::vector<std::atomic<std::int32_t>*> runningCommands_;
    std::string storeError_;
};

// "30s", "15m", "1h", "2d" or a number of seconds; nullopt when unusable or not positive.
std::optional<std::int64_t> ParseDuration(std::string_view text);

// The next whole multiple of `interval` seconds since the epoch at or after `now` (seconds).
std::int64_t NextBoundary(std::int64_t now, std::int64_t interval);

// The JSON text of a round: an array of one object per controller read or failed.
std::string RoundJson(const Round& round);
// The summary table for people.
std::string RoundTable(const Round& round);

}  // namespace vir05::poll
