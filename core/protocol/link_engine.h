// The link engine: one command pass of the link thread over one byte line.
//
// A pass opens the line to the request's target (a COM port, dialled when the request has a
// telephone number, or a TCP connection), sends "ATE0Q1\r" when there is no modem, carries out
// the command, notes the duration, turns a cancelled command into status -1 and closes the line.
// The thread that runs passes, parks between them and serves the caption step lives with the
// program; this class is free of any toolkit so that the whole protocol runs against in-memory
// lines in tests.
//
// Time is counted in ticks: an empty poll of the line followed by a pause of `tickMs`. Every
// pause goes through the injected sleep function and every length comes from LinkTiming.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/protocol/byte_line.h"
#include "core/protocol/frame.h"
#include "core/protocol/link_request.h"
#include "core/protocol/timing.h"
#include "core/protocol/trace.h"
#include "model/layout.h"
#include "model/memory.h"

namespace vir05 {

// The computer's local time as the clock write sends it.
struct LocalTime {
    int year = 2000;  // four digits
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int weekday = 0;  // 0 = Sunday .. 6 = Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
};

using LocalTimeFunction = std::function<LocalTime()>;
LocalTime SystemLocalTime();

// The image bytes that the commands send and compare, and the circuit they address.
struct LinkImage {
    std::uint8_t* DeviceImage = nullptr;         // 1955 bytes
    const std::uint8_t* ConfigShadow = nullptr;  // 1955 bytes
    const int* SelectedCircuit = nullptr;        // 0 or 1; read when a command runs

    static LinkImage Of(MemoryAreas& areas);
};

inline constexpr std::size_t kImageReplyLength = kImageSize + kReplyOverhead;  // 1962
inline constexpr std::size_t kArchiveBlockSize = 32768;
inline constexpr std::size_t kArchiveRingSize = kArchiveSize;
inline constexpr std::size_t kArchiveLastBlockStart = kArchiveRingSize - kArchiveBlockSize;
inline constexpr std::size_t kReceiveClearedSize = kReceiveArchiveOffset + kArchiveRingSize;
inline constexpr int kReadAttempts = 5;
inline constexpr int kConfigWindow = 17;
inline constexpr std::uint16_t kCompressedFromSoftVer = 107;
inline constexpr std::size_t kWorkBufferSize = 512;
// The most bytes one drain takes from the line, also when what is left of a failed reply is
// drained: a line that never falls silent cannot hold a command up.
inline constexpr std::size_t kDrainLimit = kArchiveRingSize;

// What an archive read fetches, from the image just read.
struct ArchivePlan {
    std::uint32_t total = 0;   // bytes, a multiple of the block: 32768 .. 131072
    std::uint32_t stride = 0;  // record stride, 16 or 32
    std::uint8_t mode = 0;     // 0x0C plain or 0x0F compressed
    std::uint32_t archPos = 0;

    int Blocks() const { return static_cast<int>(total / kArchiveBlockSize); }
    // Ring offset of block k (1-based): the blocks go backwards from the write position, the
    // first ending `stride` bytes after it.
    std::uint32_t BlockStart(int k) const;
};
ArchivePlan PlanArchive(std::uint8_t numSystems, std::uint32_t archPos, std::uint16_t softVer,
                        std::int64_t archiveSlots);

// Archive blocks chosen by the caller instead of the plan's: ring offsets in request order. Each
// is the same 32 KiB block request; an offset past the last whole block reads the last one.
struct ArchiveBlocks {
    std::array<std::uint32_t, 8> start{};
    int count = 0;
};
// Called once the image is read, with the image's 1955 bytes and the plan made from them.
using ArchiveBlockChooser =
    std::function<ArchiveBlocks(const std::uint8_t* image, const ArchivePlan& plan)>;

class LinkEngine {
  public:
    // The engine owns its request (receive buffer, status and progress cells) and is handed
    // its line and its trace sink (null: no trace); engines on different lines share nothing.
    LinkEngine(ByteLine& line, LinkImage image, LinkTiming timing = LinkTiming::Default(),
               TraceSink* trace = nullptr, SleepFunction sleep = {},
               LocalTimeFunction localTime = {});
    LinkEngine(const LinkEngine&) = delete;
    LinkEngine& operator=(const LinkEngine&) = delete;

    LinkRequest& Request() { return req_; }
    const LinkRequest& Request() const { return req_; }
    const LinkTiming& Timing() const { return timing_; }

    // Runs on the user-interface thread while the link waits: the caption becomes ErrorText.
    void SetShowLinkText(std::function<void()> show) { showLinkText_ = std::move(show); }

    // An archive read with a chooser fetches the blocks it chooses (none set: the plan's).
    void SetArchiveBlockChooser(ArchiveBlockChooser chooser) { chooser_ = std::move(chooser); }
    // Archive blocks the last archive read received whole.
    int ArchiveBlocksRead() const { return blocksRead_; }

    // One command: progress and retry count cleared, open, "ATE0Q1\r" without a modem, the
    // command, duration, cancel verdict, close.
    void RunPass();

    // The receive loop. `count` is where the next byte goes; `capacity` is the buffer size
    // including its slack. `firstWait` ticks for the first byte (0: none); once bytes come, gaps
    // of up to ReplyTicks - 1 ticks pass, and all gaps together up to ReplyTicks and one tick per
    // byte received. `progressTotal` 0: no progress. Public for the tests of its tick counting,
    // which no command reaches case by case.
    void ReceiveReply(std::uint8_t* buffer, std::size_t capacity, std::size_t& count,
                      std::size_t wanted, std::uint32_t firstWait, std::size_t progressTotal);

  private:
    // The line. OpenLink reports a failure in the request (status -2).
    void OpenLink();
    void FailOpen(LineError error);
    LineTarget Target() const;
    void CloseLink();
    void SendBytes(const std::uint8_t* bytes, std::size_t count);
    void SendText(const std::string& text);
    int ReadByte(std::uint8_t* buffer, std::size_t count);
    std::size_t Drain();  // returns the count left in RxBuffer

    // Frame exchanges. The read exchange leaves the reply in RxBuffer; with `watchCarrier` a
    // modem's "NO CARRIER" in it pauses, fails with status 1 and, unless `lastAttempt`, reopens.
    bool ReadExchange(const std::uint8_t* frame, std::size_t frameLength, std::size_t replyLength,
                      bool watchCarrier = false, bool lastAttempt = true);
    bool WriteBlock(int address, std::size_t n);
    bool ArchiveBlockExchange(std::uint32_t start, std::uint8_t mode, bool lastAttempt);

    // Commands.
    void RunCommand();
    bool ReadCurrent();
    void ReadArchive();
    void WriteConfig();
    void SetClock();
    void WriteSerial();
    void EmulatorStep();
    void SendServiceCommand();

    void ShowLinkText();
    void Fail(LinkStatus status, std::string text);
    void Fail(LinkStatus status, LinkError error);
    void SetProgress(unsigned value);
    void Pause(int ms);
    bool Cancelled() const { return req_.Command.load() == ToCell(LinkCommand::None); }
    void DrainRest();
    int Circuit() const;

    ByteLine& line_;
    LinkImage image_;
    LinkTiming timing_;
    TraceSink* trace_;
    SleepFunction sleep_;
    LocalTimeFunction localTime_;
    std::function<void()> showLinkText_;
    ArchiveBlockChooser chooser_;
    int blocksRead_ = 0;
    LinkRequest req_;
    std::array<std::uint8_t, kWorkBufferSize + kRxBufferSlack> work_{};
    // The last bytes received raw while a compressed block is decoded, and whether the modem's
    // "NO CARRIER" was among them.
    void NoteRawByte(std::uint8_t b);
    std::string rawTail_;
    bool rawCarrierLost_ = false;
    std::uint64_t lastPauses_ = 0;  // ticks the last receive paused
};

}  // namespace vir05
