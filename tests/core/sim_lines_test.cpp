// The simulator's lines in-process: TCP on the loopback interface, a serial pseudo-terminal and
// a modem pseudo-terminal, each driven by a small POSIX client with bounded waits.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol/frame.h"
#include "model/layout.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/generator.h"
#include "sim/lines.h"

namespace vir05 {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes Cat(const std::string& text, const Bytes& frame) {
    Bytes b(text.begin(), text.end());
    b.insert(b.end(), frame.begin(), frame.end());
    return b;
}

Bytes ImageRead() {
    Bytes f(16);
    f.resize(BuildReadImageFrame(f.data(), 1));
    return f;
}

Bytes MemoryRead(std::uint32_t address, std::uint16_t count) {
    Bytes f(16);
    f.resize(BuildReadMemoryFrame(f.data(), 1, address, count));
    return f;
}

Bytes ArchiveRead(std::uint32_t start, std::uint32_t count) {
    Bytes f(16);
    f.resize(BuildArchiveFrame(f.data(), 1, kModePlain, start, count));
    return f;
}

std::string AsText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// Reads from `fd` until `done` holds for what has arrived or `limit` has passed.
Bytes ReadUntil(int fd, const std::function<bool(const Bytes&)>& done,
                std::chrono::milliseconds limit) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(got)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        std::uint8_t buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}
Bytes ReadCount(int fd, std::size_t n, std::chrono::milliseconds limit = 5s) {
    return ReadUntil(
        fd, [n](const Bytes& b) { return b.size() >= n; }, limit);
}
// Collects whatever arrives within `window` (for checking that nothing, or nothing more, comes).
Bytes ReadQuiet(int fd, std::chrono::milliseconds window) {
    return ReadUntil(
        fd, [](const Bytes&) { return false; }, window);
}
std::string ReadText(int fd, const std::string& want, std::chrono::milliseconds limit = 3s) {
    return AsText(ReadUntil(
        fd, [&](const Bytes& b) { return AsText(b).find(want) != std::string::npos; }, limit));
}

void Send(int fd, const Bytes& b) {
    ASSERT_EQ(write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
}
void Send(int fd, const std::string& s) {
    Send(fd, Bytes(s.begin(), s.end()));
}

// A simulated controller on generated contents, network address 1.
class SimLineFixture : public ::testing::Test {
  protected:
    SimLineFixture() {
        static std::uint8_t image[kImageSize], archive[kArchiveSize];
        sim::GeneratorOptions o;
        sim::GenerateContents(o, image, archive);
        controller_.Load(image, archive);
        controller_.SetNetAddress(1);
    }
    sim::Controller controller_;
    sim::FaultInjector faults_;
};

// ---------------------------------------------------------------------------------------------

class SimTcp : public SimLineFixture {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << error;
        ASSERT_NE(server_.Port(), 0);
        EXPECT_EQ(server_.Describe(), "TCP 127.0.0.1:" + std::to_string(server_.Port()));
    }
    // A connected socket, or -1 with errno set.
    int Connect() const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(server_.Port());
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    // Retries until a connect is refused (the server closes its listener at its next poll; a
    // connect caught in that moment is reset instead); returns the errno of the last failure,
    // 0 when every attempt connected.
    int ConnectFailure() const {
        int error = 0;
        for (int i = 0; i < 200 && error != ECONNREFUSED; ++i) {
            const int fd = Connect();
            if (fd < 0) {
                error = errno;
                continue;
            }
            close(fd);
            std::this_thread::sleep_for(10ms);
        }
        return error;
    }
    // Retries until a connect succeeds; -1 when none did.
    int ConnectEventually() const {
        for (int i = 0; i < 200; ++i) {
            const int fd = Connect();
            if (fd >= 0) return fd;
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    sim::TcpServer server_{controller_, faults_, 0};
};

TEST_F(SimTcp, AnswersImageReadsConnectionAfterConnection) {
    for (int connection = 0; connection < 2; ++connection) {
        const int fd = Connect();
        ASSERT_GE(fd, 0) << std::strerror(errno);
        Send(fd, Cat("ATE0Q1\r", ImageRead()));
        const Bytes reply = ReadCount(fd, 1962);
        ASSERT_EQ(reply.size(), 1962u) << connection;
        EXPECT_EQ(reply[0], 0xAA);
        EXPECT_TRUE(FrameValid(reply.data(), reply.size()));
        EXPECT_EQ(reply[6 + addr::NetAddress], 1);
        close(fd);
    }
}

TEST_F(SimTcp, SilenceAndStallForTheNextReplies) {
    const int fd = Connect();
    ASSERT_GE(fd, 0);
    faults_.ApplyToNext(sim::FaultKind::Silence, 1);
    Send(fd, MemoryRead(83, 1));
    EXPECT_TRUE(ReadQuiet(fd, 300ms).empty());
    Send(fd, MemoryRead(83, 1));
    EXPECT_EQ(ReadCount(fd, 8).size(), 8u);  // the rule has ended

    faults_.ApplyToNext(sim::FaultKind::Stall, 1, 1500);
    Send(fd, ImageRead());
    const Bytes first = ReadCount(fd, 1);
    ASSERT_FALSE(first.empty());
    Bytes part = first;
    const Bytes more = ReadQuiet(fd, 300ms);
    part.insert(part.end(), more.begin(), more.end());
    EXPECT_LT(part.size(), 1962u);  // stopped in the middle
    const Bytes rest = ReadCount(fd, 1962 - part.size());
    part.insert(part.end(), rest.begin(), rest.end());
    EXPECT_EQ(part.size(), 1962u);  // and then went on
    EXPECT_TRUE(FrameValid(part.data(), part.size()));
    close(fd);
}

TEST_F(SimTcp, RefusedConnections) {
    sim::FaultRule always;
    always.kind = sim::FaultKind::Refuse;
    faults_.Set(always);
    EXPECT_EQ(ConnectFailure(), ECONNREFUSED);
    faults_.Clear();
    int fd = ConnectEventually();
    ASSERT_GE(fd, 0);
    Send(fd, MemoryRead(83, 1));  // served: the server has taken this connection
    EXPECT_EQ(ReadCount(fd, 8).size(), 8u);
    close(fd);

    // One connection refused: the server resets it at once; the next one is served.
    faults_.ApplyToNext(sim::FaultKind::Refuse, 1);
    fd = Connect();
    ASSERT_GE(fd, 0);
    std::uint8_t b;
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 3000), 1);
    EXPECT_LE(recv(fd, &b, 1, 0), 0);
    close(fd);
    fd = Connect();
    ASSERT_GE(fd, 0);
    Send(fd, ImageRead());
    EXPECT_EQ(ReadCount(fd, 1962).size(), 1962u);
    close(fd);
}

// True when the bytes are the ascending noise of a flood: 0, 1, ... 255, 0, ... from where they
// start.
bool AscendingNoise(const Bytes& b) {
    for (std::size_t i = 1; i < b.size(); ++i)
        if (b[i] != static_cast<std::uint8_t>(b[i - 1] + 1)) return false;
    return !b.empty();
}

// True when the bytes end in a whole 8-byte reply to a one-byte memory read.
bool EndsInAReply(const Bytes& b) {
    return b.size() >= 8 && b[b.size() - 8] == 0xAA && FrameValid(b.data() + b.size() - 8, 8);
}

TEST_F(SimTcp, AFloodLastsUntilTheConnectionCloses) {
    int fd = Connect();
    ASSERT_GE(fd, 0);
    faults_.ApplyToNext(sim::FaultKind::Flood, 1);
    Send(fd, MemoryRead(83, 1));
    const Bytes noise = ReadCount(fd, 300000, 20s);
    ASSERT_GE(noise.size(), 300000u);  // far more than any reply
    EXPECT_TRUE(AscendingNoise(noise));
    close(fd);
    // The flood ended with the connection: the next one is served.
    fd = ConnectEventually();
    ASSERT_GE(fd, 0);
    Send(fd, ImageRead());
    const Bytes reply = ReadCount(fd, 1962);
    ASSERT_EQ(reply.size(), 1962u);
    EXPECT_TRUE(FrameValid(reply.data(), reply.size()));
    close(fd);
}

// ---------------------------------------------------------------------------------------------

int OpenTerminal(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fd;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

class SimPty : public SimLineFixture {};

TEST_F(SimPty, AnswersOverThePseudoTerminal) {
    sim::PtyServer pty(controller_, faults_, 115200);
    std::string error;
    ASSERT_TRUE(pty.Start(error)) << error;
    EXPECT_EQ(pty.Describe(), "PTY " + pty.SlavePath());
    const int fd = OpenTerminal(pty.SlavePath());
    ASSERT_GE(fd, 0) << pty.SlavePath();
    Send(fd, Cat("ATE0Q1\r", ImageRead()));
    const Bytes reply = ReadCount(fd, 1962);
    ASSERT_EQ(reply.size(), 1962u);
    EXPECT_TRUE(FrameValid(reply.data(), reply.size()));

    faults_.ApplyToNext(sim::FaultKind::Truncated, 1);
    Send(fd, MemoryRead(0, 100));
    EXPECT_EQ(ReadCount(fd, 53).size(), 53u);  // half of the 107 bytes
    EXPECT_TRUE(ReadQuiet(fd, 300ms).empty());
    faults_.ApplyToNext(sim::FaultKind::BadChecksum, 1);
    Send(fd, MemoryRead(0, 100));
    const Bytes bad = ReadCount(fd, 107);
    ASSERT_EQ(bad.size(), 107u);
    EXPECT_FALSE(FrameValid(bad.data(), bad.size()));

    // A flood goes on until the tool sends again; the new frame is then answered after it.
    faults_.ApplyToNext(sim::FaultKind::Flood, 1);
    Send(fd, MemoryRead(83, 1));
    const Bytes noise = ReadCount(fd, 4000);
    ASSERT_GE(noise.size(), 4000u);
    EXPECT_TRUE(AscendingNoise(noise));
    Send(fd, MemoryRead(83, 1));
    EXPECT_TRUE(EndsInAReply(ReadUntil(fd, EndsInAReply, 10s)));
    close(fd);
}

// ---------------------------------------------------------------------------------------------

class SimModem : public SimLineFixture {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(modem_.Start(error)) << error;
        EXPECT_EQ(modem_.Describe(), "MODEM " + modem_.SlavePath());
        fd_ = OpenTerminal(modem_.SlavePath());
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        if (fd_ >= 0) close(fd_);
    }
    void Dial() {
        Send(fd_, "ATZH0E0&D2\r");
        EXPECT_EQ(ReadText(fd_, "OK\r\n"), "\r\nOK\r\n");
        Send(fd_, "ATD5551234\r");
        EXPECT_EQ(ReadText(fd_, "CONNECT 9600\r\n"), "\r\nCONNECT 9600\r\n");
    }
    // Whether a frame is answered within `limit`.
    bool Answers(std::chrono::milliseconds limit = 2s) {
        Send(fd_, MemoryRead(83, 1));
        const Bytes r = ReadCount(fd_, 8, limit);
        return r.size() == 8 && FrameValid(r.data(), r.size());
    }
    sim::ModemServer modem_{controller_, faults_, 9600, sim::ModemTiming{50, 100}};
    int fd_ = -1;
};

TEST_F(SimModem, DialDataEscapeAndHangUp) {
    EXPECT_FALSE(Answers(300ms));  // command mode: frames are not passed on
    Dial();
    EXPECT_TRUE(modem_.Connected());
    EXPECT_TRUE(Answers());
    // "+++" with a guard time of silence before and after it.
    std::this_thread::sleep_for(200ms);
    Send(fd_, "+++");
    EXPECT_EQ(ReadText(fd_, "OK\r\n"), "\r\nOK\r\n");
    EXPECT_FALSE(modem_.Connected());
    Send(fd_, "ATH\r");
    EXPECT_EQ(ReadText(fd_, "OK\r\n"), "\r\nOK\r\n");
    EXPECT_FALSE(Answers(300ms));
}

TEST_F(SimModem, PlusesInsideDataStayData) {
    Dial();
    // "+++" right after other bytes, without the guard time, is data.
    Bytes frame = MemoryRead(83, 1);
    Bytes line(frame);
    line.insert(line.end(), {'+', '+', '+'});
    Send(fd_, line);
    EXPECT_EQ(ReadCount(fd_, 8).size(), 8u);
    EXPECT_TRUE(ReadQuiet(fd_, 300ms).empty());  // no "OK"
    EXPECT_TRUE(modem_.Connected());
}

TEST_F(SimModem, Faults) {
    faults_.ApplyToNext(sim::FaultKind::ModemNoReset, 1);
    Send(fd_, "ATZH0E0&D2\r");
    EXPECT_TRUE(ReadQuiet(fd_, 300ms).empty());
    Send(fd_, "ATZH0E0&D2\r");
    EXPECT_EQ(ReadText(fd_, "OK\r\n"), "\r\nOK\r\n");

    faults_.ApplyToNext(sim::FaultKind::ModemNoDial, 1);
    Send(fd_, "ATD5551234\r");
    EXPECT_TRUE(ReadQuiet(fd_, 400ms).empty());
    faults_.ApplyToNext(sim::FaultKind::ModemBusy, 1);
    Send(fd_, "ATD5551234\r");
    EXPECT_EQ(ReadText(fd_, "BUSY\r\n"), "\r\nBUSY\r\n");
    EXPECT_FALSE(Answers(300ms));

    // The carrier drops in the middle of an archive block: half of the 71-byte reply, the
    // report, and the modem is back in command mode.
    Dial();
    faults_.ApplyToNext(sim::FaultKind::ModemNoCarrier, 1);
    Send(fd_, ArchiveRead(0x4000, 64));
    const std::string got = ReadText(fd_, "NO CARRIER\r\n");
    ASSERT_EQ(got.size(), 35u + 14u);
    EXPECT_EQ(static_cast<std::uint8_t>(got[0]), 0xAA);
    EXPECT_EQ(got.substr(35), "\r\nNO CARRIER\r\n");
    EXPECT_FALSE(modem_.Connected());
    Send(fd_, "AT\r");
    EXPECT_EQ(ReadText(fd_, "OK\r\n"), "\r\nOK\r\n");
}

}  // namespace
}  // namespace vir05
