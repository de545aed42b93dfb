// The byte line the link reaches a controller over, and the choice between two of them.
//
// The link engine runs the whole protocol (open sequence, modem dial, frames, waits, commands)
// over this one small interface. The program provides a serial port and TCP (link/qt_lines.h);
// core/protocol/memory_line.h is a line in memory for the tests, the fuzzers and the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vir05 {

using SleepFunction = std::function<void(int ms)>;
void RealSleep(int ms);

enum class LineKind {
    Serial,  // a COM port, direct or through a modem: has DTR and RTS, and is purged
    Tcp,     // a TCP stream to a controller's interface
};

enum class LineError {
    None,
    // A serial port.
    CannotOpen,        // the device cannot be opened (absent, or held by another program)
    CannotFillState,   // framing "parity=N data=8 stop=2" cannot be built
    CannotApplyState,  // the framing or speed cannot be applied
    CannotSetTimeouts,
    // TCP.
    LibraryInit,  // the socket library cannot start
    Socket,       // the socket cannot be created
    Resolve,      // the host name cannot be resolved
    Connect,      // refused or timed out
};

// What a line is opened to, and how it pauses; the engine fills it from its request at every
// open. A serial line takes the port and speed, a TCP line the host and port.
struct LineTarget {
    bool tcp = false;  // which line a LineChoice opens
    std::string portName;
    std::uint32_t baudRate = 9600;
    std::string host;
    std::uint16_t tcpPort = 0;
    // Every pause of a line goes through `pause` (the engine's sleep): a serial line's before
    // it opens, a TCP line's before every send and before the repeat of a short one.
    SleepFunction pause;
    int pauseBeforeOpenMs = 0;
    int pauseBeforeSendMs = 0;
};

// A serial line: 8 data bits, no parity, 2 stop bits; a read returns after at most about
// 100 ms; writes block until done; DTR and RTS move only on request. A TCP line: a dotted IPv4
// address is used as it stands, any other host text is resolved by name; a read returns at
// once; a write pauses first and sends what a short send left, once.
class ByteLine {
  public:
    virtual ~ByteLine() = default;
    virtual LineKind Kind() const = 0;
    virtual LineError Open(const LineTarget& target) = 0;
    virtual bool IsOpen() const = 0;
    // Returns the number of bytes written, or -1 on failure.
    virtual int Write(const std::uint8_t* data, std::size_t count) = 0;
    // Returns the number of bytes read, 0 when none came within the line's read wait.
    virtual int Read(std::uint8_t* buffer, std::size_t count) = 0;
    virtual void Purge() = 0;  // drops whatever is queued in both directions
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    virtual void Close() = 0;
};

// The TCP send: a pause before it, and when the system took only part of the bytes (or none),
// a pause and one more send of what did not go; what went already is never repeated, or the
// controller would see a broken frame. Returns the bytes both sends took (-1: none went).
int SendPaced(const std::function<int(const std::uint8_t*, std::size_t)>& send,
              const LineTarget& target, const std::uint8_t* data, std::size_t count);

// A serial line and a TCP line: each open takes the one the target names, and every other
// call goes to the line last opened. The link of the window and the poller's workers reach
// their controllers over one of the two, command by command.
class LineChoice : public ByteLine {
  public:
    LineChoice(ByteLine& serial, ByteLine& tcp) : serial_(serial), tcp_(tcp) {}
    LineKind Kind() const override { return current_->Kind(); }
    LineError Open(const LineTarget& target) override {
        current_ = target.tcp ? &tcp_ : &serial_;
        return current_->Open(target);
    }
    bool IsOpen() const override { return current_->IsOpen(); }
    int Write(const std::uint8_t* data, std::size_t count) override {
        return current_->Write(data, count);
    }
    int Read(std::uint8_t* buffer, std::size_t count) override {
        return current_->Read(buffer, count);
    }
    void Purge() override { current_->Purge(); }
    void SetDtr(bool on) override { current_->SetDtr(on); }
    void SetRts(bool on) override { current_->SetRts(on); }
    void Close() override { current_->Close(); }

  private:
    ByteLine& serial_;
    ByteLine& tcp_;
    ByteLine* current_ = &serial_;
};

// Counts the bytes that cross a line: both ways, or only those it delivers.
class CountingLine : public ByteLine {
  public:
    CountingLine(ByteLine& line, std::uint64_t& bytes, bool countWrites = true)
        : line_(line), bytes_(bytes), countWrites_(countWrites) {}
    LineKind Kind() const override { return line_.Kind(); }
    LineError Open(const LineTarget& target) override { return line_.Open(target); }
    bool IsOpen() const override { return line_.IsOpen(); }
    int Write(const std::uint8_t* d, std::size_t n) override {
        const int w = line_.Write(d, n);
        return countWrites_ ? Count(w) : w;
    }
    int Read(std::uint8_t* b, std::size_t n) override { return Count(line_.Read(b, n)); }
    void Purge() override { line_.Purge(); }
    void SetDtr(bool on) override { line_.SetDtr(on); }
    void SetRts(bool on) override { line_.SetRts(on); }
    void Close() override { line_.Close(); }

  private:
    int Count(int n) {
        if (n > 0) bytes_ += static_cast<std::uint64_t>(n);
        return n;
    }
    ByteLine& line_;
    std::uint64_t& bytes_;
    bool countWrites_;
};

}  // namespace vir05
