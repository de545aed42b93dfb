// The bytes on the line for every command, over TCP, a serial line and a modem, against the
// simulator with a clock that stands still, compared with the recording in
// tests/data/link_frames.txt.
//
// The recording holds each command's bytes sent in hex and the bytes received as a count and a
// hash (an archive block is 32 KiB). With VIR05_FRAMES_OUT set to a directory, every command's
// bytes both ways are also written there in full, one file per command, so that two runs can be
// compared with `diff -r`.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/protocol/link_engine.h"
#include "link/qt_lines.h"
#include "link_harness.h"
#include "model/memory.h"

namespace vir05::test {
namespace {

// Consecutive bytes in one direction, merged: how a reply is cut into reads depends on the
// scheduler, the bytes and their order do not.
struct Chunk {
    bool sent = false;
    std::vector<std::uint8_t> bytes;
};

struct Recorder {
    std::vector<Chunk> chunks;
    void Note(bool sent, const std::uint8_t* data, std::size_t n) {
        if (n == 0) return;
        if (chunks.empty() || chunks.back().sent != sent) chunks.push_back(Chunk{sent, {}});
        chunks.back().bytes.insert(chunks.back().bytes.end(), data, data + n);
    }
};

class RecordingLine : public ByteLine {
  public:
    RecordingLine(ByteLine& inner, Recorder& rec) : inner_(inner), rec_(rec) {}
    LineKind Kind() const override { return inner_.Kind(); }
    LineError Open(const LineTarget& target) override { return inner_.Open(target); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    int Write(const std::uint8_t* data, std::size_t count) override {
        const int n = inner_.Write(data, count);
        if (n > 0) rec_.Note(true, data, static_cast<std::size_t>(n));
        return n;
    }
    int Read(std::uint8_t* buffer, std::size_t count) override {
        const int n = inner_.Read(buffer, count);
        if (n > 0) rec_.Note(false, buffer, static_cast<std::size_t>(n));
        return n;
    }
    void Purge() override { inner_.Purge(); }
    void SetDtr(bool on) override { inner_.SetDtr(on); }
    void SetRts(bool on) override { inner_.SetRts(on); }
    void Close() override { inner_.Close(); }

  private:
    ByteLine& inner_;
    Recorder& rec_;
};

std::string Hex(const std::vector<std::uint8_t>& b) {
    std::string s;
    char two[3];
    for (std::uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02X", v);
        s += two;
    }
    return s;
}

std::uint64_t Fnv1a(const std::vector<std::uint8_t>& b) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint8_t v : b) {
        h ^= v;
        h *= 1099511628211ull;
    }
    return h;
}

// The fixed clocks: the controller's host clock and the computer's local time of a clock write.
constexpr std::int64_t kHostSeconds = 1796990142;  // 2026-12-10 10:15:42
LocalTime FixedLocalTime() {
    return LocalTime{
        .year = 2026, .month = 12, .day = 11, .weekday = 5, .hour = 9, .minute = 8, .second = 7};
}

// The harness's waits with longer ticks: a reply cut by a busy machine would be read in two
// pieces and change the recording, so every gap the engine allows is long.
LinkTiming FrameTiming() {
    LinkTiming t = FastTiming();
    t.tickMs = 25;
    t.modemResetAnswerTicks = 80;
    t.replyTicksModemReset = 20;
    t.replyTicksDial = 20;
    return t;
}

// A simulated controller whose clock stands still.
struct Sim : SimController {
    explicit Sim(std::uint16_t softVer) : SimController(softVer, 2, [] { return kHostSeconds; }) {}
};

enum class Via { Tcp, Serial, Modem };

class FrameRecording {
  public:
    FrameRecording(Via via, std::string name) : via_(via), name_(std::move(name)) {
        engine_ = std::make_unique<LinkEngine>(line_, LinkImage::Of(*areas_), FrameTiming(),
                                               nullptr, RealSleep, FixedLocalTime);
    }

    void SetTarget(std::string target, std::uint16_t port) {
        target_ = std::move(target);
        port_ = port;
    }

    // Runs one command and notes its bytes under `label`; returns the status.
    int Run(const std::string& label, int cmd, std::int32_t archiveSlots = 0) {
        rec_.chunks.clear();
        LinkRequest& r = engine_->Request();
        if (via_ == Via::Tcp)
            r.FillTcp(cmd, "127.0.0.1", port_, 1, areas_->ReceiveArea.data(),
                      &areas_->ProgressCell);
        else
            r.FillSerial(cmd, target_, 1, via_ == Via::Modem ? "5551234" : "", 115200,
                         areas_->ReceiveArea.data(), &areas_->ProgressCell);
        if (archiveSlots != 0) r.ArchiveSlots = archiveSlots;
        engine_->RunPass();
        std::ostringstream out;
        out << "# " << name_ << " " << label << " status " << r.Status.load() << "\n";
        std::ostringstream full;
        full << out.str();
        for (const Chunk& c : rec_.chunks) {
            if (c.sent)
                out << "> " << Hex(c.bytes) << "\n";
            else
                out << "< " << c.bytes.size() << " " << std::hex << Fnv1a(c.bytes) << std::dec
                    << "\n";
            full << (c.sent ? "> " : "< ") << Hex(c.bytes) << "\n";
        }
        summary_ += out.str();
        if (const char* dir = std::getenv("VIR05_FRAMES_OUT")) {
            std::filesystem::create_directories(dir);
            char index[16];
            std::snprintf(index, sizeof index, "%02d", ++count_);
            std::ofstream(std::filesystem::path(dir) / (name_ + "-" + index + "-" + label + ".txt"))
                << full.str();
        }
        return r.Status.load();
    }

    // After a read: the image as the window keeps it, with two configuration bytes changed in
    // different windows of the write.
    void TakeImageAndChangeConfig() {
        std::memcpy(areas_->DeviceImage(), areas_->ReceiveArea.data() + kReceiveImageOffset,
                    kImageSize);
        std::memcpy(areas_->ConfigShadow(), areas_->DeviceImage(), kImageSize);
        areas_->DeviceImage()[addr::ConfigStart + 3] ^= 0x01;
        areas_->DeviceImage()[addr::ConfigStart + 40] ^= 0x02;
    }

    const std::string& Summary() const { return summary_; }

  private:
    Via via_;
    std::string name_;
    std::string target_;
    std::uint16_t port_ = 0;
    int count_ = 0;
    std::string summary_;
    Recorder rec_;
    std::unique_ptr<MemoryAreas> areas_ = std::make_unique<MemoryAreas>();
    QtSerialLine serial_{"", FrameTiming()};
    QtTcpLine tcp_{FrameTiming()};
    RecordingLine recSerial_{serial_, rec_};
    RecordingLine recTcp_{tcp_, rec_};
    LineChoice line_{recSerial_, recTcp_};
    std::unique_ptr<LinkEngine> engine_;
};

// Every command in turn on one controller; `archiveSlots` keeps the serial lines, which run at
// the line's real pace, to one archive block.
void RunAll(FrameRecording& rec, std::int32_t archiveSlots) {
    EXPECT_EQ(rec.Run("read", command::ReadCurrent), 0);
    EXPECT_EQ(rec.Run("archive", command::ReadArchive, archiveSlots), 0);
    rec.TakeImageAndChangeConfig();
    EXPECT_EQ(rec.Run("config", command::WriteConfig), 0);
    EXPECT_EQ(rec.Run("clock", command::SetClock), 0);
    EXPECT_EQ(rec.Run("serial", command::WriteSerial), 0);
    EXPECT_EQ(rec.Run("emulator", command::EmulatorStep), 0);
    EXPECT_EQ(rec.Run("service", command::ServiceCalibrateShort), 0);
}

std::string Golden() {
    std::ifstream in(std::filesystem::path(VIR05_TEST_DATA) / "link_frames.txt", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(LinkFrames, EveryCommandSendsAndReceivesTheRecordedBytes) {
    std::string all;
    {
        Sim sim(107);
        sim::TcpServer server(sim.controller, sim.faults, 0);
        std::string error;
        ASSERT_TRUE(server.Start(error)) << error;
        FrameRecording rec(Via::Tcp, "tcp");
        rec.SetTarget("127.0.0.1", server.Port());
        RunAll(rec, 0);
        all += rec.Summary();
    }
    {
        Sim sim(106);  // below 107 the archive comes plain
        sim::TcpServer server(sim.controller, sim.faults, 0);
        std::string error;
        ASSERT_TRUE(server.Start(error)) << error;
        FrameRecording rec(Via::Tcp, "tcp-plain");
        rec.SetTarget("127.0.0.1", server.Port());
        EXPECT_EQ(rec.Run("archive", command::ReadArchive), 0);
        all += rec.Summary();
    }
    {
        Sim sim(107);
        sim::PtyServer line(sim.controller, sim.faults, 115200);
        std::string error;
        ASSERT_TRUE(line.Start(error)) << error;
        FrameRecording rec(Via::Serial, "serial");
        rec.SetTarget(line.SlavePath(), 0);
        RunAll(rec, 1000);
        all += rec.Summary();
    }
    {
        // A modem of its own for each command, so that no answer of an earlier hang-up waits
        // on the line.
        FrameRecording rec(Via::Modem, "modem");
        const struct {
            const char* label;
            int command;
        } modemCommands[] = {{"read", command::ReadCurrent}, {"clock", command::SetClock}};
        for (const auto& c : modemCommands) {
            Sim sim(107);
            sim::ModemTiming timing;
            timing.dialDelayMs = 50;
            timing.guardMs = 10;
            sim::ModemServer modem(sim.controller, sim.faults, 115200, timing);
            std::string error;
            ASSERT_TRUE(modem.Start(error)) << error;
            rec.SetTarget(modem.SlavePath(), 0);
            EXPECT_EQ(rec.Run(c.label, c.command), 0);
        }
        all += rec.Summary();
    }
    if (const char* dir = std::getenv("VIR05_FRAMES_OUT"))
        std::ofstream(std::filesystem::path(dir) / "summary.txt") << all;
    EXPECT_EQ(all, Golden());
}

}  // namespace
}  // namespace vir05::test
