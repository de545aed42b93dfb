// The command cycle the window and the unattended run share: how a command line becomes a link
// request, and what taking over a completed command leaves in the areas and on disk.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/command_driver.h"
#include "core/completion.h"
#include "core/protocol/link_request.h"
#include "link_harness.h"
#include "model/bytes.h"
#include "model/datafile.h"
#include "tests/core/test_util.h"

namespace vir05::test {
namespace {

TEST(CommandLineConnectionTest, TheCommandLineNamesTheConnectionOfItsCommand) {
    struct Case {
        std::vector<std::string> args;
        ConnectionValues want;
    };
    const Case cases[] = {
        // No connection option: COM1 at 9600 baud, address 0.
        {{"-r"}, {Transport::Rs485, "", 10001, 0, "COM1", "", 9600}},
        {{"-r", "-p3", "-b115200", "-n7"}, {Transport::Rs485, "", 10001, 7, "COM3", "", 115200}},
        // A telephone number dials through the modem on the COM port.
        {{"-p2", "-md5551234", "-n1"}, {Transport::Modem, "", 10001, 1, "COM2", "5551234", 9600}},
        // A host takes the command over TCP; the COM port it would otherwise use stays named.
        {{"-si192.168.0.1", "-n3"}, {Transport::Tcp, "192.168.0.1", 10001, 3, "COM1", "", 9600}},
        {{"-si10.0.0.2", "-sp2000", "-p4"},
         {Transport::Tcp, "10.0.0.2", 2000, 0, "COM4", "", 9600}},
        // An address that is no number goes out as 0.
        {{"-r", "-nabc"}, {Transport::Rs485, "", 10001, 0, "COM1", "", 9600}},
    };
    for (const Case& c : cases) {
        const ConnectionValues got = CommandLineConnection(ParseCommandLine(c.args));
        EXPECT_EQ(got, c.want) << c.args.front() << " (" << c.args.size() << " options)";
    }
}

class CommandDriverTest : public LinkTest {
  protected:
    ConnectionValues Tcp() const {
        ConnectionValues v;
        v.transport = Transport::Tcp;
        v.host = "127.0.0.1";
        v.tcpPort = tcp_->Port();
        v.netAddr = 1;
        return v;
    }
};

TEST_F(CommandDriverTest, ACommandLineStartCarriesItsArchiveSlotCountAndADialogStartTheDefault) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    CommandDriver driver(*link_, *areas_);
    CommandLine cl = ParseCommandLine({"-si127.0.0.1", "-n1", "-xh40"});
    cl.tcpPort = tcp_->Port();
    ASSERT_TRUE(driver.Start(command::ReadArchive, cl));
    EXPECT_EQ(link_->Request().ArchiveSlots.load(), 40);
    WaitDone();
    ASSERT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    const std::size_t commandLineFrames = sim.controller.ReceivedFrames().size();

    ASSERT_TRUE(driver.Start(command::ReadArchive, Tcp()));
    EXPECT_EQ(link_->Request().ArchiveSlots.load(), static_cast<int>(kDefaultArchiveSlots));
    WaitDone();
    ASSERT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    // The default reads the image and four blocks; 40 slots need fewer blocks.
    EXPECT_EQ(sim.controller.ReceivedFrames().size() - commandLineFrames, 5u);
    EXPECT_GE(commandLineFrames, 2u);
    EXPECT_LT(commandLineFrames, 5u);
}

TEST_F(CommandDriverTest, AnArchiveReadIsTakenOverSavedAndThenPresented) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    ScopedTempDir dir;
    areas_->ProgramDir = dir.path().string() + "/";
    CommandDriver driver(*link_, *areas_);
    ASSERT_TRUE(driver.Start(command::ReadArchive, Tcp()));
    WaitDone();

    std::vector<std::string> steps;
    CycleReactions reactions;
    reactions.ended = [&](const Completion& c) {
        steps.push_back("ended");
        EXPECT_EQ(I32(areas_->DeviceImage(), addr::DevNumber), 0) << "taken over too early";
        EXPECT_TRUE(c.outcome.takeOverRead);
    };
    reactions.present = [&](const Completion& c) {
        steps.push_back("present");
        // What is presented is in the areas, and its data file is already on disk.
        EXPECT_EQ(0, std::memcmp(areas_->DeviceImage() + 8, sim.controller.Image().data() + 8,
                                 kImageSize - 8));
        EXPECT_TRUE(c.DataFileSaved());
        EXPECT_TRUE(std::filesystem::exists(ArchiveDataFileName(*areas_)));
    };
    const Completion c = driver.TakeOver(false, reactions);
    EXPECT_EQ(steps, (std::vector<std::string>{"ended", "present"}));
    EXPECT_EQ(c.started, command::ReadArchive);
    EXPECT_EQ(c.ExitStatus(), 0);
    EXPECT_EQ(c.outcome.caption.rfind("Чтение успешно ", 0), 0u) << c.outcome.caption;
    EXPECT_EQ(0, std::memcmp(areas_->ConfigShadow(), areas_->DeviceImage(), kImageSize));
    const std::string name =
        dir.File(std::to_string(I32(sim.controller.Image().data(), addr::DevNumber)) + ".vi5");
    auto reopened = std::make_unique<MemoryAreas>();
    ASSERT_EQ(LoadDataFile(name, *reopened), OpenStage::None);
    EXPECT_EQ(0, std::memcmp(reopened->ArchiveImage(), areas_->ArchiveImage(), kArchiveSize));
}

TEST_F(CommandDriverTest, AReadWhoseDataFileCannotBeSavedIsShownButFails) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    ScopedTempDir dir;
    areas_->ProgramDir = dir.File("missing") + "/";
    CommandDriver driver(*link_, *areas_);
    ASSERT_TRUE(driver.Start(command::ReadArchive, Tcp()));
    WaitDone();
    int presented = 0;
    CycleReactions reactions;
    reactions.present = [&](const Completion&) { ++presented; };
    const Completion c = driver.TakeOver(false, reactions);
    // The link succeeded and the window still shows the read, but the run is no success.
    EXPECT_EQ(c.outcome.exitCode, 0);
    EXPECT_EQ(presented, 1);
    EXPECT_FALSE(c.DataFileSaved());
    EXPECT_EQ(c.ExitStatus(), 1);
    EXPECT_EQ(c.unsavedFile, ArchiveDataFileName(*areas_));
    EXPECT_FALSE(c.unsavedWhy.empty());
    EXPECT_EQ(FileNotWrittenCaption(c.unsavedFile, c.unsavedWhy),
              "Ошибка: не удалось записать файл " + c.unsavedFile + ": " + c.unsavedWhy);
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST_F(CommandDriverTest, AFailedCommandLeavesTheAreasAndPresentsNothing) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    const ConnectionValues line = Tcp();
    tcp_.reset();  // the port now refuses
    std::memset(areas_->DeviceImage(), 0x33, kImageSize);
    CommandDriver driver(*link_, *areas_);
    ASSERT_TRUE(driver.Start(command::ReadCurrent, line));
    WaitDone();
    int ended = 0, presented = 0;
    CycleReactions reactions;
    reactions.ended = [&](const Completion&) { ++ended; };
    reactions.present = [&](const Completion&) { ++presented; };
    const Completion c = driver.TakeOver(true, reactions);
    EXPECT_NE(c.done.status, 0);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(presented, 0);
    EXPECT_EQ(c.ExitStatus(), 1);
    EXPECT_EQ(c.outcome.caption.rfind("Ошибка: ", 0), 0u) << c.outcome.caption;
    for (std::size_t i = 0; i < kImageSize; ++i)
        ASSERT_EQ(areas_->DeviceImage()[i], 0x33) << i;
}

}  // namespace
}  // namespace vir05::test
