// Rounds against a simulated fleet on TCP and on an RS485 bus: the database holds exactly what a
// whole read of every controller gives, later rounds read only what is new, failures are stored
// as failures with nothing partial, and stops end a round cleanly.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "model/datafile.h"
#include "poll_harness.h"

namespace vir05::poll::test {
namespace {

using Fixture = FleetFixture;

TEST_F(Fixture, RoundsStoreWholeArchivesThenOnlyWhatIsNewOverTcpAndTheBus) {
    sim::FleetOptions o;
    o.tcp = 3;
    o.bus = 2;
    o.archiveRecords = 3000;
    StartFleet(o, "output = \"out\"\n");
    auto& units = sim_->Units();

    const Round first = RunRound();
    ASSERT_EQ(first.results.size(), units.size());
    EXPECT_EQ(first.ExitCode(), 0);
    std::map<std::string, std::uint64_t> fullBytes;
    for (auto& u : units) {
        const ControllerResult* r = Result(first, u.name);
        ASSERT_TRUE(r && r->ok) << u.name << ": " << (r ? r->error : "no result");
        EXPECT_EQ(r->serial, u.serial);
        EXPECT_TRUE(r->wholeArchive);
        EXPECT_EQ(r->archiveBlocks, 4);
        const auto expected = ExpectedRecords(u);
        EXPECT_TRUE(SameRecords(StoredRecords(Db(), u.serial), expected)) << u.name;
        EXPECT_EQ(r->recordsNew, static_cast<int>(expected.size()));
        EXPECT_EQ(r->eventsNew, static_cast<int>(ExpectedEvents(u)));
        fullBytes[u.name] = r->lineBytes;
    }
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM reading WHERE ok=1 AND length(image)=1955"), "5");
    EXPECT_EQ(One(Db(), "SELECT count(DISTINCT reading) FROM current_value"), "5");

    // A few new records each: the event log and the blocks from the anchor on, no more.
    sim_->AppendRecords(3);
    const Round second = RunRound();
    EXPECT_EQ(second.ExitCode(), 0);
    for (auto& u : units) {
        const ControllerResult* r = Result(second, u.name);
        ASSERT_TRUE(r && r->ok) << u.name << ": " << (r ? r->error : "no result");
        EXPECT_FALSE(r->wholeArchive) << u.name;
        EXPECT_LE(r->archiveBlocks, 2) << u.name;
        EXPECT_GE(r->archiveBlocks, 1) << u.name;
        // At most two of the four blocks, and the image read once more.
        EXPECT_LT(r->lineBytes * 2, fullBytes[u.name] + 2100) << u.name;
        const int circuits = u.controller->Image()[addr::NumSystems] == 1 ? 1 : 2;
        EXPECT_EQ(r->recordsNew, 3 * circuits) << u.name;
        EXPECT_EQ(r->eventsNew, 0) << u.name;
        // No gap, no duplicate: exactly the records of a whole read.
        EXPECT_TRUE(SameRecords(StoredRecords(Db(), u.serial), ExpectedRecords(u))) << u.name;

        // The output folder keeps a whole mirror: the new blocks laid over the last data file.
        const fs::path folder = fs::path(dir_ / "out") / u.name;
        std::ifstream in(folder / (std::to_string(u.serial) + ".vi5"), std::ios::binary);
        const std::vector<char> file{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(file.size(), kDataFileSize) << u.name;
        const auto archive = u.controller->Archive();
        EXPECT_TRUE(
            std::equal(archive.begin(), archive.end(),
                       reinterpret_cast<const std::uint8_t*>(file.data()) + kDataFileFirstBlock))
            << u.name;
        std::ifstream text(folder / "def.txt", std::ios::binary);
        std::string head(12, '\0');
        text.read(head.data(), 12);
        EXPECT_EQ(head.substr(0, 10), "[0]\r\nDate=") << u.name;
        std::ifstream trace(folder / "test.txt", std::ios::binary);
        std::string start(5, '\0');
        trace.read(start.data(), 5);
        EXPECT_EQ(start, "start") << u.name;
    }
    // The poller only reads: every frame any controller received is the image read or an
    // archive block request, and the second round's blocks start with the event log's.
    for (auto& u : units) {
        int imageReads = 0;
        std::vector<std::uint32_t> lastRound;
        for (const auto& f : u.controller->ReceivedFrames()) {
            ASSERT_GE(f.size(), 7u) << u.name;
            if (f[1] != u.address) continue;  // on the bus it hears the others' frames too
            ASSERT_TRUE(f[4] == 0x01 || f[4] == 0x03) << u.name << ": operation " << int(f[4]);
            if (f[4] == 0x01) {
                EXPECT_EQ(f.size(), 13u) << u.name;
                EXPECT_EQ(U16(f.data(), 10), 0xA307) << u.name << ": the whole image";
                ++imageReads;
                lastRound.clear();
            } else {
                lastRound.push_back(static_cast<std::uint32_t>(f[6]) << 24 | f[7] << 16 |
                                    f[8] << 8 | f[9]);
            }
        }
        EXPECT_EQ(imageReads, 2) << u.name;
        ASSERT_FALSE(lastRound.empty()) << u.name;
        EXPECT_EQ(lastRound.front(), 0u) << u.name;
        EXPECT_EQ(static_cast<int>(lastRound.size()), Result(second, u.name)->archiveBlocks)
            << u.name;
    }
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM event"),
              std::to_string(ExpectedEvents(units[0]) + ExpectedEvents(units[1]) +
                             ExpectedEvents(units[2]) + ExpectedEvents(units[3]) +
                             ExpectedEvents(units[4])));
}

TEST_F(Fixture, ARingThatWentRoundSinceTheLastReadIsReadWhole) {
    sim::FleetOptions o;
    o.tcp = 2;  // one with two circuits (3584 slots), one with one (7168)
    StartFleet(o);
    ASSERT_EQ(RunRound().ExitCode(), 0);
    // More records than the two-circuit ring holds: its anchor slot is overwritten. The
    // one-circuit ring takes them within its length, but they span more than three blocks.
    sim_->AppendRecords(4000);
    const Round round = RunRound();
    ASSERT_EQ(round.ExitCode(), 0);
    for (auto& u : sim_->Units()) {
        const ControllerResult* r = Result(round, u.name);
        ASSERT_TRUE(r && r->ok);
        const auto expected = ExpectedRecords(u);
        const auto stored = StoredRecords(Db(), u.serial);
        // The database keeps what the controller has since overwritten, too.
        EXPECT_TRUE(std::includes(stored.begin(), stored.end(), expected.begin(), expected.end()))
            << u.name;
        if (u.controller->Image()[addr::NumSystems] == 1) {
            // 4000 of 7168 slots: the anchor is still there, only the new blocks are read.
            EXPECT_FALSE(r->wholeArchive) << u.name;
            EXPECT_EQ(r->recordsNew, 4000) << u.name;
            continue;
        }
        // The blocks chosen first found the anchor slot overwritten; then the whole archive.
        EXPECT_TRUE(r->wholeArchive) << u.name;
        EXPECT_GT(r->archiveBlocks, 4) << u.name;
        EXPECT_EQ(r->recordsNew, static_cast<int>(2 * ArchiveSlotCount(2))) << u.name;
    }
}

TEST_F(Fixture, ArchiveModesAllAndNone) {
    sim::FleetOptions o;
    o.tcp = 1;
    o.archiveRecords = 50;
    StartFleet(o);
    ASSERT_EQ(RunRound().ExitCode(), 0);
    const Round all = RunRound(ArchiveMode::All);
    ASSERT_EQ(all.ExitCode(), 0);
    EXPECT_EQ(all.results[0].archiveBlocks, 4);
    EXPECT_EQ(all.results[0].recordsNew, 0);
    const Round none = RunRound(ArchiveMode::None);
    ASSERT_EQ(none.ExitCode(), 0);
    EXPECT_EQ(none.results[0].archiveBlocks, 0);
    EXPECT_LT(none.results[0].lineBytes, 2100u);  // the image read and "ATE0Q1\r"
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM reading WHERE ok=1"), "3");
    // The image-only reading leaves the incremental state of the archive reads as it was.
    sim_->AppendRecords(1);
    const Round next = RunRound();
    EXPECT_FALSE(next.results[0].wholeArchive);
    EXPECT_EQ(next.results[0].recordsNew, 2);
}

// Lines that fall silent after a number of received bytes, and may tell the poller to stop
// there: a controller that stops answering in the middle of its archive.
struct Cut {
    std::uint64_t after = 0;
    std::function<void()> onCut;
    std::atomic<bool> cut{false};
};

class CuttingTcp : public ByteLine {
  public:
    CuttingTcp(std::unique_ptr<ByteLine> line, Cut& cut) : line_(std::move(line)), cut_(cut) {}
    LineKind Kind() const override { return line_->Kind(); }
    LineError Open(const LineTarget& t) override { return line_->Open(t); }
    bool IsOpen() const override { return line_->IsOpen(); }
    int Write(const std::uint8_t* d, std::size_t n) override { return line_->Write(d, n); }
    int Read(std::uint8_t* b, std::size_t n) override {
        if (cut_.cut) return 0;
        const int got = line_->Read(b, std::min<std::size_t>(n, cut_.after - received_));
        if (got > 0) received_ += static_cast<std::uint64_t>(got);
        if (received_ >= cut_.after && !cut_.cut.exchange(true) && cut_.onCut) cut_.onCut();
        return got;
    }
    void Purge() override { line_->Purge(); }
    void SetDtr(bool on) override { line_->SetDtr(on); }
    void SetRts(bool on) override { line_->SetRts(on); }
    void Close() override { line_->Close(); }

  private:
    std::unique_ptr<ByteLine> line_;
    Cut& cut_;
    std::uint64_t received_ = 0;
};

// True once a connection to 127.0.0.1:`port` is refused; waits for it at most 30 s.
bool WaitUntilRefused(std::uint16_t port) {
    for (int i = 0; i < 1500; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool refused = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
                             errno == ECONNREFUSED;
        close(fd);
        if (refused) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(Fixture, FailuresAreStoredWithTheirStatusAndTextAndNothingElse) {
    sim::FleetOptions o;
    o.tcp = 4;
    o.archiveRecords = 200;
    StartFleet(o, "tcp_parallel = 4\n");
    auto& units = sim_->Units();
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::Silence;
    units[1].faults->Set(silence);
    sim::FaultRule checksum;
    checksum.kind = sim::FaultKind::BadChecksum;
    units[2].faults->Set(checksum);
    sim::FaultRule refuse;
    refuse.kind = sim::FaultKind::Refuse;
    units[3].faults->Set(refuse);
    // The simulator closes its listener on its own thread; the round must meet a port that
    // already refuses, not a connection still queued from before.
    ASSERT_TRUE(WaitUntilRefused(units[3].tcp->Port()));

    int stored = 0;
    PollHooks hooks;
    hooks.afterStored = [&](const FleetController&, const Reading& r, const SaveCounts&) {
        stored += r.ok ? 1 : 0;
    };
    const Round round = RunRound(ArchiveMode::New, hooks);
    EXPECT_EQ(round.ExitCode(), 1);
    ASSERT_EQ(round.results.size(), 4u);
    EXPECT_TRUE(Result(round, units[0].name)->ok);
    struct Expect {
        int unit, status;
        const char* text;
    };
    for (const Expect& e :
         {Expect{1, 1, "Не пришло ни одного байта"}, Expect{2, 2, "Не сошлась контрольная сумма"},
          Expect{3, -2, "Невозможно установить соединение"}}) {
        const auto& u = units[static_cast<std::size_t>(e.unit)];
        const ControllerResult* r = Result(round, u.name);
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->ok);
        EXPECT_EQ(r->status, e.status) << u.name;
        EXPECT_EQ(r->error, e.text) << u.name;
        EXPECT_EQ(One(Db(),
                      "SELECT ok || '|' || status || '|' || error || '|' ||"
                      " ifnull(image, 'NULL') FROM reading WHERE controller='" +
                          u.name + "'"),
                  "0|" + std::to_string(e.status) + "|" + e.text + "|NULL");
        EXPECT_EQ(One(Db(), "SELECT last_error FROM controller WHERE name='" + u.name + "'"),
                  e.text);
        EXPECT_TRUE(StoredRecords(Db(), u.serial).empty()) << u.name;
    }
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM current_value"),
              One(Db(),
                  "SELECT count(*) FROM current_value WHERE reading=(SELECT id FROM"
                  " reading WHERE ok=1)"));
}

TEST_F(Fixture, AControllerFallingSilentInItsArchiveLeavesNoPartialReading) {
    sim::FleetOptions o;
    o.tcp = 1;
    o.archiveRecords = 3000;
    StartFleet(o);
    auto cut = std::make_shared<Cut>();
    cut->after = 1962 + 40000;  // inside the second archive block
    lineFactory_ = [cut] {
        WorkerLines lines;
        lines.serial = std::make_unique<QtSerialLine>("", TestTiming());
        lines.tcp = std::make_unique<CuttingTcp>(std::make_unique<QtTcpLine>(TestTiming()), *cut);
        return lines;
    };
    const Round round = RunRound();
    EXPECT_EQ(round.ExitCode(), 1);
    ASSERT_EQ(round.results.size(), 1u);
    EXPECT_FALSE(round.results[0].ok);
    EXPECT_EQ(round.results[0].status, 1);
    // Blocks came whole before the line fell silent; none of them is stored.
    EXPECT_GE(round.results[0].archiveBlocks, 1);
    EXPECT_LT(round.results[0].archiveBlocks, 4);
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM archive_record"), "0");
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM event"), "0");
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM current_value"), "0");
    EXPECT_EQ(One(Db(), "SELECT ok || '|' || status FROM reading"), "0|1");
    std::optional<StoredState> state;
    std::string error;
    ASSERT_TRUE(store_->State(sim_->Units()[0].name, state, error));
    EXPECT_FALSE(state);
}

TEST_F(Fixture, StopsEndTheRoundCleanly) {
    sim::FleetOptions o;
    o.tcp = 3;
    o.archiveRecords = 3000;
    // One worker: the controllers are read one after another, in fleet order.
    StartFleet(o, "tcp_parallel = 1\n");
    auto& units = sim_->Units();
    PollOptions options;
    options.timing = TestTiming();

    {
        SCOPED_TRACE("stop after the reading in progress");
        PollHooks hooks;
        Poller* running = nullptr;
        hooks.beforeController = [&running](const FleetController&) {
            running->StopAfterCurrent();  // the reading that is being taken still runs
            return true;
        };
        Poller p(*fleet_, *store_, options, lineFactory_, hooks);
        running = &p;
        const Round round = p.RunRound();
        EXPECT_TRUE(round.stopped);
        EXPECT_EQ(round.ExitCode(), 1);
        ASSERT_EQ(round.results.size(), 1u) << "the controllers after the first are not taken";
        EXPECT_EQ(round.results[0].name, units[0].name);
        EXPECT_TRUE(round.results[0].ok) << round.results[0].error;
        EXPECT_TRUE(SameRecords(StoredRecords(Db(), units[0].serial), ExpectedRecords(units[0])));
        EXPECT_TRUE(StoredRecords(Db(), units[1].serial).empty());
    }
    {
        SCOPED_TRACE("cancel in the middle of an archive block");
        auto cut = std::make_shared<Cut>();
        cut->after = 1962 + 20000;
        Poller* running = nullptr;
        cut->onCut = [&running] { running->Cancel(); };
        auto lines = [cut] {
            WorkerLines l;
            l.serial = std::make_unique<QtSerialLine>("", TestTiming());
            l.tcp = std::make_unique<CuttingTcp>(std::make_unique<QtTcpLine>(TestTiming()), *cut);
            return l;
        };
        Poller p(*fleet_, *store_, options, lines);
        running = &p;
        const Round round = p.RunRound();
        EXPECT_TRUE(round.stopped);
        EXPECT_EQ(round.ExitCode(), 1);
        ASSERT_EQ(round.results.size(), 1u);
        EXPECT_EQ(round.results[0].name, units[0].name);
        EXPECT_FALSE(round.results[0].ok);
        EXPECT_EQ(round.results[0].status, -1);
        EXPECT_EQ(round.results[0].error, "Отменено пользователем");
        EXPECT_EQ(One(Db(), "SELECT ok || '|' || status FROM reading ORDER BY id DESC LIMIT 1"),
                  "0|-1");
        EXPECT_EQ(One(Db(), "SELECT count(*) FROM reading WHERE ok=1"), "1");
        EXPECT_TRUE(StoredRecords(Db(), units[1].serial).empty());
    }
}

TEST_F(Fixture, NewRecordsAndANewEventAreStoredOnceAlsoByARestartedPoller) {
    StartFleet(SmallFleet(500));
    auto& units = sim_->Units();
    ASSERT_EQ(RunRound().ExitCode(), 0);
    // New records everywhere; one controller logs an event beside its old ones.
    sim_->AppendRecords(3);
    LogNewEvent(*units[0].controller);
    // The poller and its store start afresh, as after a restart: what they know is only what
    // the database holds.
    poller_.reset();
    store_ = std::make_unique<SqliteStore>(fleet_->database);
    std::string error;
    ASSERT_TRUE(store_->Open(error)) << error;
    std::map<std::string, std::pair<std::size_t, std::size_t>> offered;
    std::mutex m;
    PollHooks hooks;
    hooks.afterStored = [&](const FleetController& c, const Reading& r, const SaveCounts&) {
        std::lock_guard lock(m);
        offered[c.name] = {r.records.size(), r.events.size()};
    };
    for (int round = 2; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        offered.clear();
        const Round r = RunRound(ArchiveMode::New, hooks);
        ASSERT_EQ(r.ExitCode(), 0);
        for (auto& u : units) {
            const ControllerResult* res = Result(r, u.name);
            ASSERT_TRUE(res && res->ok) << u.name;
            EXPECT_FALSE(res->wholeArchive) << u.name;
            const int circuits = u.controller->Image()[addr::NumSystems] == 1 ? 1 : 2;
            const bool changed = round == 2;
            const bool withEvent = changed && &u == &units[0];
            // Only what is new goes to the store: the new records, and the event log only
            // when it changed.
            EXPECT_EQ(offered[u.name].first, changed ? std::size_t(3 * circuits) : 0u) << u.name;
            EXPECT_EQ(offered[u.name].second, withEvent ? ExpectedEvents(u) : 0u) << u.name;
            EXPECT_EQ(res->recordsNew, changed ? 3 * circuits : 0) << u.name;
            EXPECT_EQ(res->eventsNew, withEvent ? 1 : 0) << u.name;
            // Each record and event stored once, none missing.
            EXPECT_TRUE(SameRecords(StoredRecords(Db(), u.serial), ExpectedRecords(u))) << u.name;
            EXPECT_EQ(
                One(Db(), "SELECT count(*) FROM event WHERE serial=" + std::to_string(u.serial)),
                std::to_string(ExpectedEvents(u)))
                << u.name;
        }
    }
}

TEST_F(Fixture, HooksDeclineAndSeeEveryStoredReading) {
    StartFleet(SmallFleet(20));
    const auto& units = sim_->Units();
    std::vector<std::string> seen;
    std::mutex m;
    PollHooks hooks;
    hooks.beforeController = [&](const FleetController& c) { return c.name != units[1].name; };
    hooks.afterStored = [&](const FleetController& c, const Reading& r, const SaveCounts& n) {
        std::lock_guard lock(m);
        seen.push_back(c.name + " " + std::to_string(r.ok) + " " + std::to_string(n.recordsNew));
    };
    const Round round = RunRound(ArchiveMode::New, hooks);
    EXPECT_EQ(round.ExitCode(), 0) << "a declined controller is not a failure";
    EXPECT_TRUE(Result(round, units[1].name)->skipped);
    std::sort(seen.begin(), seen.end());
    std::vector<std::string> expected = {
        units[0].name + " 1 " + std::to_string(ExpectedRecords(sim_->Units()[0]).size()),
        units[2].name + " 1 " + std::to_string(ExpectedRecords(sim_->Units()[2]).size())};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM reading WHERE controller='" + units[1].name + "'"),
              "0");
    // --only takes the named controllers alone.
    const Round only = RunRound(ArchiveMode::None, {}, {units[2].name});
    ASSERT_EQ(only.results.size(), 1u);
    EXPECT_EQ(only.results[0].name, units[2].name);
}

}  // namespace
}  // namespace vir05::poll::test

namespace vir05::poll::test {
namespace {

// A store that takes its time over every state and every reading.
class SlowStore : public Store {
  public:
    explicit SlowStore(Store& inner) : inner_(inner) {}
    bool Open(std::string& error) override { return inner_.Open(error); }
    bool State(const std::string& c, std::optional<StoredState>& s, std::string& e) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return inner_.State(c, s, e);
    }
    bool SaveReading(const Reading& r, SaveCounts& counts, std::string& e) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return inner_.SaveReading(r, counts, e);
    }
    bool SaveFailure(const Reading& r, std::string& e) override { return inner_.SaveFailure(r, e); }

  private:
    Store& inner_;
};

TEST_F(Fixture, TheRoundSaysWhereItWaitedOnItsStore) {
    StartFleet(SmallFleet(20));
    SlowStore slow(*store_);
    PollOptions options;
    options.timing = TestTiming();
    Poller poller(*fleet_, slow, options, lineFactory_);
    const Round round = poller.RunRound();
    ASSERT_EQ(round.ExitCode(), 0);
    // The three states are fetched one after another before any worker starts.
    EXPECT_GE(round.statesSeconds, 0.4);
    // The last reading is handed over as its worker ends; its store comes after.
    EXPECT_GE(round.drainSeconds, 0.2);
    EXPECT_EQ(round.workers, 3);  // the bus line's worker and one for each TCP controller
}

}  // namespace
}  // namespace vir05::poll::test
