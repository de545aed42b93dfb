#include "sim/controller.h"

#include "sim/civil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "core/protocol/frame.h"
#include "model/bytes.h"
#include "model/records.h"
#include "sim/encoder.h"

namespace vir05::sim {

namespace {

constexpr std::size_t kFrameLogLimit = 10000;

std::uint32_t Be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}
std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// The parameter count a request of this operation carries; 0 for an unknown operation.
bool ParamCountFits(std::uint8_t op, std::uint8_t count) {
    switch (op) {
        case kOpRead:
            return count == 6;
        case kOpArchive:
            return count == 8;
        case kOpWrite:
            return count >= 3;
        default:
            return false;
    }
}

// Reads the clock bytes 0 to 6; nullopt when they do not form a real date and time.
std::optional<std::int64_t> ClockFromImage(const std::uint8_t* img) {
    for (int a : {addr::ClockSec, addr::ClockMin, addr::ClockHour, addr::ClockDay, addr::ClockMonth,
                  addr::ClockYear})
        if (!IsBcd(img[a])) return std::nullopt;
    using namespace std::chrono;
    const int sec = FromBcd(img[addr::ClockSec]), min = FromBcd(img[addr::ClockMin]),
              hour = FromBcd(img[addr::ClockHour]);
    if (sec > 59 || min > 59 || hour > 23) return std::nullopt;
    const year_month_day ymd{year{2000 + FromBcd(img[addr::ClockYear])},
                             month{static_cast<unsigned>(FromBcd(img[addr::ClockMonth]))},
                             day{static_cast<unsigned>(FromBcd(img[addr::ClockDay]))}};
    if (!ymd.ok()) return std::nullopt;
    return sys_days{ymd}.time_since_epoch().count() * 86400LL + hour * 3600 + min * 60 + sec;
}

}  // namespace

std::vector<std::vector<std::uint8_t>> FrameParser::Feed(const std::uint8_t* data, std::size_t n,
                                                         Clock::time_point now) {
    if (!buffer_.empty() && now - last_ > staleAfter_) buffer_.clear();
    last_ = now;
    buffer_.insert(buffer_.end(), data, data + n);
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t start = 0;
    for (;;) {
        while (start < buffer_.size() && buffer_[start] != kFrameStart)
            ++start;
        const std::size_t have = buffer_.size() - start;
        const std::uint8_t* f = buffer_.data() + start;
        // Each header byte that has arrived must fit, or the 0x55 was not a frame start.
        const bool bad = (have > 2 && f[2] != static_cast<std::uint8_t>(~f[1])) ||
                         (have > 3 && f[3] != kModePlain && f[3] != kModeCompressed) ||
                         (have > 5 && !ParamCountFits(f[4], f[5])) ||
                         (have > 4 && f[4] != kOpRead && f[4] != kOpWrite && f[4] != kOpArchive);
        if (bad) {
            ++start;
            continue;
        }
        if (have < 6) break;
        const std::size_t length = 6 + static_cast<std::size_t>(f[5]) + 1;
        if (have < length) break;
        if (FrameValid(f, length)) {
            frames.emplace_back(f, f + length);
            start += length;
        } else {
            ++start;
        }
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
    return frames;
}

std::int64_t Controller::LocalNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return static_cast<std::int64_t>(t) + tm.tm_gmtoff;
}

Controller::Controller(HostClock clock) : host_(std::move(clock)), archive_(kArchiveSize, 0xFF) {
    bootHost_ = host_();
}

void Controller::Load(const std::uint8_t* image, const std::uint8_t* archive) {
    std::lock_guard lock(mutex_);
    std::memcpy(image_.data(), image, kImageSize);
    std::memcpy(archive_.data(), archive, kArchiveSize);
    const std::int64_t now = host_();
    const auto clock = ClockFromImage(image_.data());
    clockOffset_ = clock ? *clock - now : 0;
    sundayIsZero_ = image_[addr::ClockWeekday] == 0;
    bootHost_ = now;
    operatingAtBoot_ = I32(image_.data(), addr::OperatingTime);
    if (netOverride_) image_[addr::NetAddress] = *netOverride_;
    loops_ = {};
    // New events go after the newest one in the log.
    nextEventSlot_ = 0;
    const std::uint8_t* newest = nullptr;
    for (int s = 0; s < arch::EventSlots; ++s) {
        const std::uint8_t* slot = archive_.data() + arch::EventLog + s * arch::EventSlotSize;
        if (!EventSlotHoldsEvent(slot)) continue;
        const std::uint8_t key[] = {slot[5], slot[4], slot[3], slot[2], slot[1], slot[0]};
        if (newest) {
            const std::uint8_t best[] = {newest[5], newest[4], newest[3],
                                         newest[2], newest[1], newest[0]};
            if (std::memcmp(key, best, sizeof key) < 0) continue;
        }
        newest = slot;
        nextEventSlot_ = (s + 1) % arch::EventSlots;
    }
}

void Controller::SetNetAddress(std::optional<std::uint8_t> address) {
    std::lock_guard lock(mutex_);
    netOverride_ = address;
    if (address) image_[addr::NetAddress] = *address;
}

std::uint8_t Controller::NetAddress() const {
    std::lock_guard lock(mutex_);
    return image_[addr::NetAddress];
}

std::array<std::uint8_t, kImageSize> Controller::Image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

std::vector<std::uint8_t> Controller::Archive() const {
    std::lock_guard lock(mutex_);
    return archive_;
}

std::vector<std::vector<std::uint8_t>> Controller::ReceivedFrames() const {
    std::lock_guard lock(mutex_);
    return {frames_.begin(), frames_.end()};
}

void Controller::ClearReceivedFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

std::uint32_t Controller::AppendRecords(int count) {
    std::lock_guard lock(mutex_);
    std::uint8_t* img = image_.data();
    const int stride = ArchiveStride(img[addr::NumSystems] == 1 ? 1 : 2);
    const int ringEnd = arch::Periodic + arch::PeriodicSize;
    std::uint32_t pos = U32(img, addr::ArchPos);
    if (pos < static_cast<std::uint32_t>(arch::Periodic) ||
        pos >= static_cast<std::uint32_t>(ringEnd) ||
        (pos - arch::Periodic) % static_cast<std::uint32_t>(stride) != 0)
        pos = arch::Periodic;
    static constexpr int kPeriods[] = {0, 10, 30, 60, 300, 1800, 3600, 7200, 14400};
    const int index = img[addr::PeriodStat];
    const int period = index >= 1 && index <= 8 ? kPeriods[index] : 3600;
    for (int i = 0; i < count; ++i) {
        std::uint32_t before = pos - static_cast<std::uint32_t>(stride);
        if (before < static_cast<std::uint32_t>(arch::Periodic)) before += arch::PeriodicSize;
        const std::uint8_t* last = archive_.data() + before;
        std::uint8_t* r = archive_.data() + pos;
        const ArchiveTime t = DecodeArchiveTime(last);
        std::int64_t when = host_() + clockOffset_;
        if (t.Valid()) {
            using namespace std::chrono;
            const year_month_day ymd{year{t.Year()}, month{static_cast<unsigned>(t.Month())},
                                     day{static_cast<unsigned>(t.Day())}};
            if (ymd.ok())
                when = sys_days{ymd}.time_since_epoch().count() * 86400LL + t.Hour() * 3600 +
                       t.Minute() * 60 + t.Second() + period;
            std::memcpy(r, last, static_cast<std::size_t>(stride));
        } else {
            std::memset(r, 0, static_cast<std::size_t>(stride));
        }
        const Civil c = ToCivil(when);
        PutU16(r, 0, static_cast<std::uint16_t>((c.hour << 11) | (c.minute << 5) | (c.second / 2)));
        PutU16(r, 2, static_cast<std::uint16_t>(((c.year - 2000) << 9) | (c.month << 5) | c.day));
        r[4 + 9] = static_cast<std::uint8_t>((r[4 + 9] + 1) % 101);  // the valve moves a little
        pos += static_cast<std::uint32_t>(stride);
        if (pos >= static_cast<std::uint32_t>(ringEnd)) pos = arch::Periodic;
    }
    PutU32(img, addr::ArchPos, pos);
    return pos;
}

std::int64_t Controller::ClockNow() const {
    std::lock_guard lock(mutex_);
    return host_() + clockOffset_;
}

void Controller::RefreshClockLocked() {
    const std::int64_t now = host_();
    const Civil c = ToCivil(now + clockOffset_);
    std::uint8_t* img = image_.data();
    img[addr::ClockSec] = ToBcd(c.second);
    img[addr::ClockMin] = ToBcd(c.minute);
    img[addr::ClockHour] = ToBcd(c.hour);
    img[addr::ClockWeekday] =
        static_cast<std::uint8_t>(c.isoWeekday == 7 && sundayIsZero_ ? 0 : c.isoWeekday);
    img[addr::ClockDay] = ToBcd(c.day);
    img[addr::ClockMonth] = ToBcd(c.month);
    img[addr::ClockYear] = ToBcd(c.year % 100);
    PutI32(img, addr::OperatingTime,
           static_cast<std::int32_t>(operatingAtBoot_ + (now - bootHost_)));
}

std::vector<std::uint8_t> Controller::ReplyLocked(std::uint8_t mode, std::uint8_t op,
                                                  const std::uint8_t* data, std::size_t n) const {
    // Header: 170, network address, the request's mode and operation, the data length.
    std::vector<std::uint8_t> r(kReplyHeaderSize + (data ? n : 0) + 1);
    r[0] = kReplyStart;
    r[1] = image_[addr::NetAddress];
    r[2] = mode;
    r[3] = op;
    r[4] = static_cast<std::uint8_t>(n >> 8);
    r[5] = static_cast<std::uint8_t>(n);
    if (data) std::copy(data, data + n, r.begin() + kReplyHeaderSize);
    r.back() = FrameChecksum(r.data(), r.size() - 1);
    return r;
}

std::optional<Reply> Controller::Handle(const std::vector<std::uint8_t>& f) {
    std::lock_guard lock(mutex_);
    frames_.push_back(f);
    while (frames_.size() > kFrameLogLimit)
        frames_.pop_front();
    if (f.size() < 7 || f.size() != 7u + f[5]) return std::nullopt;
    if (f[1] != image_[addr::NetAddress]) return std::nullopt;
    const std::uint8_t mode = f[3], op = f[4];
    if (op == kOpRead && f[5] == 6) {
        const std::uint32_t address = Be32(&f[6]);
        const std::uint16_t count = Be16(&f[10]);
        if (address > kImageSize || count > kImageSize - address) return std::nullopt;
        RefreshClockLocked();
        for (int c = 0; c < kCircuitCount; ++c)
            if (image_[addr::EmulationFlag] != 0 &&
                address == static_cast<std::uint32_t>(CircuitField(c, rec::RegAccum)))
                EmulationStepLocked(c);
        return Reply{ReplyLocked(mode, op, image_.data() + address, count), false};
    }
    if (op == kOpWrite && f[5] >= 3) {
        const int address = Be16(&f[6]);
        const int n = f[5] - 2;
        if (address + n > static_cast<int>(kImageSize)) return std::nullopt;
        std::memcpy(image_.data() + address, &f[8], static_cast<std::size_t>(n));
        OnWriteLocked(address, n);
        std::vector<std::uint8_t> ack = ReplyLocked(mode, op, nullptr, 0);
        ack[4] = 0;
        ack[5] = static_cast<std::uint8_t>(n);
        ack[6] = FrameChecksum(ack.data(), 6);
        return Reply{ack, false};
    }
    if (op == kOpArchive && f[5] == 8) {
        const std::uint32_t start = Be32(&f[6]);
        const std::uint32_t count = Be32(&f[10]);
        if (start >= kArchiveSize || count > kArchiveSize) return std::nullopt;
        std::vector<std::uint8_t> data(count);
        for (std::uint32_t i = 0; i < count; ++i)
            data[i] = archive_[(start + i) % kArchiveSize];  // the ring wraps at its end
        if (mode != kModeCompressed) return Reply{ReplyLocked(mode, op, data.data(), count), true};
        // Compressed: the checksum covers the header and the decoded data.
        std::vector<std::uint8_t> r = ReplyLocked(mode, op, data.data(), count);
        const std::uint8_t checksum = r.back();
        r.resize(kReplyHeaderSize);
        const std::vector<std::uint8_t> coded = EncodeArchiveBlock(data.data(), data.size());
        r.insert(r.end(), coded.begin(), coded.end());
        r.push_back(checksum);
        return Reply{r, true};
    }
    return std::nullopt;
}

void Controller::OnWriteLocked(int address, int count) {
    const int end = address + count;
    if (address <= addr::ClockYear && end > addr::ClockSec) {
        // A clock write: the clock runs on from the time written. Bytes that do not form a
        // date and time leave the clock running as it was.
        if (const auto t = ClockFromImage(image_.data())) clockOffset_ = *t - host_();
        const std::uint8_t w = image_[addr::ClockWeekday];
        if (w == 0) sundayIsZero_ = true;
        if (w == 7) sundayIsZero_ = false;
        RefreshClockLocked();
    }
    if (address <= addr::ServiceCommand && end > addr::ServiceCommand &&
        image_[addr::ServiceCommand] != 0) {
        ServiceLocked(image_[addr::ServiceCommand]);
        image_[addr::ServiceCommand] = 0;
    }
}

void Controller::ServiceLocked(std::uint8_t code) {
    std::uint8_t* img = image_.data();
    switch (code) {
        case 1:  // calibration against the reference resistors (500 or 100 ohm by sensor type)
            for (int ch = 0; ch < addr::ChannelCount; ++ch) {
                const float reference = img[addr::SensorType + ch] >= 2 ? 100.0f : 500.0f;
                PutF32(img, addr::Rtsp + 4 * ch, reference);
                PutF32(img, addr::Ttsp + 4 * ch, 0.0f);
                PutI32(img, addr::addR0 + 4 * ch,
                       static_cast<std::int32_t>(U32(img, addr::Adc + 4 * ch) % 61) - 30);
            }
            break;
        case 2:  // archive erase: both rings read as empty, recording starts again at the front
            std::fill(archive_.begin(), archive_.end(), 0xFF);
            PutU32(img, addr::ArchPos, static_cast<std::uint32_t>(arch::Periodic));
            PutU32(img, addr::SecondPos, 0);
            nextEventSlot_ = 0;
            break;
        case 4:  // reset of the analogue deviation table
            for (int ch = 0; ch < addr::ChannelCount; ++ch)
                PutU32(img, addr::Ad_diviation + 4 * ch, 0);
            break;
        case 5:  // short-circuit calibration: shorted inputs measure zero resistance
            for (int ch = 0; ch < addr::ChannelCount; ++ch) {
                PutU32(img, addr::Ad_diviation + 4 * ch, U32(img, addr::Adc + 4 * ch) % 97);
                PutF32(img, addr::Rtsp + 4 * ch, 0.0f);
                const float k = F32(img, addr::Ktsp + 4 * ch);
                PutF32(img, addr::Ttsp + 4 * ch, k > 0.0f ? -1.0f / k : -256.0f);
            }
            break;
        case 254:  // reboot: the switch-off is logged and the operating time starts again
            RefreshClockLocked();
            LogEventLocked(255, 0, 0);
            bootHost_ = host_();
            operatingAtBoot_ = 0;
            loops_ = {};
            RefreshClockLocked();
            break;
        default:
            break;
    }
}

void Controller::LogEventLocked(std::uint8_t code, std::int16_t newValue, std::int16_t oldValue) {
    const Civil c = ToCivil(host_() + clockOffset_);
    std::uint8_t* s = archive_.data() + arch::EventLog + nextEventSlot_ * arch::EventSlotSize;
    std::memset(s, 0, arch::EventSlotSize);
    PutEventStamp(s, c);
    s[6] = code;
    PutI16(s, 8, newValue);
    PutI16(s, 10, oldValue);
    nextEventSlot_ = (nextEventSlot_ + 1) % arch::EventSlots;
}

void Controller::EmulationStepLocked(int c) {
    // Incremental PI on the written temperature against the setpoint: the step is the
    // proportional change of the error plus its integral share. The virtual valve position is
    // kept exactly; the steps reported are whole hundredths of a second, at most 127 a step,
    // and add up to the reported position.
    std::uint8_t* img = image_.data();
    Loop& loop = loops_[static_cast<std::size_t>(c)];
    const int measured = I16(img, CircuitField(c, rec::T11));
    const int error = I16(img, CircuitField(c, rec::Base)) - measured;
    const int delta = loop.started ? error - loop.lastError : 0;
    loop.started = true;
    loop.lastError = error;
    const int travel = I16(img, CircuitField(c, rec::T_Klap));
    const double top = travel >= 1 && travel <= 300 ? travel * 100.0 : 10000.0;
    loop.position = std::clamp(
        loop.position + kEmulationGain * (delta + error / kEmulationIntegralTime), 0.0, top);
    const int step =
        std::clamp(static_cast<int>(std::lround(loop.position)) - loop.sent, -127, 127);
    loop.sent += step;
    const int regBase = I16(img, CircuitField(c, rec::RegBase));
    const double fraction = loop.position - std::floor(loop.position);
    const std::uint32_t accum =
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(regBase + loop.sent)) << 16) |
        static_cast<std::uint32_t>(std::min(65535.0, fraction * 65536.0));
    PutU32(img, CircuitField(c, rec::RegAccum), accum);
    PutI8(img, CircuitField(c, rec::RegStep), static_cast<std::int8_t>(step));
    PutI16(img, CircuitField(c, rec::Real), static_cast<std::int16_t>(measured));
    PutI8(img, CircuitField(c, rec::KlapPercent),
          static_cast<std::int8_t>(std::lround(100.0 * loop.sent / top)));
}

}  // namespace vir05::sim
