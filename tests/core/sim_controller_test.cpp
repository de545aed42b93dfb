// The simulated controller's answers to request frames, byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/protocol/frame.h"
#include "core/protocol/unpack.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/records.h"
#include "sim/controller.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string h;
    while (in >> h)
        out.push_back(static_cast<std::uint8_t>(std::stoul(h, nullptr, 16)));
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::int64_t Seconds(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    return sys_days{year{y} / month{mo} / day{d}}.time_since_epoch().count() * 86400LL + h * 3600 +
           mi * 60 + s;
}

// A controller on a small hand-made image, with a host clock the test moves.
class SimController : public ::testing::Test {
  protected:
    SimController() : controller_([this] { return host_; }) {
        image_[addr::NetAddress] = 1;
        // Thursday 2026-12-10 10:15:42.
        const std::uint8_t clock[] = {0x42, 0x15, 0x10, 4, 0x10, 0x12, 0x26};
        std::memcpy(image_, clock, sizeof clock);
        PutI32(image_, addr::OperatingTime, 1000000);
        for (std::size_t i = 0; i < kArchiveSize; ++i)
            archive_[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
        controller_.Load(image_, archive_);
    }

    // Passes a byte stream through a line's parser to the controller; returns the replies.
    std::vector<Bytes> Exchange(const Bytes& line) {
        std::vector<Bytes> replies;
        for (const Bytes& frame : parser_.Feed(line.data(), line.size()))
            if (auto r = controller_.Handle(frame)) replies.push_back(r->bytes);
        return replies;
    }
    Bytes One(const Bytes& line) {
        const auto replies = Exchange(line);
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? Bytes{} : replies[0];
    }

    std::int64_t host_ = Seconds(2030, 1, 1, 0, 0, 0);
    static inline std::uint8_t image_[kImageSize];
    static inline std::uint8_t archive_[kArchiveSize];
    sim::Controller controller_;
    sim::FrameParser parser_;
};

TEST_F(SimController, ImageReadAnswersTheWholeImageWithTheRunningClock) {
    host_ += 65;  // the clock has run on by 1 min 5 s since the image was taken
    // 55 | addr 01 | FE | mode 0F | read 01 | 6 params | address 0 | count 1955 (07A3) | EB
    const Bytes reply = One(Hex("55 01 FE 0F 01 06 00 00 00 00 07 A3 EB"));
    ASSERT_EQ(reply.size(), 1962u);
    // 170 | address 01 | mode 0F | read 01 | data length 07A3
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), Hex("AA 01 0F 01 07 A3"));
    // Clock 10:16:47, Thursday (4), 10.12.26.
    EXPECT_EQ(Bytes(reply.begin() + 6, reply.begin() + 13), Hex("47 16 10 04 10 12 26"));
    EXPECT_EQ(I32(reply.data() + 6, addr::OperatingTime), 1000065);
    EXPECT_EQ(0, std::memcmp(reply.data() + 6 + 20, image_ + 20, kImageSize - 20));
    EXPECT_TRUE(FrameValid(reply.data(), reply.size()));
}

TEST_F(SimController, MemoryReadAndWriteWithAcknowledge) {
    controller_.SetNetAddress(5);
    const std::uint8_t field[] = {0x11, 0x22, 0x33, 0x44, 0xF6};
    // Write 11 22 33 44 F6 at 146 (0x0092): 55 | 05 | FA | 0C | write 81 | 7 params | 0092 |
    // data | checksum. Acknowledge: 170 | 05 | 0C | 81 | 5 bytes written (0005) | checksum.
    Bytes write(16);
    write.resize(BuildWriteFrame(write.data(), 5, 146, field, 5));
    EXPECT_EQ(write, Hex("55 05 FA 0C 81 07 00 92 11 22 33 44 F6 E5"));
    EXPECT_EQ(One(write), Hex("AA 05 0C 81 00 05 BE"));
    // Read 5 bytes at 146: 55 | 05 | FA | 0C | read 01 | 6 params | 00000092 | 0005 | 01.
    // Reply: 170 | 05 | 0C | 01 | length 0005 | the five bytes | checksum.
    EXPECT_EQ(One(Hex("55 05 FA 0C 01 06 00 00 00 92 00 05 01")),
              Hex("AA 05 0C 01 00 05 11 22 33 44 F6 9E"));
    EXPECT_EQ(controller_.Image()[150], 0xF6);
}

TEST_F(SimController, WritingNetAddressMovesTheController) {
    const std::uint8_t seven = 7;
    Bytes write(16);
    write.resize(BuildWriteFrame(write.data(), 1, addr::NetAddress, &seven, 1));
    EXPECT_EQ(One(write).size(), 7u);
    // 1 byte at 83 asked of address 1, then of address 7.
    EXPECT_TRUE(Exchange(Hex("55 01 FE 0C 01 06 00 00 00 53 00 01 44")).empty());
    EXPECT_EQ(One(Hex("55 07 F8 0C 01 06 00 00 00 53 00 01 44")), Hex("AA 07 0C 01 00 01 07 39"));
    EXPECT_EQ(controller_.NetAddress(), 7);
}

TEST_F(SimController, PlainArchiveReadWrapsAtTheRingEnd) {
    // 55 | 01 | FE | 0C | archive 03 | 8 params | start 0001FFFE | count 00000004 | 92
    // Reply: 170 | 01 | 0C | 03 | length 0004 | ring bytes 1FFFE, 1FFFF, 0, 1 | checksum.
    Bytes expected = Hex("AA 01 0C 03 00 04");
    for (std::size_t a : {0x1FFFEu, 0x1FFFFu, 0u, 1u})
        expected.push_back(archive_[a]);
    expected.push_back(FrameChecksum(expected.data(), expected.size()));
    EXPECT_EQ(One(Hex("55 01 FE 0C 03 08 00 01 FF FE 00 00 00 04 92")), expected);
}

TEST_F(SimController, CompressedArchiveBlockDecodesToTheRing) {
    // 55 | 01 | FE | mode 0F (compressed) | 03 | 8 | start 00018000 | count 00008000 | 90
    const Bytes reply = One(Hex("55 01 FE 0F 03 08 00 01 80 00 00 00 80 00 90"));
    ASSERT_GT(reply.size(), 7u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), Hex("AA 01 0F 03 80 00"));
    // Decode as the tool does: header plain, data through UnpackByte, then the checksum byte.
    Bytes decoded(6 + 32768 + kUnpackMaxOutput + 1);
    std::memcpy(decoded.data(), reply.data(), 6);
    std::size_t count = 6, in = 6;
    UnpackState state;
    while (count < 6 + 32768 && in < reply.size())
        UnpackByte(state, reply[in++], count, decoded.data());
    ASSERT_EQ(count, 6u + 32768u);    // no overrun past the block
    ASSERT_EQ(in, reply.size() - 1);  // one byte left: the checksum
    decoded[count++] = reply.back();
    decoded.resize(count);
    EXPECT_EQ(0, std::memcmp(decoded.data() + 6, archive_ + 0x18000, 32768));
    EXPECT_TRUE(FrameValid(decoded.data(), decoded.size()));  // over header + decoded data
}

TEST_F(SimController, IgnoresWhatIsNotARequestToIt) {
    struct Case {
        const char* what;
        Bytes line;
        bool checksumValid;  // so that the case is refused for its own reason
    } cases[] = {
        {"another address", Hex("55 02 FD 0F 01 06 00 00 00 00 07 A3 EB"), true},
        {"bad checksum", Hex("55 01 FE 0F 01 06 00 00 00 00 07 A3 EC"), false},
        {"bad complement", Hex("55 01 FD 0F 01 06 00 00 00 00 07 A3 EC"), true},
        {"modem init text", Text("ATE0Q1\r"), false},
        // 4 bytes from 1952 (07A0): one past the image.
        {"read past the image", Hex("55 01 FE 0C 01 06 00 00 07 A0 00 04 ED"), true},
        // 2 bytes at 1954 (07A2): one past the image.
        {"write past the image", Hex("55 01 FE 0C 81 04 07 A2 01 02 6E"), true},
        // Start 00020000: the ring ends at 1FFFF.
        {"archive start past the ring", Hex("55 01 FE 0C 03 08 00 02 00 00 00 00 00 04 8E"), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameValid(c.line.data(), c.line.size()), c.checksumValid) << c.what;
        parser_.Reset();
        EXPECT_TRUE(Exchange(c.line).empty()) << c.what;
    }
    EXPECT_EQ(controller_.Image()[1954], 0);  // the refused write left nothing
}

TEST_F(SimController, ParserResyncsOnTheNextFrameStart) {
    const Bytes read = Hex("55 01 FE 0C 01 06 00 00 00 53 00 01 44");  // 1 byte at 83
    // Garbage holding 0x55 bytes, the modem text, a frame split over two pieces, and two
    // frames back to back.
    Bytes line = Hex("55 55 00 55 01");
    line.insert(line.end(), read.begin(), read.end());
    const Bytes text = Text("ATE0Q1\r");
    line.insert(line.begin(), text.begin(), text.end());
    EXPECT_EQ(Exchange(line).size(), 1u);
    EXPECT_TRUE(Exchange(Bytes(read.begin(), read.begin() + 7)).empty());
    EXPECT_EQ(Exchange(Bytes(read.begin() + 7, read.end())).size(), 1u);
    Bytes two = read;
    two.insert(two.end(), read.begin(), read.end());
    const auto replies = Exchange(two);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1], Hex("AA 01 0C 01 00 01 01 45"));  // NetAddress 01
}

TEST_F(SimController, ParserDropsAFrameLeftUnfinished) {
    sim::FrameParser parser(std::chrono::milliseconds(100));
    const Bytes read = Hex("55 01 FE 0C 01 06 00 00 00 53 00 01 44");
    const auto t0 = sim::FrameParser::Clock::now();
    parser.Feed(read.data(), 8, t0);  // the line went quiet in the middle of a frame
    EXPECT_EQ(parser.Feed(read.data(), read.size(), t0 + std::chrono::seconds(1)).size(), 1u);
}

TEST_F(SimController, LogsEveryFrameReceivedByteForByte) {
    const Bytes a = Hex("55 01 FE 0C 01 06 00 00 00 53 00 01 44");
    const Bytes b = Hex("55 02 FD 0F 01 06 00 00 00 00 07 A3 EB");  // another controller's
    Bytes line = Text("ATE0Q1\r");
    line.insert(line.end(), a.begin(), a.end());
    line.insert(line.end(), b.begin(), b.end());
    Exchange(line);
    EXPECT_EQ(controller_.ReceivedFrames(), (std::vector<Bytes>{a, b}));
    controller_.ClearReceivedFrames();
    EXPECT_TRUE(controller_.ReceivedFrames().empty());
}

TEST_F(SimController, ClockWriteSetsTheClock) {
    // The clock write of Sunday 2009-03-01 14:05:09: seconds, minutes, hours, weekday 0,
    // day, month, year, and the pad byte 00 at address 7.
    const Bytes clock = Hex("09 05 14 00 01 03 09 00");
    Bytes write(32);
    write.resize(BuildWriteFrame(write.data(), 1, 0, clock.data(), clock.size()));
    EXPECT_EQ(One(write), Hex("AA 01 0C 81 00 08 BF"));
    host_ += 10;
    const Bytes reply = One(Hex("55 01 FE 0C 01 06 00 00 00 00 00 07 91"));
    EXPECT_EQ(reply, Hex("AA 01 0C 01 00 07 19 05 14 00 01 03 09 01"));  // 14:05:19, Sunday 0
    EXPECT_EQ(controller_.ClockNow(), Seconds(2009, 3, 1, 14, 5, 19));
    // A clock write that is no date leaves the clock running.
    const Bytes bad = Hex("99 05 14 00 01 03 09 00");
    write.resize(32);
    write.resize(BuildWriteFrame(write.data(), 1, 0, bad.data(), bad.size()));
    One(write);
    EXPECT_EQ(controller_.ClockNow(), Seconds(2009, 3, 1, 14, 5, 19));
}

// Service commands against generated contents.
class SimService : public ::testing::Test {
  protected:
    SimService() : controller_([this] { return host_; }) {
        sim::GeneratorOptions o;
        o.seed = 4;
        sim::GenerateContents(o, image_, archive_);
        controller_.Load(image_, archive_);
    }
    void Service(std::uint8_t code) {
        Bytes write(16);
        write.resize(BuildWriteFrame(write.data(), image_[addr::NetAddress], 96, &code, 1));
        auto reply = controller_.Handle(write);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->bytes.size(), 7u);
        EXPECT_EQ(controller_.Image()[addr::ServiceCommand], 0) << "code " << int(code);
    }
    static int EventsIn(const std::vector<std::uint8_t>& archive) {
        int n = 0;
        for (int s = 0; s < arch::EventSlots; ++s)
            n += EventSlotHoldsEvent(archive.data() + 16 * s);
        return n;
    }
    std::int64_t host_ = Seconds(2030, 1, 1, 0, 0, 0);
    static inline std::uint8_t image_[kImageSize];
    static inline std::uint8_t archive_[kArchiveSize];
    sim::Controller controller_;
};

TEST_F(SimService, ArchiveEraseEmptiesBothRings) {
    static ArchiveOrder order;
    ASSERT_GT(EventsIn(controller_.Archive()), 0);
    Service(2);
    const auto archive = controller_.Archive();
    EXPECT_EQ(EventsIn(archive), 0);
    const std::size_t n = SortArchive(archive.data(), 2, order);
    for (std::size_t k = 0; k < n; ++k)
        EXPECT_FALSE(DecodeArchiveTime(archive.data() + order[k].offset).Valid());
    EXPECT_EQ(U32(controller_.Image().data(), addr::ArchPos), 0x4000u);
}

TEST_F(SimService, RebootRestartsOperatingTimeAndLogsTheSwitchOff) {
    const int before = EventsIn(controller_.Archive());
    host_ += 30;
    Service(254);
    host_ += 7;
    const auto image = controller_.Image();
    Bytes read(16);
    read.resize(BuildReadMemoryFrame(read.data(), image[addr::NetAddress], 14, 4));
    const auto reply = controller_.Handle(read);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(I32(reply->bytes.data() + 6, 0), 7);  // seconds since the reboot
    const auto archive = controller_.Archive();
    EXPECT_EQ(EventsIn(archive), before + 1);
    // One slot holds the switch-off (code 255) stamped with the controller's clock: the
    // generated clock 2026-12-10 10:15:42 plus 30 s.
    int switchOffs = 0;
    for (int s = 0; s < arch::EventSlots; ++s) {
        const std::uint8_t* slot = archive.data() + 16 * s;
        switchOffs += Bytes(slot, slot + 7) == Hex("12 16 10 10 12 26 FF");
    }
    EXPECT_EQ(switchOffs, 1);
}

TEST_F(SimService, CalibrationsSetTheChannelValues) {
    Service(1);  // reference resistors: 500 ohm sensors measure 500 ohm, 0 degrees
    auto image = controller_.Image();
    for (int ch = 0; ch < addr::ChannelCount; ++ch) {
        EXPECT_FLOAT_EQ(F32(image.data(), addr::Rtsp + 4 * ch), 500.0f) << ch;
        EXPECT_FLOAT_EQ(F32(image.data(), addr::Ttsp + 4 * ch), 0.0f) << ch;
        EXPECT_LE(std::abs(I32(image.data(), addr::addR0 + 4 * ch)), 30) << ch;
    }
    Service(5);  // short circuit: zero resistance, far below any real temperature
    image = controller_.Image();
    for (int ch = 0; ch < addr::ChannelCount; ++ch) {
        EXPECT_FLOAT_EQ(F32(image.data(), addr::Rtsp + 4 * ch), 0.0f) << ch;
        EXPECT_LT(F32(image.data(), addr::Ttsp + 4 * ch), -200.0f) << ch;
    }
    // The circuits and the archive are untouched by calibrations.
    EXPECT_EQ(0, std::memcmp(image.data() + 105, image_ + 105, 430));
    EXPECT_EQ(controller_.Archive(), Bytes(archive_, archive_ + kArchiveSize));
}

// The emulation exchange against the tool's plant model (first-order lag, dead time): the
// controller's valve steps bring the plant to the setpoint and keep it there.
TEST_F(SimService, EmulationLoopSettlesThePlantAtTheSetpoint) {
    struct Case {
        int circuit;
        std::int16_t base;  // setpoint, 0.01 degrees
        double gain;        // degrees per second of valve
        int tau, delay;
    } cases[] = {{0, 6000, 2.0, 30, 5}, {1, 4500, 5.0, 30, 5}, {0, 7000, 2.0, 10, 3}};
    const std::uint8_t net = image_[addr::NetAddress];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.circuit);
        controller_.Load(image_, archive_);
        const int r = CircuitRecordAddr(c.circuit);
        Bytes frame(32);
        const std::uint8_t base[2] = {static_cast<std::uint8_t>(c.base),
                                      static_cast<std::uint8_t>(c.base >> 8)};
        frame.resize(BuildWriteFrame(frame.data(), net, r + rec::Base, base, 2));
        ASSERT_TRUE(controller_.Handle(frame));
        double valve = 0, lag = 0;
        int ring[100] = {}, pos = 0, steps = 0, t11 = 0;
        for (int tick = 0; tick < 600; ++tick) {
            pos = (pos + 1) % 100;
            const double f = c.gain * valve * 100;
            lag = f - std::exp(-1.0 / c.tau) * (f - lag);
            ring[pos] = static_cast<int>(lag);
            t11 = ring[(pos - c.delay + 3 + 100) % 100];
            const std::uint8_t t[2] = {static_cast<std::uint8_t>(t11),
                                       static_cast<std::uint8_t>(t11 >> 8)};
            const std::uint8_t flag = 2;
            frame.resize(32);
            frame.resize(BuildWriteFrame(frame.data(), net, r + rec::T11, t, 2));
            ASSERT_TRUE(controller_.Handle(frame));
            frame.resize(32);
            frame.resize(BuildWriteFrame(frame.data(), net, addr::EmulationFlag, &flag, 1));
            ASSERT_TRUE(controller_.Handle(frame));
            frame.resize(32);
            frame.resize(BuildReadMemoryFrame(frame.data(), net, r + rec::RegAccum, 5));
            const auto reply = controller_.Handle(frame);
            ASSERT_TRUE(reply && reply->bytes.size() == 12u);
            const int step = I8(reply->bytes.data() + 6, 4);
            if (tick == 0) {
                EXPECT_GT(step, 0);  // cold plant: the valve opens
            }
            steps += step;
            // The accumulator's high half minus RegBase is the sum of the steps.
            const int regBase = I16(controller_.Image().data(), r + rec::RegBase);
            EXPECT_EQ(static_cast<std::int16_t>(I32(reply->bytes.data() + 6, 0) >> 16) - regBase,
                      steps);
            valve = std::clamp(valve + step * 0.01, 0.0, 100.0);
        }
        EXPECT_NEAR(t11, c.base, 30);
    }
}

}  // namespace
}  // namespace vir05
