// Unattended runs of the program against the simulated controller: TCP, a serial line and a
// modem on pseudo-terminals, with the exit codes a scheduler sees.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "../core/test_util.h"
#include "../sim_controller.h"
#include "model/bytes.h"
#include "model/datafile.h"
#include "process.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/lines.h"

namespace vir05 {
namespace {

using test::ProcessResult;
using test::ReadFile;
using test::RunProgram;
using test::ScopedTempDir;

class HiddenRun : public ::testing::Test {
  protected:
    void StartTcp() {
        tcp_ = std::make_unique<sim::TcpServer>(controller_, faults_, 0);
        std::string error;
        ASSERT_TRUE(tcp_->Start(error)) << error;
    }
    std::string Port() const { return "-sp" + std::to_string(tcp_->Port()); }
    ProcessResult Run(const std::vector<std::string>& args,
                      const std::string& program = VIR05WIN_PATH) {
        return RunProgram(program, args, dir_.path().string(), std::chrono::seconds(120));
    }
    // A copy of the program beside a settings file that maps COM5 to `device`.
    std::string ProgramWithPortMap(const std::string& device) {
        const auto copy = dir_.path() / "bin" / "vir05win";
        std::filesystem::create_directories(copy.parent_path());
        std::filesystem::copy_file(VIR05WIN_PATH, copy);
        test::WriteFile((copy.parent_path() / "vir05.ini").string(),
                        "[Setting]\r\nCOM5=" + device + "\r\n");
        return copy.string();
    }

    ScopedTempDir dir_;
    test::SimController sim_{test::SimController::Serial500042(21)};
    sim::Controller& controller_ = sim_.controller;
    sim::FaultInjector& faults_ = sim_.faults;
    std::unique_ptr<std::uint8_t[]>& image_ = sim_.image;
    std::unique_ptr<std::uint8_t[]>& archive_ = sim_.archive;
    std::unique_ptr<sim::TcpServer> tcp_;
};

TEST_F(HiddenRun, ArchiveReadOverTcpLeavesTextOutputAndDataFile) {
    StartTcp();
    const ProcessResult r = Run({"-si127.0.0.1", Port(), "-n1"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    const std::string text = ReadFile(dir_.File("def.txt"));
    EXPECT_NE(text.find("DevNumber=500042\r\n"), std::string::npos);
    EXPECT_NE(text.find("RecType=H"), std::string::npos);
    EXPECT_EQ(ReadFile(dir_.File("def.txt.log")), "log start\r\nlog begin\r\nlog end done\r\n");
    // The data file is named after the serial number and holds what the controller holds.
    static MemoryAreas loaded;
    ASSERT_EQ(LoadDataFile(dir_.File("500042.vi5"), loaded), OpenStage::None);
    EXPECT_EQ(std::filesystem::file_size(dir_.File("500042.vi5")), 135168u);
    const auto image = controller_.Image();
    EXPECT_EQ(0, std::memcmp(loaded.DeviceImage() + 8, image.data() + 8, kImageSize - 8));
    // The trace begins with "start" and the first byte sent, "A" of "ATE0Q1\r".
    EXPECT_EQ(ReadFile(dir_.File("test.txt"))
                  .rfind("start out        65  41  A\r\n out        84  54  T\r\n", 0),
              0u);
}

TEST_F(HiddenRun, CurrentValuesAndClockOverTcp) {
    StartTcp();
    ProcessResult r = Run({"-r", "-si127.0.0.1", Port(), "-n1"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    const std::string text = ReadFile(dir_.File("def.txt"));
    EXPECT_NE(text.find("S2Err="), std::string::npos);
    EXPECT_EQ(text.find("RecType"),
              std::string::npos);  // reading current values empties the archive
    EXPECT_FALSE(std::filesystem::exists(dir_.File("500042.vi5")));

    // -xh limits the archive read: 1000 slots of two circuits are one block of 32768 bytes.
    controller_.ClearReceivedFrames();
    r = Run({"-si127.0.0.1", Port(), "-n1", "-xh1000"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(controller_.ReceivedFrames().size(), 2u);  // the image and one block

    controller_.ClearReceivedFrames();
    r = Run({"-st", "-si127.0.0.1", Port(), "-n1"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    const auto frames = controller_.ReceivedFrames();
    ASSERT_FALSE(frames.empty());
    // A write of the eight clock bytes at address 0.
    EXPECT_EQ(frames[0][4], 0x81);
    EXPECT_EQ(frames[0][5], 10);
    EXPECT_EQ(frames[0][6], 0x00);
    EXPECT_EQ(frames[0][7], 0x00);
}

TEST_F(HiddenRun, UnreachableOrSilentControllerEndsWithExitCodeOne) {
    StartTcp();
    const std::uint16_t port = tcp_->Port();
    tcp_.reset();  // nothing listens there any more
    ProcessResult r = Run({"-si127.0.0.1", "-sp" + std::to_string(port)});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("def.txt")));

    StartTcp();
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::Silence;
    faults_.Set(silence);
    r = Run({"-r", "-si127.0.0.1", Port()});  // five attempts of 20 ticks
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(HiddenRun, SerialPortAndModemThroughTheCommandLine) {
    sim::PtyServer line(controller_, faults_, 115200);
    std::string error;
    ASSERT_TRUE(line.Start(error)) << error;
    const std::string program = ProgramWithPortMap(line.SlavePath());
    ProcessResult r = Run({"-r", "-p5", "-b115200", "-n1"}, program);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(ReadFile(dir_.File("def.txt")).find("DevNumber=500042\r\n"), std::string::npos);
    line.Stop();

    sim::ModemTiming quick;
    quick.dialDelayMs = 100;
    sim::ModemServer modem(controller_, faults_, 115200, quick);
    ASSERT_TRUE(modem.Start(error)) << error;
    std::filesystem::remove_all(dir_.path() / "bin");
    const std::string viaModem = ProgramWithPortMap(modem.SlavePath());
    std::filesystem::remove(dir_.File("def.txt"));
    r = Run({"-r", "-p5", "-b115200", "-n1", "-md5551234"}, viaModem);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(ReadFile(dir_.File("def.txt")).find("DevNumber=500042\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vir05
