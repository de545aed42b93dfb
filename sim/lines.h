// The lines the simulated controller is reached over, each served by a background thread:
// a TCP server on the loopback interface, a serial line on a pseudo-terminal, and a Hayes modem
// on a pseudo-terminal. Start() opens the line and starts its thread; Stop() (also run by the
// destructor) ends the thread and closes the line.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/controller.h"
#include "sim/faults.h"

namespace vir05::sim {

// A self-pipe that ends the waits of a line's thread.
class Waker {
  public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;
    void Wake();
    int Fd() const { return fds_[0]; }
    bool Woken() const { return woken_; }
    // Waits `ms` milliseconds or until woken; false when woken.
    bool Sleep(int ms) const;

  private:
    int fds_[2] = {-1, -1};
    std::atomic<bool> woken_{false};
};

// One connection at a time on 127.0.0.1. Port 0 picks a free port; Port() reports it.
class TcpServer {
  public:
    TcpServer(Controller& controller, FaultInjector& faults, std::uint16_t port = 0);
    ~TcpServer();
    bool Start(std::string& error);
    void Stop();
    std::uint16_t Port() const { return port_; }
    std::string Describe() const;  // "TCP 127.0.0.1:PORT"

  private:
    bool Listen(std::string& error);
    void Run();
    void Serve(int fd);
    bool Send(int fd, const std::uint8_t* data, std::size_t n);

    Controller& controller_;
    FaultInjector& faults_;
    std::atomic<std::uint16_t> port_;  // written again by a re-listen, read by any thread
    int listenFd_ = -1;
    Waker waker_;
    std::thread thread_;
};

// The master side of a pseudo-terminal in raw mode; the slave device is the line the tool opens.
// Writes are paced at `baud` with 11 bits a byte (start, 8 data, 2 stop bits).
class PtyPort {
  public:
    PtyPort(std::uint32_t baud, const Waker& waker) : baud_(baud), waker_(waker) {}
    ~PtyPort();
    bool Open(std::string& error);
    void Close();
    const std::string& SlavePath() const { return slavePath_; }
    // True when the tool's bytes wait to be read.
    bool InputWaiting() const;
    // Bytes read within `timeoutMs`: > 0 bytes, 0 none, -1 woken or failed.
    int Read(std::uint8_t* buffer, std::size_t n, int timeoutMs);
    // Sends at line speed; false when woken or failed.
    bool Write(const std::uint8_t* data, std::size_t n);
    bool Write(const std::string& text) {
        return Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

  private:
    std::uint32_t baud_;
    const Waker& waker_;
    int master_ = -1;
    int slaveHold_ = -1;  // kept open so the line stays up between the tool's sessions
    std::string slavePath_;
};

// A direct serial line (RS485 adapter) on a pseudo-terminal.
class PtyServer {
  public:
    PtyServer(Controller& controller, FaultInjector& faults, std::uint32_t baud);
    ~PtyServer();
    bool Start(std::string& error);
    void Stop();
    const std::string& SlavePath() const { return port_.SlavePath(); }
    std::string Describe() const;  // "PTY /dev/pts/N"

  private:
    void Run();
    Controller& controller_;
    FaultInjector& faults_;
    Waker waker_;
    PtyPort port_;
    std::thread thread_;
};

// An RS485 bus on a pseudo-terminal: several controllers on one line, each answering only the
// frames for its own network address (the others stay silent), each with its own faults.
class BusServer {
  public:
    struct Member {
        Controller* controller;
        FaultInjector* faults;
    };
    BusServer(std::vector<Member> members, std::uint32_t baud);
    ~BusServer();
    bool Start(std::string& error);
    void Stop();
    const std::string& SlavePath() const { return port_.SlavePath(); }
    std::string Describe() const;  // "BUS /dev/pts/N"

  private:
    void Run();
    std::vector<Member> members_;
    Waker waker_;
    PtyPort port_;
    std::thread thread_;
};

struct ModemTiming {
    int dialDelayMs = 500;  // from the dial command to "CONNECT"
    int guardMs = 1000;     // silence before and after "+++"
};

// A Hayes modem on a pseudo-terminal with the controller at the far end of the call. Command
// mode answers "OK" to AT commands, "ATD..." dials ("CONNECT <baud>" after dialDelayMs), and in
// data mode the bytes go to the controller until "+++" between two guard times returns to
// command mode ("OK"); "ATH" hangs up ("OK"). The modem faults of the FaultInjector apply here.
class ModemServer {
  public:
    ModemServer(Controller& controller, FaultInjector& faults, std::uint32_t baud,
                ModemTiming timing = {});
    ~ModemServer();
    bool Start(std::string& error);
    void Stop();
    const std::string& SlavePath() const { return port_.SlavePath(); }
    std::string Describe() const;  // "MODEM /dev/pts/N"
    bool Connected() const { return dataMode_; }

  private:
    void Run();
    void Command(const std::string& line);
    void DataBytes(const std::uint8_t* data, std::size_t n);

    Controller& controller_;
    FaultInjector& faults_;
    std::uint32_t baud_;
    ModemTiming timing_;
    Waker waker_;
    PtyPort port_;
    std::thread thread_;
    std::atomic<bool> dataMode_{false};
    FrameParser parser_;
};

}  // namespace vir05::sim
