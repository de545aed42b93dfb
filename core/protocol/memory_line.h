// A byte line in memory: the line of the tests, the fuzzers and the benchmarks.
//
// What the line delivers waits in a queue in which an empty entry is one empty poll (a read
// that times out), so that gaps between reply bytes are counted in ticks exactly and nothing
// depends on the clock. A responder (a controller, a modem) sees every block written and puts
// its answer into the same queue. The line keeps a record of what was done to it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/byte_line.h"

namespace vir05 {

class ByteQueue {
  public:
    using Item = std::optional<std::uint8_t>;  // a byte, or nullopt for one empty poll

    std::deque<Item> in;
    std::vector<std::uint8_t> out;  // every byte written, in order
    // Called with each block written (a responder: controller or modem).
    std::function<void(const std::uint8_t*, std::size_t)> onWrite;
    // Called at every empty poll with the number of empty polls so far.
    std::function<void(int)> onEmptyPoll;
    int emptyPolls = 0;
    long silentPolls = 0;  // empty polls of an empty queue: silence, not a gap in a reply
    // A babbling line: once set, an empty queue delivers floodByte(n) for the n-th byte, without
    // end. A run that hangs proves nothing, so the flood gives up after floodGuard bytes; an
    // engine that takes that many has failed.
    // With floodGap > 0 the line trickles: each flood byte is followed by that many empty polls.
    std::function<std::uint8_t(std::uint64_t)> floodByte;
    std::uint64_t flooded = 0;
    std::uint64_t floodGuard = std::uint64_t{64} << 20;
    int floodGap = 0;
    int floodGapLeft = 0;

    bool Flooding() const { return floodByte && flooded < floodGuard; }
    std::uint8_t NextFloodByte();

    void Push(const std::vector<std::uint8_t>& b) { in.insert(in.end(), b.begin(), b.end()); }
    void Push(const std::vector<Item>& s) { in.insert(in.end(), s.begin(), s.end()); }
    void PushSilence(int polls) { in.insert(in.end(), static_cast<std::size_t>(polls), Item{}); }

    void Written(const std::uint8_t* data, std::size_t n);
    // One poll: a byte, or nullopt when the line is empty or holds a gap here.
    Item Poll();
    // Up to `count` bytes before the next gap; one poll (and 0) when none is ready.
    std::size_t Take(std::uint8_t* buffer, std::size_t count);
    void EmptyPoll();
};

class MemoryLine : public ByteLine {
  public:
    explicit MemoryLine(LineKind kind = LineKind::Serial) : kind_(kind) {}

    ByteQueue line;
    LineError openResult = LineError::None;
    bool open = false;
    // A serial line's record: "open COM3 19200", "purge", "dtr 1", "rts 0", "close".
    std::vector<std::string> events;
    std::vector<std::string> connects;  // a TCP line's "host:port" of every open
    int closes = 0;
    // The most bytes each successive write takes (-1: the write fails); later writes take all.
    std::vector<int> sendLimits;
    std::vector<std::vector<std::uint8_t>> sendCalls;  // what each write to the queue was given

    LineKind Kind() const override { return kind_; }
    LineError Open(const LineTarget& target) override;
    bool IsOpen() const override { return open; }
    int Write(const std::uint8_t* data, std::size_t count) override;
    int Read(std::uint8_t* buffer, std::size_t count) override;
    void Purge() override;
    void SetDtr(bool on) override;
    void SetRts(bool on) override;
    void Close() override;

  private:
    int Send(const std::uint8_t* data, std::size_t count);
    LineKind kind_;
    LineTarget target_;
};

}  // namespace vir05
