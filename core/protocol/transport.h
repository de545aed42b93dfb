// The byte lines the link reaches a controller over.
//
// The link engine runs the whole protocol (open sequence, modem script, frames, waits, commands)
// over these two small interfaces; the program provides serial and TCP lines, the tests provide
// in-memory ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vir05 {

enum class SerialOpenError {
    None,
    CannotOpen,        // the device cannot be opened (absent, or held by another program)
    CannotFillState,   // framing "parity=N data=8 stop=2" cannot be built
    CannotApplyState,  // the framing or speed cannot be applied
    CannotSetTimeouts,
};

// A serial line: 8 data bits, no parity, 2 stop bits; reads return after at most about 100 ms
// (interval 50 ms, total 50 ms + 50 ms per byte); writes block until done. DTR and RTS are
// driven only through SetDtr and SetRts.
class SerialLine {
  public:
    virtual ~SerialLine() = default;
    virtual SerialOpenError Open(const std::string& portName, std::uint32_t baudRate) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Purge() = 0;  // drop whatever is queued in both directions
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    // Returns the number of bytes written, or -1 on failure.
    virtual int Write(const std::uint8_t* data, std::size_t count) = 0;
    // Returns the number of bytes read, 0 when none arrived within the read time-out.
    virtual int Read(std::uint8_t* buffer, std::size_t count) = 0;
    virtual void Close() = 0;
};

enum class TcpConnectError {
    None,
    LibraryInit,  // the socket library cannot start
    Socket,       // the socket cannot be created
    Resolve,      // the host name cannot be resolved
    Connect,      // refused or timed out
};

// A TCP stream to a controller's interface. A dotted IPv4 address is used as it stands; any
// other host text is resolved by name and the first address taken.
class TcpLine {
  public:
    virtual ~TcpLine() = default;
    virtual TcpConnectError Connect(const std::string& host, std::uint16_t port) = 0;
    virtual bool IsOpen() const = 0;
    // Returns the number of bytes the system took, or -1 on failure.
    virtual int Send(const std::uint8_t* data, std::size_t count) = 0;
    // Bytes waiting to be received; nullopt when the query fails.
    virtual std::optional<std::size_t> BytesWaiting() = 0;
    // Returns the number of bytes received, or -1 on failure. Never blocks when bytes wait.
    virtual int Receive(std::uint8_t* buffer, std::size_t count) = 0;
    virtual void Close() = 0;
};

}  // namespace vir05
