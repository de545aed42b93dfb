// A long run of reads against the simulated controller with seeded faults in its replies.
//
// Reads of current values (as the window's cyclic mode repeats them) and archive reads go over
// TCP and over a pseudo-terminal serial line. Before every exchange the soak chooses what the
// controller's reply suffers: nothing, a wrong checksum, a wrong first byte, a reply cut in half,
// a reply that stalls in the middle for longer than the reply wait, or no reply at all; on TCP
// some reads meet a refused connection instead. From that plan it knows the outcome the protocol
// prescribes (five attempts for the image and five for each archive block; success when a clean
// reply comes within them, otherwise the status and text of the last failure) and checks for
// every read that
//  - the link parks within the time its waits allow (a watchdog computed from the timing table
//    and the attempts of the plan, with a generous margin);
//  - status, error text, failed exchanges, attempts and the frames the controller saw are the
//    prescribed ones;
//  - after a failure the three memory areas are byte for byte as before it; after a success the
//    window's take-over leaves them equal to the controller's memories.
//
// Environment: VIR05_SOAK_TCP_CYCLIC, VIR05_SOAK_TCP_ARCHIVE, VIR05_SOAK_PTY_CYCLIC and
// VIR05_SOAK_PTY_ARCHIVE set the number of reads per line (default 2000 cyclic and 200 archive
// reads on each); VIR05_SOAK_SEED with the same counts repeats a run (every failure names the
// seed, the line and the read); VIR05_SOAK_VERBOSE=1 prints every read.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/command_cycle.h"
#include "core/completion.h"
#include "core/protocol/frame.h"
#include "core/protocol/link_engine.h"
#include "link/rwclass.h"
#include "link_harness.h"
#include "model/bytes.h"
#include "model/memory.h"

namespace vir05::test {
namespace {

using Clock = std::chrono::steady_clock;
using sim::FaultKind;

// The fastest speed the connection dialog offers; the simulated line paces its bytes at it.
constexpr std::uint32_t kBaud = 115200;
// Archive reads over the serial line fetch one block (the amount is raised to one block), so
// that a read takes about a second of line time rather than four.
constexpr std::int32_t kPtyArchiveSlots = 1000;

enum class Line { Tcp, Pty };

const char* LineName(Line line) {
    return line == Line::Tcp ? "TCP" : "PTY";
}

// The soak's waits: ticks of 4 ms, and a reply wait of 60 ticks that spans 240 ms on TCP and
// 840 ms on the serial line, far more than the simulator needs between bytes also on a loaded
// machine (where a wait of 80 ms let clean replies miss their attempt). An empty poll of
// the serial line waits 10 ms for a byte: the simulated line sends its bytes in slices of 5 ms
// of line time, and only a poll longer than that finds a line empty exactly when it is quiet,
// as a real line's poll of 100 ms does.
LinkTiming SoakTiming() {
    LinkTiming t;
    t.tickMs = 4;
    t.beforeSerialOpenMs = 1;
    t.beforeTcpSendMs = 1;
    t.serialReadTimeoutMs = 10;
    t.tcpConnectTimeoutMs = 5000;
    t.replyTicksCreated = 60;
    return t;
}

// One tick as the link spends it on the line: the empty poll and the pause after it.
int TickMs(const LinkTiming& t, Line line) {
    return t.tickMs + (line == Line::Pty ? t.serialReadTimeoutMs : 0);
}

// Reply waits a stalled reply outlasts. An image reply is cut by one gap of ReplyTicks - 1
// ticks; an archive block waits once more, for its checksum byte, and then drains for a
// quarter of the reply wait, so its stall is longer. Both leave room for ticks that run late,
// as they do on a loaded machine.
double StallReplyWaits(bool archiveBlock) {
    return archiveBlock ? 5.0 : 3.0;
}
// Pauses that have surely passed between the last byte before the stall and the caption step.
int PausesBeforeCaption(const LinkTiming& t, bool archiveBlock) {
    const int ticks = t.replyTicksCreated;
    return (archiveBlock ? 2 * ticks - 1 + ticks / 4 : ticks - 1) * t.tickMs;
}

int StallMs(const LinkTiming& t, Line line, bool archiveBlock) {
    return static_cast<int>(StallReplyWaits(archiveBlock) * t.replyTicksCreated * TickMs(t, line));
}

double WireMs(Line line, double bytes) {
    return line == Line::Pty ? bytes * 11 * 1000 / kBaud : 0.0;
}

// After a stalled attempt the caption step is served only once the rest of the reply has come:
// the stall less the waits that cut the reply, the rest of an image reply on the line, and a
// little more.
int StallWaitMs(const LinkTiming& t, Line line, bool archiveBlock) {
    return StallMs(t, line, archiveBlock) - PausesBeforeCaption(t, archiveBlock) +
           static_cast<int>(WireMs(line, kImageReplyLength / 2.0)) + 50;
}

// Deterministic random numbers for the plans (the same seed gives the same run everywhere).
struct Rng {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
};

constexpr FaultKind kReplyFaults[] = {FaultKind::BadChecksum, FaultKind::BadFirstByte,
                                      FaultKind::Truncated, FaultKind::Stall, FaultKind::Silence};

// One exchange of a read: the fault its reply meets (None: a clean reply).
struct Exchange {
    FaultKind fault = FaultKind::None;
    bool archiveBlock = false;
};

// How a failed exchange ends: its status and its error text (begins with `text`, ends with
// `suffix`).
struct Verdict {
    int status = 0;
    std::string text;
    std::string suffix;
};

Verdict FailureOf(FaultKind fault, bool archiveBlock) {
    switch (fault) {
        case FaultKind::BadChecksum:
            return {link_status::Checksum, "Не сошлась контрольная сумма", ""};
        case FaultKind::BadFirstByte:  // the simulator puts 0x55 in place of 170
            return {archiveBlock ? link_status::BadArchiveHeader : link_status::BadImageHeader,
                    "Неверный заголовок ответа: 85 вместо 170", ""};
        case FaultKind::Truncated:
        case FaultKind::Stall:
            // Half of an image reply; a compressed block's half decodes to a count of its own.
            if (!archiveBlock) return {link_status::NoReply, "Пришло 981 байт вместо 1962", ""};
            return {link_status::NoReply, "Пришло ", " байт вместо 32775"};
        case FaultKind::Silence:
            return {link_status::NoReply, "Не пришло ни одного байта", ""};
        case FaultKind::Refuse:
            return {link_status::NotOpened, "Невозможно установить соединение", ""};
        default:
            return {};
    }
}

// What one read will meet and how it must end.
struct ReadPlan {
    int command = command::ReadCurrent;
    bool refused = false;             // TCP: the connection is refused
    std::vector<Exchange> exchanges;  // in the order the link makes them
    int failedExchanges = 0;
    Verdict verdict;  // status 0: success

    std::string Describe() const {
        std::ostringstream s;
        s << (command == command::ReadArchive ? "archive read" : "cyclic read");
        if (refused) s << ", connection refused";
        for (const Exchange& e : exchanges)
            s << (e.archiveBlock ? ", block " : ", image ") << sim::FaultKindName(e.fault);
        return s.str();
    }
};

// Leading faulted attempts of one phase (the image read, or one archive block): mostly none or
// a few that the retries outlast, now and then all five.
int FaultedAttempts(Rng& rng, int failPercent) {
    if (rng.Below(100) < failPercent) return kReadAttempts;
    const int k = rng.Below(100);
    return k < 70 ? 0 : k < 86 ? 1 : k < 93 ? 2 : k < 97 ? 3 : 4;
}

ReadPlan MakePlan(Rng& rng, Line line, int cmd, int blocks) {
    ReadPlan plan;
    plan.command = cmd;
    if (line == Line::Tcp && rng.Below(100) < 3) {
        plan.refused = true;
        plan.verdict = FailureOf(FaultKind::Refuse, false);
        return plan;
    }
    const bool archive = cmd == command::ReadArchive;
    const int phases = archive ? 1 + blocks : 1;
    for (int phase = 0; phase < phases; ++phase) {
        const bool block = phase > 0;
        const int faulted = FaultedAttempts(rng, archive ? 3 : 5);
        for (int i = 0; i < faulted; ++i)
            plan.exchanges.push_back({kReplyFaults[rng.Below(5)], block});
        plan.failedExchanges += faulted;
        if (faulted == kReadAttempts) {
            plan.verdict = FailureOf(plan.exchanges.back().fault, block);
            return plan;
        }
        plan.exchanges.push_back({FaultKind::None, block});
    }
    return plan;
}

// The longest the link may take for a plan: per exchange the drain before it, the request, the
// waits of the receive loop (first byte, the gap that cuts a reply, the checksum byte of a
// block and the drain after a broken one), the reply at line speed and the link's own work on
// each byte; a stall adds the soak's late caption step. Three times that, and ten seconds.
std::chrono::milliseconds Budget(const ReadPlan& plan, Line line, const LinkTiming& t) {
    constexpr double kByteWorkMs = 0.02;  // generous for a build with sanitizers
    const double tick = TickMs(t, line);
    const double ticks = t.replyTicksCreated;
    double ms = t.beforeSerialOpenMs + t.beforeTcpSendMs + WireMs(line, 7) + 1000;  // open
    for (const Exchange& e : plan.exchanges) {
        const double reply = e.archiveBlock ? kArchiveBlockSize + kReplyOverhead
                                            : static_cast<double>(kImageReplyLength);
        const double waits = e.archiveBlock ? 3 * ticks + ticks / 4 + 4 : 2 * ticks + 2;
        // Twice the reply: the late rest of a stalled one is drained before the next request.
        ms += t.beforeTcpSendMs + waits * tick + 2 * (WireMs(line, reply) + reply * kByteWorkMs);
        if (e.fault == FaultKind::Stall) ms += StallWaitMs(t, line, e.archiveBlock);
    }
    return std::chrono::milliseconds(static_cast<long long>(3 * ms) + 10000);
}

int EnvCount(const char* name, int fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    return *end == '\0' && n >= 0 ? static_cast<int>(n) : fallback;
}

std::uint64_t SoakSeed() {
    static const std::uint64_t seed = [] {
        if (const char* v = std::getenv("VIR05_SOAK_SEED"); v && *v)
            return static_cast<std::uint64_t>(std::strtoull(v, nullptr, 10));
        std::random_device rd;
        return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
    }();
    return seed;
}

// VIR05_SOAK_VERBOSE=1 prints every read: its plan, outcome and time.
bool Verbose() {
    static const bool verbose = [] {
        const char* v = std::getenv("VIR05_SOAK_VERBOSE");
        return v && *v && *v != '0';
    }();
    return verbose;
}

// Generated contents the simulated controller is loaded with before a read.
struct Contents {
    Contents(std::uint32_t seed, std::uint16_t softVer, int circuits) {
        sim::GeneratorOptions o;
        o.seed = seed;
        o.softVer = softVer;
        o.circuits = circuits;
        image = std::make_unique<std::uint8_t[]>(kImageSize);
        archive = std::make_unique<std::uint8_t[]>(kArchiveSize);
        sim::GenerateContents(o, image.get(), archive.get());
    }
    std::unique_ptr<std::uint8_t[]> image;
    std::unique_ptr<std::uint8_t[]> archive;
};

// The soak of one line: its simulated controller, its line, a link and the memory areas.
class LineSoak {
  public:
    explicit LineSoak(Line line) : line_(line) {
        rng_.state = SoakSeed() ^ (line_ == Line::Tcp ? 0 : 0x5A5A5A5A5A5A5A5Aull);
    }
    ~LineSoak() {
        link_.reset();
        tcp_.reset();
        pty_.reset();
    }
    LineSoak(const LineSoak&) = delete;
    LineSoak& operator=(const LineSoak&) = delete;

    void Open() {
        // Compressed blocks and two circuits, or plain blocks and one circuit (stride 16).
        contents_.push_back(std::make_unique<Contents>(1, 107, 2));
        contents_.push_back(std::make_unique<Contents>(2, 106, 1));
        areas_ = std::make_unique<MemoryAreas>();
        before_ = std::make_unique<std::array<std::uint8_t, kAreaBlockSize>>();
        // Areas that no read has filled yet hold a pattern, so that a stray write shows.
        for (std::size_t i = 0; i < kAreaBlockSize; ++i)
            areas_->block[i] = static_cast<std::uint8_t>(i * 7 + 3);
        std::string error;
        if (line_ == Line::Tcp) {
            tcp_ = std::make_unique<sim::TcpServer>(sim_.controller, sim_.faults, 0);
            ASSERT_TRUE(tcp_->Start(error)) << error;
        } else {
            pty_ = std::make_unique<sim::PtyServer>(sim_.controller, sim_.faults, kBaud);
            ASSERT_TRUE(pty_->Start(error)) << error;
        }
        link_ = std::make_unique<TRWClass>(*areas_, timing_, "");
        link_->SetShowLinkText([this](const std::string&) { AttemptEnded(); });
    }

    // `cyclic` reads of current values and `archive` archive reads in a seeded order, so that a
    // failed read may follow either. A read that hangs ends the soak of the line.
    void Run(int cyclic, int archive) {
        std::vector<int> order(static_cast<std::size_t>(cyclic), command::ReadCurrent);
        order.insert(order.end(), static_cast<std::size_t>(archive), command::ReadArchive);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1],
                      order[static_cast<std::size_t>(rng_.Below(static_cast<int>(i)))]);
        for (std::size_t i = 0; i < order.size() && link_ && !hung_; ++i)
            RunRead(static_cast<int>(i), order[i]);
    }

  private:
    // The caption step after every attempt: arms the fault of the next reply.
    void AttemptEnded() {
        const std::size_t done = attemptsEnded_++;
        const auto& ex = plan_.exchanges;
        if (done < ex.size() && ex[done].fault == FaultKind::Stall) {
            // Served late, so that the rest of the stalled reply lies on the line when the next
            // exchange begins, where it must be drained rather than taken for a reply.
            std::this_thread::sleep_for(
                std::chrono::milliseconds(StallWaitMs(timing_, line_, ex[done].archiveBlock)));
        }
        if (done + 1 < ex.size())
            Arm(ex[done + 1]);
        else
            sim_.faults.Clear();
    }

    void Arm(const Exchange& e) {
        if (e.fault == FaultKind::None)
            sim_.faults.Clear();
        else
            sim_.faults.ApplyToNext(e.fault, 1, StallMs(timing_, line_, e.archiveBlock));
    }

    // Whether a plain connect to the simulator's port succeeds now.
    bool Connectable() const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(tcp_->Port());
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        return ok;
    }
    // The simulator closes its listener while it refuses every connection and listens again
    // once the rule is lifted; the soak waits for either.
    void WaitForListener(bool open) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Connectable() != open) {
            ASSERT_LT(Clock::now(), deadline) << "the simulator's listener did not change";
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // A block reply that stalled in the last attempt of a read comes on after the link has
    // closed the line, more of it than the pseudo-terminal holds, so the simulator waits to
    // send the rest. The soak reads it off the line until the line is quiet, as a line left
    // alone long enough would be before the next command.
    void SettleSerialLine() {
        const int fd = open(pty_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << pty_->SlavePath();
        std::uint8_t buffer[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 300) <= 0) break;
            if (read(fd, buffer, sizeof buffer) <= 0) break;
        }
        close(fd);
    }

    bool Start(int cmd, int netAddr) {
        std::uint8_t* dest = areas_->ReceiveArea.data();
        if (line_ == Line::Tcp)
            return link_->StartTcpCommand(cmd, "127.0.0.1", tcp_->Port(), netAddr, dest,
                                          &areas_->ProgressCell);
        return link_->StartSerialCommand(cmd, pty_->SlavePath(), netAddr, "", kBaud, dest,
                                         &areas_->ProgressCell);
    }

    // One read: plan, run under the watchdog, complete as the window does, check.
    void RunRead(int index, int cmd) {
        const Contents& c = *contents_[static_cast<std::size_t>(rng_.Below(2))];
        sim_.controller.Load(c.image.get(), c.archive.get());
        const std::int32_t slots =
            line_ == Line::Pty ? kPtyArchiveSlots : static_cast<std::int32_t>(kDefaultArchiveSlots);
        const ArchivePlan archive =
            PlanArchive(U8(c.image.get(), addr::NumSystems), U32(c.image.get(), addr::ArchPos),
                        U16(c.image.get(), addr::SoftVer), slots);
        plan_ = MakePlan(rng_, line_, cmd, archive.Blocks());
        SCOPED_TRACE(testing::Message()
                     << "VIR05_SOAK_SEED=" << SoakSeed() << ", " << LineName(line_) << " read "
                     << index << ": " << plan_.Describe());

        *before_ = areas_->block;
        attemptsEnded_ = 0;
        sim_.controller.ClearReceivedFrames();
        if (plan_.refused) {
            sim::FaultRule refuse;
            refuse.kind = FaultKind::Refuse;
            sim_.faults.Set(refuse);
            WaitForListener(false);
        } else {
            Arm(plan_.exchanges.front());
        }
        ASSERT_TRUE(Start(cmd, U8(c.image.get(), addr::NetAddress)));
        if (cmd == command::ReadArchive) link_->Request().ArchiveSlots = slots;

        const auto limit = Budget(plan_, line_, timing_);
        const auto deadline = Clock::now() + limit;
        while (!link_->Parked()) {
            if (!link_->ServeSynchronize())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (Clock::now() > deadline) {
                hung_ = true;
                link_->CancelCommand();
                link_->WaitParked();
                FAIL() << "the read did not end within " << limit.count() << " ms";
            }
        }
        sim_.faults.Clear();
        if (plan_.refused) WaitForListener(true);
        if (line_ == Line::Pty && !plan_.exchanges.empty() &&
            plan_.exchanges.back().fault == FaultKind::Stall && plan_.exchanges.back().archiveBlock)
            SettleSerialLine();
        if (Verbose())
            std::printf(
                "%s read %d: %s -> status %d \"%s\", %d failed exchanges, %lld ms\n",
                LineName(line_), index, plan_.Describe().c_str(), link_->Request().Status.load(),
                link_->Request().ErrorText.c_str(), link_->Request().ErrorCount.load(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           Clock::now() - (deadline - limit))
                                           .count()));

        const LinkRequest& r = link_->Request();
        CompletedCommand done;
        done.status = r.Status.load();
        done.command = r.Command.load();
        done.errorText = r.ErrorText;
        done.durationDays = r.DurationDays();
        done.cycleMode = cmd == command::ReadCurrent;
        done.now = "10.12.2026 12:00:00";
        const CommandOutcome outcome = CompleteCommand(done);
        if (outcome.takeOverRead) TakeOverRead(*areas_, outcome.archiveRead);

        EXPECT_EQ(done.status, plan_.verdict.status) << r.ErrorText;
        EXPECT_EQ(attemptsEnded_, plan_.exchanges.size()) << "attempts";
        EXPECT_EQ(r.ErrorCount.load(), plan_.failedExchanges) << "failed exchanges";
        EXPECT_EQ(sim_.controller.ReceivedFrames().size(), plan_.exchanges.size()) << "frames";
        // Cyclic reading goes on unless the line did not open.
        if (cmd == command::ReadCurrent) {
            EXPECT_EQ(outcome.followUp, done.status == link_status::NotOpened ? 0 : cmd);
        }
        if (plan_.verdict.status != 0) {
            const std::string& text = r.ErrorText;
            const Verdict& v = plan_.verdict;
            EXPECT_TRUE(text.rfind(v.text, 0) == 0 && text.size() >= v.suffix.size() &&
                        text.compare(text.size() - v.suffix.size(), v.suffix.size(), v.suffix) == 0)
                << text;
        }
        // Whatever the verdict, a read that failed leaves the areas alone and one that
        // succeeded brings the controller's memories.
        if (done.status != 0) {
            ExpectUnchanged();
        } else {
            EXPECT_EQ(done.command, cmd);
            ExpectControllerMemories(cmd == command::ReadArchive ? &archive : nullptr);
        }
    }

    void ExpectUnchanged() {
        const std::uint8_t* now = areas_->block.data();
        const std::uint8_t* was = before_->data();
        const auto diff = std::mismatch(now, now + kAreaBlockSize, was);
        EXPECT_EQ(diff.first, now + kAreaBlockSize)
            << "a failed read changed the areas at offset " << (diff.first - now);
    }

    // DeviceImage and ConfigShadow hold the controller's memory image; ArchiveImage holds the
    // controller's archive where the blocks read lie and zeros elsewhere (nothing after a read
    // of current values).
    void ExpectControllerMemories(const ArchivePlan* archive) {
        const auto image = sim_.controller.Image();
        EXPECT_EQ(0, std::memcmp(areas_->DeviceImage(), image.data(), kImageSize));
        EXPECT_EQ(0, std::memcmp(areas_->ConfigShadow(), image.data(), kImageSize));
        std::vector<std::uint8_t> want(kArchiveSize, 0);
        if (archive) {
            const auto ring = sim_.controller.Archive();
            for (int k = 1; k <= archive->Blocks(); ++k) {
                const std::uint32_t s = archive->BlockStart(k);
                std::memcpy(want.data() + s, ring.data() + s, kArchiveBlockSize);
            }
        }
        const std::uint8_t* got = areas_->ArchiveImage();
        const auto diff = std::mismatch(got, got + kArchiveSize, want.data());
        EXPECT_EQ(diff.first, got + kArchiveSize)
            << "ArchiveImage differs at ring offset " << (diff.first - got);
    }

    Line line_ = Line::Tcp;
    Rng rng_{0};
    LinkTiming timing_ = SoakTiming();
    std::vector<std::unique_ptr<Contents>> contents_;
    SimController sim_;
    std::unique_ptr<MemoryAreas> areas_;
    std::unique_ptr<std::array<std::uint8_t, kAreaBlockSize>> before_;
    std::unique_ptr<sim::TcpServer> tcp_;
    std::unique_ptr<sim::PtyServer> pty_;
    std::unique_ptr<TRWClass> link_;
    ReadPlan plan_;
    std::size_t attemptsEnded_ = 0;
    bool hung_ = false;
};

// Both lines at once, each with its own controller and link, as two engineers at two
// controllers: the waits of one overlap the wire time of the other.
TEST(FaultSoak, ReadsEndAsTheirFaultsPrescribeAndFailedReadsLeaveTheAreasAlone) {
    std::printf("fault soak: VIR05_SOAK_SEED=%llu\n", static_cast<unsigned long long>(SoakSeed()));
    LineSoak tcp(Line::Tcp);
    LineSoak pty(Line::Pty);
    tcp.Open();
    pty.Open();
    std::thread tcpRun([&] {
        tcp.Run(EnvCount("VIR05_SOAK_TCP_CYCLIC", 2000), EnvCount("VIR05_SOAK_TCP_ARCHIVE", 200));
    });
    pty.Run(EnvCount("VIR05_SOAK_PTY_CYCLIC", 2000), EnvCount("VIR05_SOAK_PTY_ARCHIVE", 200));
    tcpRun.join();
}

}  // namespace
}  // namespace vir05::test
