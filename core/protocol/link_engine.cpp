#include "core/protocol/link_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>

#include "core/protocol/frame.h"
#include "core/protocol/modem_dial.h"
#include "model/bytes.h"
#include "model/memory.h"

namespace vir05 {

namespace {

constexpr std::string_view kNoCarrier = "NO CARRIER";
constexpr std::size_t kCarrierWindow = 12;

// True when the modem's "NO CARRIER" lies within the last 12 bytes before `count`.
bool CarrierLost(const std::uint8_t* buffer, std::size_t count) {
    if (count < kCarrierWindow) return false;
    const std::string_view tail(reinterpret_cast<const char*>(buffer + count - kCarrierWindow),
                                kCarrierWindow);
    return tail.find(kNoCarrier) != std::string_view::npos;
}

std::int64_t FloorToBlock(std::int64_t v) {
    const std::int64_t b = static_cast<std::int64_t>(kArchiveBlockSize);
    std::int64_t q = v / b;
    if (v % b != 0 && v < 0) --q;
    return q * b;
}

}  // namespace

LocalTime SystemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.weekday = tm.tm_wday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

LinkImage LinkImage::Of(MemoryAreas& areas) {
    return LinkImage{areas.DeviceImage(), areas.ConfigShadow(), &areas.SelectedCircuit};
}

std::uint32_t ArchivePlan::BlockStart(int k) const {
    // The write position is an offset in the ring; a controller value beyond it is taken
    // modulo the ring so that the blocks still lie inside it.
    const std::int64_t p = archPos % kArchiveRingSize;
    std::int64_t s = p - static_cast<std::int64_t>(k) * kArchiveBlockSize + stride;
    if (s < -65536) s = FloorToBlock(s) + 65536 + static_cast<std::int64_t>(kArchiveRingSize);
    // Blocks that would start before the ring start read from its start; a first block that
    // would run past the ring end reads the last whole block, so every copy stays in the ring.
    s = std::clamp<std::int64_t>(s, 0, static_cast<std::int64_t>(kArchiveLastBlockStart));
    return static_cast<std::uint32_t>(s);
}

ArchivePlan PlanArchive(std::uint8_t numSystems, std::uint32_t archPos, std::uint16_t softVer,
                        std::int64_t archiveSlots) {
    // Only 1 means one circuit; every other value reads as two, as the window shows it.
    const std::int64_t n = numSystems == 1 ? 1 : 2;
    std::int64_t total = n * archiveSlots * 16;
    total = std::min<std::int64_t>(total, kArchiveRingSize);
    total = std::max<std::int64_t>(total, kArchiveBlockSize);
    ArchivePlan plan;
    plan.total = static_cast<std::uint32_t>(total);
    plan.stride = n == 1 ? 16 : 32;
    plan.mode = softVer >= kCompressedFromSoftVer ? kModeCompressed : kModePlain;
    plan.archPos = archPos;
    return plan;
}

LinkEngine::LinkEngine(ByteLine& line, LinkImage image, LinkTiming timing, TraceSink* trace,
                       SleepFunction sleep, LocalTimeFunction localTime)
    : line_(line),
      image_(image),
      timing_(timing),
      trace_(trace),
      sleep_(sleep ? std::move(sleep) : SleepFunction(RealSleep)),
      localTime_(localTime ? std::move(localTime) : LocalTimeFunction(SystemLocalTime)) {
    req_.ReplyTicks = static_cast<std::uint32_t>(timing_.replyTicksCreated);
}

void LinkEngine::Pause(int ms) {
    sleep_(ms);
}

void LinkEngine::ShowLinkText() {
    if (showLinkText_) showLinkText_();
}

void LinkEngine::Fail(LinkStatus status, std::string text) {
    req_.ErrorText = std::move(text);
    req_.Status = ToCell(status);
    ++req_.ErrorCount;
}

void LinkEngine::Fail(LinkStatus status, LinkError error) {
    Fail(status, std::string(LinkErrorText(error)));
}

void LinkEngine::SetProgress(unsigned value) {
    req_.Progress->store(static_cast<std::uint8_t>(std::min(value, 100u)));
}

int LinkEngine::Circuit() const {
    return ShownCircuit(image_.SelectedCircuit ? *image_.SelectedCircuit : 0);
}

// ---------------------------------------------------------------------------------------------
// The command cycle.

void LinkEngine::RunPass() {
    req_.Progress->store(0);
    req_.ErrorCount = 0;
    req_.ArchiveBlocksPlanned = 0;
    req_.ArchiveBlocksRead = 0;
    req_.ArchiveStopped = false;
    // A carrier loss seen in an earlier command (one stopped right after it) says nothing about
    // this one's line.
    rawTail_.clear();
    rawCarrierLost_ = false;
    // Also taken here so that a pass whose open fails reports the time the open took.
    req_.StartTime = LinkRequest::Clock::now();
    OpenLink();
    if (line_.IsOpen()) {
        if (req_.Phone.empty()) SendText("ATE0Q1\r");
        req_.StartTime = LinkRequest::Clock::now();
        RunCommand();
    }
    req_.Duration = LinkRequest::Clock::now() - req_.StartTime;
    if (Cancelled()) {
        req_.ErrorText = LinkErrorText(LinkError::Cancelled);
        req_.Status = link_status::Cancelled;
    }
    // A failure is never reported without a reason.
    if (req_.Status.load() != link_status::Success && req_.ErrorText.empty())
        req_.ErrorText = FailureCodeText(req_.Status.load());
    CloseLink();
}

void LinkEngine::RunCommand() {
    const int cmd = req_.Command.load();
    switch (static_cast<LinkCommand>(cmd)) {
        case LinkCommand::ReadCurrent:
            ReadCurrent();
            break;
        case LinkCommand::ReadArchive:
            ReadArchive();
            break;
        case LinkCommand::WriteConfig:
            WriteConfig();
            break;
        case LinkCommand::SetClock:
            SetClock();
            break;
        case LinkCommand::WriteSerial:
            WriteSerial();
            break;
        case LinkCommand::EmulatorStep:
            EmulatorStep();
            break;
        default:
            if (IsServiceCommand(cmd)) SendServiceCommand();
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Transports.

LineTarget LinkEngine::Target() const {
    LineTarget t;
    t.tcp = req_.UseTcp != 0;
    t.portName = req_.PortName;
    t.baudRate = req_.BaudRate;
    t.host = req_.Host;
    t.tcpPort = static_cast<std::uint16_t>(req_.TcpPort & 0xFFFF);
    t.pause = sleep_;
    t.pauseBeforeOpenMs = timing_.beforeSerialOpenMs;
    t.pauseBeforeSendMs = timing_.beforeTcpSendMs;
    return t;
}

void LinkEngine::FailOpen(LineError error) {
    struct OpenFailure {
        LineError error;
        LinkError text;
        bool shown;  // a serial line's failure is shown in the caption at once
    };
    static constexpr OpenFailure kFailures[] = {
        {LineError::CannotOpen, LinkError::CannotOpenPort, true},
        {LineError::CannotFillState, LinkError::CannotReadPortState, true},
        {LineError::CannotApplyState, LinkError::CannotWritePortState, true},
        {LineError::CannotSetTimeouts, LinkError::CannotSetTimeouts, true},
        {LineError::LibraryInit, LinkError::SocketLibrary, false},
        {LineError::Socket, LinkError::CannotCreateSocket, false},
        {LineError::Resolve, LinkError::CannotResolve, false},
        {LineError::Connect, LinkError::CannotConnect, false},
    };
    OpenFailure f{error, LinkError::CannotConnect, false};
    for (const OpenFailure& k : kFailures)
        if (k.error == error) f = k;
    req_.ErrorText = f.text == LinkError::CannotOpenPort ? LinkErrorText(f.text, req_.PortName)
                                                         : std::string(LinkErrorText(f.text));
    if (f.shown) ShowLinkText();
    line_.Close();
    req_.Status = link_status::NotOpened;
    if (f.shown) req_.PortName.clear();
}

void LinkEngine::OpenLink() {
    // A line left open from an earlier connection (a reconnect after a carrier loss) is closed
    // rather than forgotten.
    if (line_.IsOpen()) line_.Close();
    const LineError error = line_.Open(Target());
    if (error != LineError::None) return FailOpen(error);
    if (line_.Kind() != LineKind::Serial) return;
    req_.ReplyTicks = static_cast<std::uint32_t>(timing_.replyTicksCreated);
    if (!req_.Phone.empty()) {
        DialSteps steps;
        steps.send = [this](const std::string& text) { SendText(text); };
        steps.receive = [this](std::size_t wanted, std::uint32_t firstWait) {
            std::size_t count = 0;
            ReceiveReply(req_.RxBuffer.data(), req_.RxBuffer.size(), count, wanted, firstWait, 0);
            return count;
        };
        steps.pause = [this](int ms) { Pause(ms); };
        if (!DialModem(line_, req_, timing_, steps)) {
            ShowLinkText();
            line_.Close();
            req_.Status = link_status::NotOpened;
            req_.PortName.clear();
            return;
        }
    }
    line_.Purge();
}

void LinkEngine::CloseLink() {
    line_.SetRts(false);
    line_.SetDtr(false);
    if (!req_.Phone.empty()) {
        Pause(timing_.hangupPauseMs);
        SendText("+++");
        Pause(timing_.hangupPauseMs);
        SendText("ATH\r");
    }
    line_.Close();
    if (line_.Kind() == LineKind::Serial) req_.PortName.clear();
    req_.Phone.clear();
}

void LinkEngine::SendText(const std::string& text) {
    SendBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Bytes for a line that is not open (the hang-up after a failed dial) go nowhere but are
// still traced, so that the trace shows every step the link took.
void LinkEngine::SendBytes(const std::uint8_t* bytes, std::size_t count) {
    if (line_.IsOpen()) line_.Write(bytes, count);
    if (trace_)
        for (std::size_t i = 0; i < count; ++i)
            trace_->Sent(bytes[i]);
}

int LinkEngine::ReadByte(std::uint8_t* buffer, std::size_t count) {
    if (!line_.IsOpen()) return 0;
    const int n = line_.Read(buffer, count);
    if (n <= 0) return 0;
    if (trace_)
        for (int i = 0; i < n; ++i)
            trace_->Received(buffer[i]);
    return n;
}

// ---------------------------------------------------------------------------------------------
// Frames.

void LinkEngine::ReceiveReply(std::uint8_t* buffer, std::size_t capacity, std::size_t& count,
                              std::size_t wanted, std::uint32_t firstWait,
                              std::size_t progressTotal) {
    const std::int32_t command = req_.Command.load();
    if (command == ToCell(LinkCommand::None)) return;
    // The buffer keeps room for the decoder's overrun and the spare zero byte past `wanted`.
    wanted = std::min(wanted, capacity - kRxBufferSlack);
    const std::uint64_t w = firstWait;
    std::uint64_t idle = 0;
    // Once bytes come, each gap may last up to ReplyTicks - 1 ticks; all gaps together may last
    // the reply wait and one tick per byte received. A line that trickles bytes (noise, a byte
    // every few seconds) would otherwise hold a drain of 131072 bytes for days; a reply at any
    // real pace, even through a slow converter, has far fewer gaps than bytes.
    std::uint64_t received = 0;
    std::uint64_t gapTicks = 0;
    lastPauses_ = 0;
    while (line_.IsOpen() && req_.Command.load() == command && count < wanted) {
        std::uint8_t b = 0;
        if (ReadByte(&b, 1) > 0) {
            if (req_.Unpack) {
                UnpackByte(req_.UnpackState, b, count, buffer);
                // Decoded, the modem's own words would be lost: they are watched for as they
                // came off the line.
                NoteRawByte(b);
            } else {
                buffer[count++] = b;
            }
            buffer[count] = 0;
            idle = w + 1;
            ++received;
            if (progressTotal != 0) {
                const std::size_t p = count * 100 / progressTotal;
                if (p < 100) req_.Progress->store(static_cast<std::uint8_t>(p));
            }
            continue;
        }
        if (req_.SkipWait.load() != 0 || CarrierLost(buffer, count) || rawCarrierLost_ ||
            idle == w || idle >= w + req_.ReplyTicks ||
            (received > 0 && gapTicks >= req_.ReplyTicks + received))
            break;
        ++idle;
        if (received > 0) ++gapTicks;
        ++lastPauses_;
        Pause(timing_.tickMs);
        // A call that finds the line empty at its first poll keeps the count it was given: an
        // archive block is assembled over several calls, and a next byte one poll late (a
        // packet boundary on TCP) must not throw away the bytes assembled so far.
    }
    req_.SkipWait = 0;
    if (req_.Command.load() != 0 && trace_)
        trace_->ReceiveStep(count, wanted, FrameChecksum(buffer, count));
}

std::size_t LinkEngine::Drain() {
    std::size_t count = 0;
    ReceiveReply(req_.RxBuffer.data(), req_.RxBuffer.size(), count, kDrainLimit, 0, 0);
    return count;
}

bool LinkEngine::ReadExchange(const std::uint8_t* frame, std::size_t frameLength,
                              std::size_t replyLength, bool watchCarrier, bool lastAttempt) {
    std::uint8_t* buf = req_.RxBuffer.data();
    const std::size_t cap = req_.RxBuffer.size();
    Drain();
    SendBytes(frame, frameLength);
    std::size_t count = 0;
    ReceiveReply(buf, cap, count, 1, req_.ReplyTicks, replyLength);
    // A stop by the user ends the wait without a verdict: nothing to report, nothing counted.
    if (Cancelled()) return false;
    if (count == 0) {
        Fail(LinkStatus::NoReply, LinkError::NoByte);
        return false;
    }
    if (buf[0] != kReplyStart) {
        Fail(LinkStatus::BadImageHeader, BadHeaderText(buf[0]));
        // What follows belongs to no request of ours (the late rest of an earlier reply): it is
        // drained, or the next attempt would take it for its own reply.
        DrainRest();
        return false;
    }
    // The rest may come after a pause right behind the first byte (a packet boundary of a line
    // converter, a busy controller): it is waited for as any gap between the bytes of a reply.
    ReceiveReply(buf, cap, count, replyLength, req_.ReplyTicks, replyLength);
    if (Cancelled()) return false;
    if (watchCarrier && CarrierLost(buf, count)) {
        // The modem lost the line in the middle of the reply: wait for it to settle and dial
        // again before the next attempt.
        Pause(timing_.noCarrierPauseMs);
        req_.Status = link_status::NoReply;
        if (lastAttempt)
            req_.ErrorText =
                LinkErrorText(LinkError::CarrierLost);  // the reason the read ends with
        if (!lastAttempt) OpenLink();
        return false;
    }
    if (count != replyLength) {
        Fail(LinkStatus::NoReply, LengthText(count, replyLength));
        DrainRest();  // the rest of a reply cut by a long gap may still come
        return false;
    }
    if (!FrameValid(buf, replyLength)) {
        Fail(LinkStatus::Checksum, LinkError::Checksum);
        return false;
    }
    return true;
}

bool LinkEngine::WriteBlock(int address, std::size_t n) {
    if (address < 0 || n == 0 || n > 253 || static_cast<std::size_t>(address) + n > kImageSize)
        return false;
    std::uint8_t* buf = work_.data();
    const std::size_t length =
        BuildWriteFrame(buf, static_cast<std::uint8_t>(req_.NetAddr),
                        static_cast<std::uint16_t>(address), image_.DeviceImage + address, n);
    SendBytes(buf, length);
    std::size_t count = 0;
    ReceiveReply(buf, work_.size(), count, kReplyOverhead, req_.ReplyTicks, 0);
    if (count != kReplyOverhead || !FrameValid(buf, kReplyOverhead)) return false;
    ShowLinkText();
    return true;
}

void LinkEngine::NoteRawByte(std::uint8_t b) {
    rawTail_.push_back(static_cast<char>(b));
    if (rawTail_.size() > kCarrierWindow) rawTail_.erase(0, rawTail_.size() - kCarrierWindow);
    if (rawTail_.find(kNoCarrier) != std::string::npos) rawCarrierLost_ = true;
}

void LinkEngine::DrainRest() {
    // Repeats while bytes keep coming, but a line that never stops (a babbling controller, line
    // noise) would keep it going for ever: it takes at most kDrainLimit bytes, as much as a
    // drain of the line takes, and a line that trickles is held to the pace of a receive (the
    // reply wait and one tick per byte drained); the exchange then ends with its verdict.
    std::size_t count = 0;
    std::size_t drained = 0;
    std::uint64_t pauses = 0;
    do {
        count = 0;
        ReceiveReply(req_.RxBuffer.data(), req_.RxBuffer.size(), count, 1, req_.ReplyTicks / 4, 0);
        drained += count;
        pauses += lastPauses_;
    } while (count > 0 && drained < kDrainLimit && pauses < req_.ReplyTicks + drained);
}

bool LinkEngine::ArchiveBlockExchange(std::uint32_t start, std::uint8_t mode, bool lastAttempt) {
    std::uint8_t* buf = req_.RxBuffer.data();
    const std::size_t cap = req_.RxBuffer.size();
    const std::size_t s = std::min<std::size_t>(start, kArchiveLastBlockStart);
    rawTail_.clear();
    rawCarrierLost_ = false;
    std::uint8_t frame[kArchiveFrameSize];
    const std::size_t length =
        BuildArchiveFrame(frame, static_cast<std::uint8_t>(req_.NetAddr), mode,
                          static_cast<std::uint32_t>(s), kArchiveBlockSize);
    SendBytes(frame, length);
    std::size_t count = 0;
    ReceiveReply(buf, cap, count, 1, req_.ReplyTicks, 0);
    if (Cancelled()) return false;
    if (count == 0) {
        Fail(LinkStatus::NoReply, LinkError::NoByte);
        return false;
    }
    buf[s] = buf[0];
    count = s + 1;
    ReceiveReply(buf, cap, count, s + kReplyHeaderSize, req_.ReplyTicks, 0);
    if (mode == kModeCompressed) {
        req_.Unpack = true;
        req_.UnpackState.Reset();
    }
    ReceiveReply(buf, cap, count, s + kArchiveBlockSize + kReplyHeaderSize, req_.ReplyTicks, 0);
    req_.Unpack = false;
    ReceiveReply(buf, cap, count, s + kArchiveBlockSize + kReplyOverhead, req_.ReplyTicks, 0);
    if (Cancelled()) return false;
    if (CarrierLost(buf, count) || rawCarrierLost_) {
        rawCarrierLost_ = false;
        req_.Status = link_status::NoReply;
        if (lastAttempt)
            req_.ErrorText =
                LinkErrorText(LinkError::CarrierLost);  // the reason the read ends with
        if (!lastAttempt) OpenLink();
        return false;
    }
    if (buf[0] != kReplyStart) {
        Fail(LinkStatus::BadArchiveHeader, BadHeaderText(buf[0]));
        DrainRest();
        return false;
    }
    if (count != s + kArchiveBlockSize + kReplyOverhead) {
        const std::size_t got = count >= s ? count - s : count;
        DrainRest();
        Fail(LinkStatus::NoReply, LengthText(got, kArchiveBlockSize + kReplyOverhead));
        return false;
    }
    if (!FrameValid(buf + s, kArchiveBlockSize + kReplyOverhead)) {
        Fail(LinkStatus::Checksum, LinkError::Checksum);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Commands.

bool LinkEngine::ReadCurrent() {
    std::uint8_t frame[kReadFrameSize];
    const std::size_t length = BuildReadImageFrame(frame, static_cast<std::uint8_t>(req_.NetAddr));
    bool ok = false;
    for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
        ok = ReadExchange(frame, length, kImageReplyLength, true, attempt == kReadAttempts);
        if (!Cancelled()) ShowLinkText();  // a stop leaves the caption as the user's click set it
        if (Cancelled() || ok || attempt == kReadAttempts) break;
        req_.Status = link_status::Success;
    }
    if (ok && req_.Destination) {
        // Cleared up to the end of the archive ring's place, so that parts of the ring an
        // archive read does not reach hold zeros rather than an earlier reading.
        std::memset(req_.Destination, 0, kReceiveClearedSize);
        std::memcpy(req_.Destination, req_.RxBuffer.data(), kImageReplyLength);
    }
    return ok;
}

void LinkEngine::ReadArchive() {
    blocksRead_ = 0;
    if (!ReadCurrent()) return;
    if (req_.Command.load() != command::ReadArchive) return;
    // An exchange that failed may still be answered, late and whole: that reply would pass for
    // the next block's (same length, valid checksum, the data of another place in the ring).
    // After a phase that needed a retry, the line is drained until it is quiet.
    bool retried = req_.ErrorCount.load() > 0;
    // The image just read is also in RxBuffer (six header bytes first); reading it there works
    // without a destination too.
    const std::uint8_t* image = req_.RxBuffer.data() + kReplyHeaderSize;
    const ArchivePlan plan = PlanArchive(U8(image, addr::NumSystems), U32(image, addr::ArchPos),
                                         U16(image, addr::SoftVer), req_.ArchiveSlots.load());
    std::uint32_t progressTotal = plan.total;
    ArchiveBlocks chosen;
    if (chooser_) {
        chosen = chooser_(image, plan);
        chosen.count = std::clamp(chosen.count, 0, static_cast<int>(chosen.start.size()));
        for (std::uint32_t& start : chosen.start)
            start = std::min<std::uint32_t>(start, kArchiveLastBlockStart);
        progressTotal = static_cast<std::uint32_t>(std::max(chosen.count, 1) * kArchiveBlockSize);
    }
    const int blocks = chooser_ ? chosen.count : plan.Blocks();
    if (retried)
        DrainRest();
    else
        Drain();
    int& blocksRead = blocksRead_;
    blocksRead = 0;
    req_.ArchiveBlocksPlanned = blocks;
    for (int k = 1; k <= blocks; ++k) {
        const std::uint32_t s = chooser_ ? chosen.start[k - 1] : plan.BlockStart(k);
        bool ok = false;
        retried = false;
        for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
            // The rest of a reply cut by a long gap may come after the failed attempt; a retry
            // drains it first, as every image read does, so it is not taken for the new reply.
            if (attempt > 1) Drain();
            ok = ArchiveBlockExchange(s, plan.mode, attempt == kReadAttempts);
            if (!Cancelled()) ShowLinkText();
            if (Cancelled() || ok || attempt == kReadAttempts) break;
            req_.Status = link_status::Success;
            retried = true;
        }
        if (ok) {
            if (req_.Destination) {
                SetProgress(static_cast<unsigned>(static_cast<std::uint64_t>(k) *
                                                  kArchiveBlockSize * 100 / progressTotal));
                std::memcpy(req_.Destination + kReceiveArchiveOffset + s,
                            req_.RxBuffer.data() + s + kReplyHeaderSize, kArchiveBlockSize);
            }
            ++blocksRead;
            req_.ArchiveBlocksRead = blocksRead;
            if (retried && k < blocks) DrainRest();  // after the copy: it uses RxBuffer
        }
        if (req_.Status.load() != link_status::Success || Cancelled()) break;
    }
    if (blocksRead > 0 && Cancelled()) {
        // Stopped by the user during the archive: what was read is kept, marked as stopped so
        // that it is never taken for a whole archive.
        req_.Status = link_status::Success;
        req_.Command = command::ReadArchive;
        req_.ArchiveStopped = blocksRead < blocks;
    }
}

void LinkEngine::WriteConfig() {
    const std::uint8_t* image = image_.DeviceImage;
    const std::uint8_t* shadow = image_.ConfigShadow;
    const int length = addr::ConfigLength;
    for (int w = 0; w < length; w += kConfigWindow) {
        if (Cancelled()) break;
        const int base = addr::ConfigStart + w;
        const int size = std::min(kConfigWindow, length - w);
        int first = -1;
        int last = -1;
        for (int i = 0; i < size; ++i) {
            if (req_.RewriteAll != 0 || image[base + i] != shadow[base + i]) {
                if (first < 0) first = i;
                last = i;
            }
        }
        if (first >= 0 && !WriteBlock(base + first, static_cast<std::size_t>(last - first + 1)))
            Fail(LinkStatus::NotAcknowledged, LinkError::WriteConfig);
        SetProgress(static_cast<unsigned>(w * 100 / length));
    }
    SetProgress(100);
}

void LinkEngine::SetClock() {
    const LocalTime t = localTime_();
    std::uint8_t* image = image_.DeviceImage;
    const int yy = ((t.year % 100) + 100) % 100;
    image[addr::ClockSec] = ToBcd(t.second);
    image[addr::ClockMin] = ToBcd(t.minute);
    image[addr::ClockHour] = ToBcd(t.hour);
    image[addr::ClockDay] = ToBcd(t.day);
    image[addr::ClockMonth] = ToBcd(t.month);
    image[addr::ClockYear] = ToBcd(yy);
    image[addr::ClockWeekday] = static_cast<std::uint8_t>(t.weekday);  // 0 = Sunday
    if (!WriteBlock(addr::ClockSec, 8)) {
        Fail(LinkStatus::NotAcknowledged, LinkError::WriteClock);
        return;
    }
    SetProgress(100);
    ShowLinkText();
}

void LinkEngine::WriteSerial() {
    if (!WriteBlock(addr::DevNumber, 4)) {
        Fail(LinkStatus::NotAcknowledged, LinkError::WriteSerial);
        return;
    }
    SetProgress(100);
}

void LinkEngine::EmulatorStep() {
    const int c = Circuit();
    if (!WriteBlock(CircuitField(c, rec::T11), 2) || !WriteBlock(addr::EmulationFlag, 1)) {
        Fail(LinkStatus::NotAcknowledged, LinkError::Write);
        return;
    }
    std::uint8_t frame[kReadFrameSize];
    constexpr std::uint16_t kCount = 5;  // RegAccum (4 bytes) and RegStep (1 byte)
    const std::size_t length =
        BuildReadMemoryFrame(frame, static_cast<std::uint8_t>(req_.NetAddr),
                             static_cast<std::uint32_t>(CircuitField(c, rec::RegAccum)), kCount);
    if (!ReadExchange(frame, length, kCount + kReplyOverhead)) return;
    if (req_.Destination)
        std::memcpy(req_.Destination, req_.RxBuffer.data() + kReplyHeaderSize, kCount + 1);
    SetProgress(100);
}

void LinkEngine::SendServiceCommand() {
    const int cmd = req_.Command.load();
    std::uint8_t* image = image_.DeviceImage;
    image[addr::ServiceCommand] = ServiceCode(cmd);
    const bool ok = WriteBlock(addr::ServiceCommand, 1);
    image[addr::ServiceCommand] = 0;
    if (!ok) {
        Fail(LinkStatus::NotAcknowledged, LinkError::ServiceCommand);
        return;
    }
    req_.Progress->store(0);
    // Completes as a read of current values; a cancel that came meanwhile stays a cancel.
    std::int32_t expected = cmd;
    if (!req_.Command.compare_exchange_strong(expected, command::ReadCurrent)) return;
    ReadCurrent();
}

}  // namespace vir05
