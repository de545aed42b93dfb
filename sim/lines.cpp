#include "sim/lines.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace vir05::sim {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Sends one reply as the fault plan says: the bytes, with a pause in the middle for a stall, or
// a flood that lasts until a write fails (the connection closed, the line stopped) or
// `floodOver` says the tool has sent again.
bool Deliver(const Delivery& d, const Waker& waker,
             const std::function<bool(const std::uint8_t*, std::size_t)>& write,
             const std::function<bool()>& floodOver = {}) {
    if (d.flood) {
        std::uint8_t noise[256];
        for (std::size_t i = 0; i < sizeof noise; ++i)
            noise[i] = static_cast<std::uint8_t>(i);
        while (!waker.Woken() && !(floodOver && floodOver()))
            if (!write(noise, sizeof noise)) return false;
        return true;
    }
    if (d.bytes.empty()) return true;
    if (d.pauseMs > 0) {
        if (!write(d.bytes.data(), d.pauseAt)) return false;
        if (!waker.Sleep(d.pauseMs)) return false;
        return write(d.bytes.data() + d.pauseAt, d.bytes.size() - d.pauseAt);
    }
    return write(d.bytes.data(), d.bytes.size());
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

Waker::Waker() {
    if (pipe(fds_) == 0) {
        SetNonBlocking(fds_[0]);
        SetNonBlocking(fds_[1]);
    }
}

Waker::~Waker() {
    for (int fd : fds_)
        if (fd >= 0) close(fd);
}

void Waker::Wake() {
    woken_ = true;
    const char c = 1;
    if (write(fds_[1], &c, 1) < 0) {
        // The pipe is full: the thread is being woken already.
    }
}

bool Waker::Sleep(int ms) const {
    if (woken_) return false;
    pollfd p{fds_[0], POLLIN, 0};
    return poll(&p, 1, ms) == 0 && !woken_;
}

// ---------------------------------------------------------------------------------------------
// TCP

TcpServer::TcpServer(Controller& controller, FaultInjector& faults, std::uint16_t port)
    : controller_(controller), faults_(faults), port_(port) {}

TcpServer::~TcpServer() {
    Stop();
}

bool TcpServer::Listen(std::string& error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port_);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port_.load()) + ": " +
                std::strerror(errno);
        close(fd);
        return false;
    }
    port_ = ntohs(a.sin_port);  // the port picked for port 0; kept for a later re-listen
    listenFd_ = fd;
    return true;
}

bool TcpServer::Start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!Listen(error)) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TcpServer::Stop() {
    waker_.Wake();
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
}

std::string TcpServer::Describe() const {
    return "TCP 127.0.0.1:" + std::to_string(port_.load());
}

void TcpServer::Run() {
    while (!waker_.Woken()) {
        // A refusal without end closes the listener, so that connecting fails outright; the
        // same port is listened on again once the rule is lifted.
        if (faults_.RefusingAll()) {
            if (listenFd_ >= 0) close(listenFd_);
            listenFd_ = -1;
            waker_.Sleep(20);
            continue;
        }
        if (listenFd_ < 0) {
            std::string error;
            if (!Listen(error)) {
                waker_.Sleep(100);
                continue;
            }
        }
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {waker_.Fd(), POLLIN, 0}};
        if (poll(p, 2, 50) <= 0 || !(p[0].revents & POLLIN)) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (faults_.RefuseConnection()) {
            const linger reset{1, 0};  // close with a reset: the peer sees the connection refused
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            close(fd);
            continue;
        }
        Serve(fd);
        close(fd);
    }
}

bool TcpServer::Send(int fd, const std::uint8_t* data, std::size_t n) {
    // The socket does not block: a tool that stops reading cannot hold up Stop().
    while (n > 0) {
        const ssize_t k = send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            data += k;
            n -= static_cast<std::size_t>(k);
            continue;
        }
        if (k < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p[2] = {{fd, POLLOUT, 0}, {waker_.Fd(), POLLIN, 0}};
        poll(p, 2, 100);
        if (waker_.Woken()) return false;
    }
    return true;
}

void TcpServer::Serve(int fd) {
    FrameParser parser;
    std::uint8_t buffer[4096];
    auto write = [&](const std::uint8_t* d, std::size_t n) { return Send(fd, d, n); };
    while (!waker_.Woken()) {
        pollfd p[2] = {{fd, POLLIN, 0}, {waker_.Fd(), POLLIN, 0}};
        if (poll(p, 2, 100) <= 0 || !(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;  // the tool closed the connection
        for (const auto& frame : parser.Feed(buffer, static_cast<std::size_t>(n))) {
            const auto reply = controller_.Handle(frame);
            if (reply && !Deliver(faults_.Plan(reply->bytes), waker_, write)) return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Pseudo-terminal

PtyPort::~PtyPort() {
    Close();
}

bool PtyPort::Open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    slavePath_ = name;
    slaveHold_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slaveHold_ < 0 || tcgetattr(slaveHold_, &t) != 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        Close();
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CSTOPB;  // 8 data bits, no parity, 2 stop bits
    tcsetattr(slaveHold_, TCSANOW, &t);
    SetNonBlocking(master_);
    return true;
}

void PtyPort::Close() {
    if (slaveHold_ >= 0) close(slaveHold_);
    if (master_ >= 0) close(master_);
    slaveHold_ = master_ = -1;
}

bool PtyPort::InputWaiting() const {
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

int PtyPort::Read(std::uint8_t* buffer, std::size_t n, int timeoutMs) {
    pollfd p[2] = {{master_, POLLIN, 0}, {waker_.Fd(), POLLIN, 0}};
    const int r = poll(p, 2, timeoutMs);
    if (waker_.Woken() || r < 0) return -1;
    if (r == 0 || !(p[0].revents & POLLIN)) return 0;
    const ssize_t k = read(master_, buffer, n);
    return k > 0 ? static_cast<int>(k) : 0;
}

bool PtyPort::Write(const std::uint8_t* data, std::size_t n) {
    // Bytes go out in slices of about 5 ms of line time, each at its moment on the schedule.
    const double byteUs = 11e6 / static_cast<double>(baud_ ? baud_ : 9600);
    const std::size_t slice = std::max<std::size_t>(1, static_cast<std::size_t>(5000 / byteUs));
    const auto start = SteadyClock::now();
    std::size_t sent = 0;
    while (sent < n) {
        const std::size_t k = std::min(slice, n - sent);
        std::size_t done = 0;
        while (done < k) {
            const ssize_t w = write(master_, data + sent + done, k - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            pollfd p[2] = {{master_, POLLOUT, 0}, {waker_.Fd(), POLLIN, 0}};
            poll(p, 2, 50);
            if (waker_.Woken()) return false;
        }
        sent += k;
        const auto due = start + std::chrono::microseconds(static_cast<long long>(sent * byteUs));
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - SteadyClock::now());
        if (wait.count() > 0 && !waker_.Sleep(static_cast<int>(wait.count()))) return false;
    }
    return true;
}

PtyServer::PtyServer(Controller& controller, FaultInjector& faults, std::uint32_t baud)
    : controller_(controller), faults_(faults), port_(baud, waker_) {}

PtyServer::~PtyServer() {
    Stop();
}

bool PtyServer::Start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!port_.Open(error)) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PtyServer::Stop() {
    waker_.Wake();
    if (thread_.joinable()) thread_.join();
    port_.Close();
}

std::string PtyServer::Describe() const {
    return "PTY " + port_.SlavePath();
}

void PtyServer::Run() {
    FrameParser parser;
    std::uint8_t buffer[4096];
    auto write = [&](const std::uint8_t* d, std::size_t n) { return port_.Write(d, n); };
    auto sentAgain = [&] { return port_.InputWaiting(); };
    for (;;) {
        const int n = port_.Read(buffer, sizeof buffer, 100);
        if (n < 0) return;
        for (const auto& frame : parser.Feed(buffer, static_cast<std::size_t>(n))) {
            const auto reply = controller_.Handle(frame);
            if (reply && !Deliver(faults_.Plan(reply->bytes), waker_, write, sentAgain)) return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Bus

BusServer::BusServer(std::vector<Member> members, std::uint32_t baud)
    : members_(std::move(members)), port_(baud, waker_) {}

BusServer::~BusServer() {
    Stop();
}

bool BusServer::Start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!port_.Open(error)) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void BusServer::Stop() {
    waker_.Wake();
    if (thread_.joinable()) thread_.join();
    port_.Close();
}

std::string BusServer::Describe() const {
    return "BUS " + port_.SlavePath();
}

void BusServer::Run() {
    FrameParser parser;
    std::uint8_t buffer[4096];
    auto write = [&](const std::uint8_t* d, std::size_t n) { return port_.Write(d, n); };
    for (;;) {
        const int n = port_.Read(buffer, sizeof buffer, 100);
        if (n < 0) return;
        for (const auto& frame : parser.Feed(buffer, static_cast<std::size_t>(n))) {
            for (const Member& m : members_) {
                const auto reply = m.controller->Handle(frame);
                if (!reply) continue;
                if (!Deliver(m.faults->Plan(reply->bytes), waker_, write)) return;
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Modem

ModemServer::ModemServer(Controller& controller, FaultInjector& faults, std::uint32_t baud,
                         ModemTiming timing)
    : controller_(controller), faults_(faults), baud_(baud), timing_(timing), port_(baud, waker_) {}

ModemServer::~ModemServer() {
    Stop();
}

bool ModemServer::Start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!port_.Open(error)) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ModemServer::Stop() {
    waker_.Wake();
    if (thread_.joinable()) thread_.join();
    port_.Close();
}

std::string ModemServer::Describe() const {
    return "MODEM " + port_.SlavePath();
}

void ModemServer::Command(const std::string& raw) {
    std::string cmd;
    for (char c : raw)
        if (c != ' ') cmd += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // A command starts at "AT"; whatever came before it on the line is dropped.
    const std::size_t at = cmd.find("AT");
    if (at == std::string::npos) return;
    cmd.erase(0, at);
    if (cmd.rfind("ATD", 0) == 0) {
        if (faults_.ModemFault(FaultKind::ModemNoDial)) return;
        if (!waker_.Sleep(timing_.dialDelayMs)) return;
        if (faults_.ModemFault(FaultKind::ModemBusy)) {
            port_.Write("\r\nBUSY\r\n");
            return;
        }
        parser_.Reset();
        dataMode_ = true;
        port_.Write("\r\nCONNECT " + std::to_string(baud_) + "\r\n");
        return;
    }
    if (cmd.rfind("ATZ", 0) == 0 && faults_.ModemFault(FaultKind::ModemNoReset)) return;
    port_.Write("\r\nOK\r\n");
}

void ModemServer::DataBytes(const std::uint8_t* data, std::size_t n) {
    auto write = [&](const std::uint8_t* d, std::size_t k) { return port_.Write(d, k); };
    for (const auto& frame : parser_.Feed(data, n)) {
        const auto reply = controller_.Handle(frame);
        if (!reply) continue;
        if (reply->archiveBlock && faults_.ModemFault(FaultKind::ModemNoCarrier)) {
            // The call drops in the middle of the block: half of it, then the carrier loss.
            dataMode_ = false;
            port_.Write(reply->bytes.data(), reply->bytes.size() / 2);
            port_.Write("\r\nNO CARRIER\r\n");
            return;
        }
        if (!Deliver(faults_.Plan(reply->bytes), waker_, write,
                     [this] { return port_.InputWaiting(); }))
            return;
    }
}

void ModemServer::Run() {
    std::string line;
    std::uint8_t buffer[4096];
    // Escape detection: "+++" counts only after a guard time of silence and is taken once a
    // second guard time has passed without another byte; otherwise the pluses are data.
    int pluses = 0;
    auto lastByte = SteadyClock::now() - std::chrono::hours(1);
    const auto guard = std::chrono::milliseconds(timing_.guardMs);
    const int pollMs = std::clamp(timing_.guardMs / 4, 1, 50);
    const std::uint8_t plusBytes[3] = {'+', '+', '+'};
    for (;;) {
        const int n = port_.Read(buffer, sizeof buffer, pollMs);
        if (n < 0) return;
        const auto now = SteadyClock::now();
        if (n == 0) {
            if (dataMode_ && pluses > 0 && now - lastByte >= guard) {
                if (pluses == 3) {
                    dataMode_ = false;
                    port_.Write("\r\nOK\r\n");
                } else {
                    DataBytes(plusBytes, static_cast<std::size_t>(pluses));
                }
                pluses = 0;
            }
            continue;
        }
        for (int i = 0; i < n; ++i) {
            const std::uint8_t b = buffer[i];
            // The silence before this byte: none after an earlier byte of the same read, however
            // late the read came (on a busy machine a frame and pluses sent together are read
            // together, long after the byte before them).
            const bool quietBefore = now - lastByte >= guard;
            lastByte = now;
            if (!dataMode_) {
                if (b == '\r') {
                    Command(line);
                    line.clear();
                } else if (b != '\n' && line.size() < 256) {
                    line += static_cast<char>(b);
                }
                continue;
            }
            if (b == '+' && pluses < 3 && (pluses > 0 || quietBefore)) {
                ++pluses;
                continue;
            }
            if (pluses > 0) {
                DataBytes(plusBytes, static_cast<std::size_t>(pluses));
                pluses = 0;
            }
            DataBytes(&b, 1);
            if (!dataMode_) line.clear();  // the carrier dropped during this reply
        }
    }
}

}  // namespace vir05::sim
