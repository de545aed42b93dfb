// The simulated ВИР-05 controller: its memory, its archive, and its answers to request frames.
//
// A Controller holds a 1955-byte memory image and a 131072-byte archive memory and answers the
// request frames of the tool: image and memory reads, memory writes (acknowledged), and archive
// reads, plain or compressed. It runs its clock from the host clock plus an offset, acts on the
// service byte, and runs a valve loop for the plant-emulation exchange. Every method is
// thread-safe; the lines of lines.h share one Controller.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "model/layout.h"

namespace vir05::sim {

// Splits the byte stream of a line into request frames. A frame starts with 0x55, carries an
// address and its complement, a known mode and operation with their parameter count, and ends
// with a valid checksum; anything else is skipped byte by byte until the next 0x55. An
// unfinished frame is dropped when the line has been quiet for longer than `staleAfter`.
class FrameParser {
  public:
    using Clock = std::chrono::steady_clock;
    explicit FrameParser(std::chrono::milliseconds staleAfter = std::chrono::milliseconds(1000))
        : staleAfter_(staleAfter) {}
    // Appends bytes and returns the complete frames found.
    std::vector<std::vector<std::uint8_t>> Feed(const std::uint8_t* data, std::size_t n,
                                                Clock::time_point now = Clock::now());
    void Reset() { buffer_.clear(); }

  private:
    std::vector<std::uint8_t> buffer_;
    Clock::time_point last_{};
    std::chrono::milliseconds staleAfter_;
};

struct Reply {
    std::vector<std::uint8_t> bytes;
    bool archiveBlock = false;  // a reply to an archive read
};

class Controller {
  public:
    // Seconds of local time since 1970-01-01 00:00 (the controller's clock has no time zone).
    using HostClock = std::function<std::int64_t()>;
    static std::int64_t LocalNow();

    explicit Controller(HostClock clock = LocalNow);

    // Takes new contents: the clock continues from the image's clock, the network address is
    // the image's NetAddress unless one was set with SetNetAddress.
    void Load(const std::uint8_t* image, const std::uint8_t* archive);
    // The controller answers at its NetAddress byte (address 83), as a real one does: a
    // configuration write of that byte moves it to the new address. SetNetAddress puts the
    // given address there, now and after every later Load.
    void SetNetAddress(std::optional<std::uint8_t> address);
    std::uint8_t NetAddress() const;

    // Answers one request frame (as the FrameParser delivers them); nullopt when the frame is
    // not answered (another address, an unknown request, a range outside the memory).
    std::optional<Reply> Handle(const std::vector<std::uint8_t>& frame);

    // Copies of the memories as they stand (the clock bytes as last refreshed).
    std::array<std::uint8_t, kImageSize> Image() const;
    std::vector<std::uint8_t> Archive() const;
    // Request frames received, oldest first (the last 10000 are kept).
    std::vector<std::vector<std::uint8_t>> ReceivedFrames() const;
    void ClearReceivedFrames();
    // The controller's clock now, as local seconds since 1970.
    std::int64_t ClockNow() const;

    // Writes `count` new periodic records at the write position, as if that many recording
    // periods had passed: each one period after the newest record, its values near the newest
    // one's. ArchPos moves past them, wrapping at the end of the ring. Returns the new ArchPos.
    std::uint32_t AppendRecords(int count);

  private:
    void RefreshClockLocked();
    void OnWriteLocked(int address, int count);
    void ServiceLocked(std::uint8_t code);
    void LogEventLocked(std::uint8_t code, std::int16_t newValue, std::int16_t oldValue);
    void EmulationStepLocked(int circuit);
    std::vector<std::uint8_t> ReplyLocked(std::uint8_t mode, std::uint8_t op,
                                          const std::uint8_t* data, std::size_t n) const;

    mutable std::mutex mutex_;
    HostClock host_;
    std::array<std::uint8_t, kImageSize> image_{};
    std::vector<std::uint8_t> archive_;
    std::optional<std::uint8_t> netOverride_;
    std::int64_t clockOffset_ = 0;  // controller clock minus host clock, seconds
    bool sundayIsZero_ = false;     // weekday numbering as last written by a clock write
    std::int64_t bootHost_ = 0;     // host clock at the last start
    std::int32_t operatingAtBoot_ = 0;
    int nextEventSlot_ = 0;
    struct Loop {
        bool started = false;
        double position = 0;    // virtual valve position, hundredths of a second
        std::int32_t sent = 0;  // sum of the steps reported
        int lastError = 0;
    };
    std::array<Loop, kCircuitCount> loops_{};
    std::deque<std::vector<std::uint8_t>> frames_;
};

// The PI loop of the emulation exchange: proportional gain (hundredths of a second of valve per
// hundredth of a degree) and integral time in exchanges (one a second).
inline constexpr double kEmulationGain = 1.0;
inline constexpr double kEmulationIntegralTime = 30.0;

}  // namespace vir05::sim
