#include "poll/poller.h"

#include <QThread>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <thread>

#include "core/protocol/link_engine.h"
#include "core/protocol/trace.h"
#include "core/snapshot.h"
#include "core/text_output.h"
#include "model/bytes.h"
#include "model/datafile.h"
#include "model/memory.h"
#include "poll/increment.h"

namespace vir05::poll {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

const char kTextCancelled[] = "Отменено пользователем";

std::string UtcText(Clock::time_point t) {
    const std::time_t s = Clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&s, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

bool WriteWhole(const fs::path& path, const std::string& bytes) {
    // Beside and renamed: a reader never sees half a file, a failure leaves the old one.
    const fs::path temp = path.string() + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!written || !closed) {
        fs::remove(temp, ec);
        return false;
    }
    fs::rename(temp, path, ec);
    return !ec;
}

// Loads a data file of the same controller whole; false when there is none that fits.
bool LoadPrevious(const fs::path& path, std::int64_t serial, MemoryAreas& areas) {
    std::error_code ec;
    if (fs::file_size(path, ec) != kDataFileSize || ec) return false;
    if (LoadDataFile(path.string(), areas) != OpenStage::None) return false;
    return I32(areas.DeviceImage(), addr::DevNumber) == serial;
}

}  // namespace

bool Round::AllRead() const {
    if (stopped || !storeError.empty()) return false;
    return std::all_of(results.begin(), results.end(),
                       [](const ControllerResult& r) { return r.ok || r.skipped; });
}

struct Poller::Group {
    std::vector<const FleetController*> controllers;
};

struct Poller::Worker {
    int index = 0;
    std::vector<Group*> groups;    // a serial worker's one group
    std::function<Group*()> take;  // TCP workers: the next group of the queue, or null
    bool tcp = false;
    WorkerLines lines;
    std::unique_ptr<MemoryAreas> areas = std::make_unique<MemoryAreas>();
    std::unique_ptr<MemoryAreas> previous = std::make_unique<MemoryAreas>();
    std::atomic<std::uint8_t> progress{0};
    std::vector<ControllerResult>* results = nullptr;
    std::map<const FleetController*, std::size_t>* slot = nullptr;
};

Poller::Poller(const Fleet& fleet, Store& store, PollOptions options, LineFactory lines,
               PollHooks hooks)
    : fleet_(fleet),
      store_(store),
      options_(std::move(options)),
      lineFactory_(std::move(lines)),
      hooks_(std::move(hooks)) {}

Poller::~Poller() = default;

void Poller::StopAfterCurrent() {
    stop_ = true;
}

void Poller::Cancel() {
    stop_ = true;
    cancel_ = true;
    std::lock_guard lock(enginesMutex_);
    for (std::atomic<std::int32_t>* c : runningCommands_)
        c->store(0);
}

std::vector<WorkerView> Poller::Views() const {
    std::lock_guard lock(viewMutex_);
    return views_;
}

Round Poller::RunRound() {
    Round round;
    std::vector<const FleetController*> chosen;
    for (const FleetController& c : fleet_.controllers)
        if (options_.only.empty() ||
            std::find(options_.only.begin(), options_.only.end(), c.name) != options_.only.end())
            chosen.push_back(&c);

    // Groups: one per serial line, one per TCP host and port.
    std::vector<std::unique_ptr<Group>> serialGroups, tcpGroups;
    std::vector<std::string> serialNames;
    std::map<std::string, Group*> byKey;
    for (const FleetController* c : chosen) {
        const bool tcp = c->OverTcp();
        const std::string key =
            tcp ? c->host + ":" + std::to_string(c->tcpPort) : "line:" + c->line;
        Group*& g = byKey[key];
        if (!g) {
            auto& list = tcp ? tcpGroups : serialGroups;
            list.push_back(std::make_unique<Group>());
            g = list.back().get();
            if (!tcp) serialNames.push_back(c->line);
        }
        g->controllers.push_back(c);
    }

    std::map<const FleetController*, std::size_t> slot;
    round.results.resize(chosen.size());
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        slot[chosen[i]] = i;
        round.results[i].name = chosen[i]->name;
    }

    std::vector<std::unique_ptr<Worker>> workers;
    for (std::size_t i = 0; i < serialGroups.size(); ++i) {
        auto w = std::make_unique<Worker>();
        w->groups.push_back(serialGroups[i].get());
        workers.push_back(std::move(w));
    }
    const std::size_t tcpWorkers =
        std::min<std::size_t>(static_cast<std::size_t>(fleet_.tcpParallel), tcpGroups.size());
    // TCP workers take the next group from one queue, the biggest groups first, so that a
    // slow controller holds up only its own worker and the workers end together.
    std::vector<Group*> tcpOrder;
    for (auto& g : tcpGroups)
        tcpOrder.push_back(g.get());
    std::stable_sort(tcpOrder.begin(), tcpOrder.end(), [](const Group* a, const Group* b) {
        return a->controllers.size() > b->controllers.size();
    });
    std::atomic<std::size_t> nextTcp{0};
    const auto takeTcp = [&]() -> Group* {
        const std::size_t i = nextTcp++;
        return i < tcpOrder.size() ? tcpOrder[i] : nullptr;
    };
    std::size_t firstTcp = workers.size();
    for (std::size_t i = 0; i < tcpWorkers; ++i) {
        auto w = std::make_unique<Worker>();
        w->tcp = true;
        workers.push_back(std::move(w));
    }
    {
        std::lock_guard lock(viewMutex_);
        views_.clear();
        for (std::size_t i = 0; i < workers.size(); ++i) {
            Worker& w = *workers[i];
            w.index = static_cast<int>(i);
            w.results = &round.results;
            w.slot = &slot;
            WorkerView v;
            v.label = w.tcp ? "TCP " + std::to_string(i - firstTcp + 1) : serialNames[i];
            views_.push_back(v);
        }
    }
    for (auto& w : workers)
        if (w->tcp) w->take = takeTcp;
    {
        std::lock_guard lock(viewMutex_);
        for (auto& w : workers) {
            int total = 0;
            for (Group* g : w->groups)
                total += static_cast<int>(g->controllers.size());
            views_[static_cast<std::size_t>(w->index)].total = total;
        }
    }

    // The state of every controller's last archive read, fetched once before the round.
    const auto statesStart = std::chrono::steady_clock::now();
    states_.clear();
    if (options_.archive == ArchiveMode::New) {
        for (const FleetController* c : chosen) {
            std::optional<StoredState> state;
            std::string error;
            if (!store_.State(c->name, state, error)) {
                // Read whole then; storing will show whether the store works.
                std::lock_guard lock(storeMutex_);
                if (storeError_.empty()) storeError_ = error;
            }
            states_[c] = state;
        }
    }

    round.statesSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - statesStart).count();
    round.workers = static_cast<int>(workers.size());
    heldBackNs_ = 0;

    // One writer stores the readings as the workers hand them over, so that a worker goes on
    // to its next controller while the last reading is being stored.
    {
        std::lock_guard lock(queueMutex_);
        queue_.clear();
        queueClosed_ = false;
    }
    std::thread writer([this, &round] { RunWriter(round.results); });

    std::vector<std::unique_ptr<QThread>> threads;
    for (auto& w : workers) {
        Worker* worker = w.get();
        threads.emplace_back(QThread::create([this, worker] { RunWorker(*worker); }));
        threads.back()->start();
    }
    for (auto& t : threads)
        t->wait();
    const auto workersEnded = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(queueMutex_);
        queueClosed_ = true;
        queueReady_.notify_all();
    }
    writer.join();
    round.drainSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - workersEnded).count();
    round.heldBackSeconds = static_cast<double>(heldBackNs_.load()) / 1e9;

    // Controllers never started (a stop came first) are not in the results.
    std::vector<ControllerResult> done;
    for (ControllerResult& r : round.results)
        if (r.done) done.push_back(std::move(r));
    // Stopped: a controller was left untaken, or readings were cut short.
    round.stopped = done.size() < round.results.size() || cancel_.load();
    round.results = std::move(done);
    std::lock_guard lock(storeMutex_);
    round.storeError = storeError_;
    return round;
}

void Poller::RunWorker(Worker& worker) {
    worker.lines = lineFactory_();
    std::size_t fixed = 0;
    for (;;) {
        Group* g = nullptr;
        if (worker.take)
            g = worker.take();
        else if (fixed < worker.groups.size())
            g = worker.groups[fixed++];
        if (!g) return;
        for (const FleetController* c : g->controllers) {
            if (stop_.load()) return;
            {
                std::lock_guard lock(viewMutex_);
                views_[static_cast<std::size_t>(worker.index)].controller = c->name;
            }
            Taken taken = PollOne(*c, worker);
            if (taken.result.skipped)
                (*worker.results)[worker.slot->at(c)] = std::move(taken.result);
            else
                Enqueue(std::move(taken), worker.slot->at(c));
            std::lock_guard lock(viewMutex_);
            WorkerView& v = views_[static_cast<std::size_t>(worker.index)];
            v.controller.clear();
            ++v.done;
        }
    }
}

Poller::Taken Poller::PollOne(const FleetController& c, Worker& worker) {
    ControllerResult result;
    result.name = c.name;
    result.done = true;
    if (hooks_.beforeController && !hooks_.beforeController(c)) {
        result.skipped = true;
        return Taken{std::move(result), {}};
    }
    const auto started = Clock::now();
    const auto steadyStart = std::chrono::steady_clock::now();
    Reading reading;
    reading.controller = c.name;
    reading.address = c.address;
    reading.started = UtcText(started);

    std::optional<StoredState> state;
    if (const auto it = states_.find(&c); it != states_.end()) state = it->second;

    const fs::path folder = fleet_.output.empty() ? fs::path() : fs::path(fleet_.output) / c.name;
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
    }
    TraceLog trace(folder.empty() ? std::string() : (folder / "test.txt").string());

    std::uint64_t bytes = 0;
    CountingLine serial(*worker.lines.serial, bytes);
    CountingLine tcp(*worker.lines.tcp, bytes);
    LineChoice line(serial, tcp);
    MemoryAreas& areas = *worker.areas;
    auto engine = std::make_unique<LinkEngine>(line, LinkImage::Of(areas), options_.timing,
                                               trace.Enabled() ? &trace : nullptr, options_.sleep);
    LinkRequest& req = engine->Request();

    BlockChoice choice;
    bool previousLoaded = false;
    auto pass = [&](bool whole) {
        const int cmd =
            options_.archive == ArchiveMode::None ? command::ReadCurrent : command::ReadArchive;
        engine->SetArchiveBlockChooser([&, whole](const std::uint8_t* image, const ArchivePlan&) {
            if (whole || options_.archive == ArchiveMode::All) {
                choice = BlockChoice{WholeArchiveBlocks(U32(image, addr::ArchPos)), true,
                                     whole ? "anchor record gone" : "archive = all"};
            } else {
                choice = ChooseBlocks(image, state);
                // The output folder keeps a whole mirror: new blocks go over the last data file,
                // so without one the archive is read whole.
                if (!choice.whole && !folder.empty()) {
                    const auto serialNo = I32(image, addr::DevNumber);
                    previousLoaded = LoadPrevious(folder / (std::to_string(serialNo) + ".vi5"),
                                                  serialNo, *worker.previous);
                    if (!previousLoaded)
                        choice = BlockChoice{WholeArchiveBlocks(U32(image, addr::ArchPos)), true,
                                             "no data file to add to"};
                }
            }
            return choice.blocks;
        });
        std::fill(areas.ReceiveArea.begin(), areas.ReceiveArea.end(), 0);
        if (c.OverTcp())
            req.FillTcp(cmd, c.host, c.tcpPort, c.address, areas.ReceiveArea.data(),
                        &worker.progress);
        else
            req.FillSerial(cmd, fleet_.Line(c.line)->port, c.address, c.phone,
                           fleet_.Line(c.line)->baud, areas.ReceiveArea.data(), &worker.progress);
        {
            std::lock_guard lock(enginesMutex_);
            runningCommands_.push_back(&req.Command);
            if (cancel_.load()) req.Command = 0;
        }
        engine->RunPass();
        {
            std::lock_guard lock(enginesMutex_);
            runningCommands_.erase(
                std::find(runningCommands_.begin(), runningCommands_.end(), &req.Command));
        }
        result.archiveBlocks += engine->ArchiveBlocksRead();
        const bool archiveWhole =
            cmd == command::ReadCurrent || engine->ArchiveBlocksRead() == choice.blocks.count;
        return req.Status.load() == 0 && !cancel_.load() && archiveWhole;
    };

    bool ok = pass(false);
    const std::uint8_t* image = areas.ReceiveArea.data() + kReceiveImageOffset;
    const std::uint8_t* archive = areas.ReceiveArea.data() + kReceiveArchiveOffset;
    if (ok && options_.archive != ArchiveMode::None && !choice.whole && state &&
        AnchorKey(archive, state->numSystems, state->archPos) != state->anchorKey) {
        // The slot of the newest stored record holds another one now: the ring went round
        // more than once since, or was erased. Only a whole read is sure to miss nothing.
        ok = pass(true);
    }
    result.lineBytes = bytes;
    result.wholeArchive = options_.archive != ArchiveMode::None && choice.whole;

    reading.finished = UtcText(Clock::now());
    reading.archiveBlocks = result.archiveBlocks;
    reading.lineBytes = bytes;
    if (!ok) {
        reading.ok = false;
        if (cancel_.load()) {
            reading.status = link_status::Cancelled;
            reading.error = kTextCancelled;
        } else {
            reading.status = req.Status.load();
            reading.error = req.ErrorText;
            if (reading.status == 0) {
                // Defensive: a pass that did not read every block it asked for is no success.
                reading.status = link_status::NoReply;
                if (reading.error.empty()) reading.error = "Архив прочитан не полностью";
            }
        }
    } else {
        reading.ok = true;
        reading.status = 0;
        reading.image.assign(image, image + kImageSize);
        reading.serial = I32(image, addr::DevNumber);
        reading.softVer = U16(image, addr::SoftVer) / 100.0;
        reading.circuits = NormalisedCircuits(image);
        reading.currentValues = CurrentValues(image);
        if (options_.archive != ArchiveMode::None)
            FillArchive(reading, image, archive, choice, state);
    }

    result.status = reading.status;
    result.error = reading.error;
    if (reading.ok) result.serial = reading.serial;

    if (reading.ok && !folder.empty()) {
        // The data file and the text output of this reading; an incremental read lays its
        // blocks over the last data file, so the file stays a whole mirror.
        MemoryAreas& out = previousLoaded && !choice.whole ? *worker.previous : areas;
        if (&out == &areas) std::fill(out.block.begin(), out.block.end(), 0);
        std::copy(image, image + kImageSize, out.DeviceImage());
        std::copy(image, image + kImageSize, out.ConfigShadow());
        if (options_.archive != ArchiveMode::None)
            for (int i = 0; i < choice.blocks.count; ++i) {
                const std::uint32_t s = choice.blocks.start[static_cast<std::size_t>(i)];
                std::copy(archive + s, archive + s + kArchiveBlockSize, out.ArchiveImage() + s);
            }
        const std::string name = std::to_string(reading.serial) + ".vi5";
        bool filesOk = SaveDataFile((folder / name).string(), out);
        const ImageSnapshot snap = TakeSnapshot(out.DeviceImage());
        auto order = std::make_unique<ArchiveOrder>();
        std::string text;
        AppendTextOutput(text,
                         TextOutputSource{snap, out.DeviceImage(), out.ArchiveImage(),
                                          PanelTimeText(out.DeviceImage())},
                         *order);
        filesOk = WriteWhole(folder / kDefaultOutputName, text) && filesOk;
        if (!filesOk) result.error = "cannot write the files in " + folder.string();
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - steadyStart).count();
    return Taken{std::move(result), std::move(reading)};
}

void Poller::Enqueue(Taken taken, std::size_t slot) {
    std::unique_lock lock(queueMutex_);
    // A bounded queue: a store that falls behind holds the workers back, not the memory.
    if (queue_.size() >= kQueueLimit) {
        const auto held = std::chrono::steady_clock::now();
        queueSpace_.wait(lock, [this] { return queue_.size() < kQueueLimit; });
        heldBackNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - held)
                           .count();
    }
    queue_.push_back(Job{std::move(taken), slot});
    queueReady_.notify_one();
}

void Poller::RunWriter(std::vector<ControllerResult>& results) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(queueMutex_);
            queueReady_.wait(lock, [this] { return !queue_.empty() || queueClosed_; });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            queueSpace_.notify_one();
        }
        ControllerResult& result = job.taken.result;
        const Reading& reading = job.taken.reading;
        const FleetController* c = nullptr;
        for (const FleetController& f : fleet_.controllers)
            if (f.name == reading.controller) c = &f;
        SaveCounts counts;
        std::string error;
        const bool stored = reading.ok ? store_.SaveReading(reading, counts, error)
                                       : store_.SaveFailure(reading, error);
        if (!stored) {
            std::lock_guard lock(storeMutex_);
            if (storeError_.empty()) storeError_ = error;
            if (reading.ok) result.error = error;
        }
        result.ok = reading.ok && stored;
        result.recordsNew = counts.recordsNew;
        result.eventsNew = counts.eventsNew;
        if (stored && c && hooks_.afterStored) hooks_.afterStored(*c, reading, counts);
        results[job.slot] = std::move(result);
    }
}

std::optional<std::int64_t> ParseDuration(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int64_t unit = 1;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            unit = 0;
    }
    if (unit != 0)
        text.remove_suffix(1);
    else
        unit = 1;
    std::int64_t n = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || n <= 0 ||
        n > 366 * 86400 / unit)
        return std::nullopt;
    return n * unit;
}

std::int64_t NextBoundary(std::int64_t now, std::int64_t interval) {
    const std::int64_t q = now / interval + (now % interval != 0 ? 1 : 0);
    return q * interval;
}

namespace {

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace

std::string RoundJson(const Round& round) {
    std::string out = "[";
    bool first = true;
    for (const ControllerResult& r : round.results) {
        if (r.skipped) continue;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
        out += first ? "\n" : ",\n";
        first = false;
        out += "  {\"name\": " + JsonText(r.name) +
               ", \"serial\": " + (r.serial ? std::to_string(*r.serial) : "null") +
               ", \"ok\": " + (r.ok ? "true" : "false") +
               ", \"status\": " + std::to_string(r.status) + ", \"error\": " + JsonText(r.error) +
               ", \"seconds\": " + seconds +
               ", \"archive_blocks\": " + std::to_string(r.archiveBlocks) +
               ", \"line_bytes\": " + std::to_string(r.lineBytes) +
               ", \"records_new\": " + std::to_string(r.recordsNew) +
               ", \"events_new\": " + std::to_string(r.eventsNew) + "}";
    }
    return out + (first ? "]\n" : "\n]\n");
}

// Pads to `width` characters (not bytes: names are often Cyrillic).
static std::string Padded(const std::string& s, std::size_t width) {
    std::size_t chars = 0;
    for (char ch : s)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++chars;
    return chars >= width ? s + " " : s + std::string(width - chars, ' ');
}

std::string RoundTable(const Round& round) {
    std::string out;
    char line[512];
    int okCount = 0, failed = 0;
    std::uint64_t bytes = 0;
    for (const ControllerResult& r : round.results) {
        if (r.skipped) continue;
        (r.ok ? okCount : failed)++;
        bytes += r.lineBytes;
        std::snprintf(line, sizeof line, "%-6s %9s %6d %10llu %8d %7d %8.1f  %s\n",
                      r.ok ? "ok" : "ERROR", r.serial ? std::to_string(*r.serial).c_str() : "-",
                      r.archiveBlocks, static_cast<unsigned long long>(r.lineBytes), r.recordsNew,
                      r.eventsNew, r.seconds,
                      r.ok ? "" : (std::to_string(r.status) + " " + r.error).c_str());
        out += Padded(r.name, 20) + " " + line;
    }
    std::snprintf(line, sizeof line, "%d read, %d failed, %llu bytes on the lines%s\n", okCount,
                  failed, static_cast<unsigned long long>(bytes),
                  round.stopped ? ", stopped before the end" : "");
    std::string head;
    std::snprintf(line + 256, 256, "%-20s %-6s %9s %6s %10s %8s %7s %8s  %s\n", "controller",
                  "result", "serial", "blocks", "bytes", "records", "events", "seconds", "error");
    head = line + 256;
    if (!round.storeError.empty()) out += "database: " + round.storeError + "\n";
    return head + out + line;
}

}  // namespace vir05::poll
