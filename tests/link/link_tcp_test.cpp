// Every command end to end over TCP against the simulated controller.
#include <gmock/gmock.h>

#include <cstring>

#include "core/completion.h"
#include "core/protocol/frame.h"
#include "link_harness.h"
#include "model/bytes.h"

namespace vir05::test {
namespace {

using ::testing::ElementsAreArray;

// The image bytes that do not tick with the controller's clock.
void ExpectSameImage(const std::uint8_t* got, const std::array<std::uint8_t, kImageSize>& want) {
    EXPECT_EQ(0, std::memcmp(got + 8, want.data() + 8, kImageSize - 8));
}

TEST_F(LinkTest, ReadCurrentDeliversTheImageAfterItsHeader) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    std::memset(areas_->ReceiveArea.data(), 0x5A, areas_->ReceiveArea.size());
    ASSERT_TRUE(StartTcp(command::ReadCurrent));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_EQ(Received()[0], kReplyStart);
    ExpectSameImage(Received() + kReceiveImageOffset, sim.controller.Image());
    // The image area and the whole archive ring behind it are cleared before the reply is
    // stored, so no byte of an earlier read can pass for this one's; the rest is left alone.
    for (std::size_t i = 1962; i < 135168; ++i)
        ASSERT_EQ(Received()[i], 0) << i;
    EXPECT_EQ(Received()[135168], 0x5A);
    // The line starts with "ATE0Q1\r", then the image read frame for address 1.
    const auto frames = sim.controller.ReceivedFrames();
    ASSERT_EQ(frames.size(), 1u);
    const std::uint8_t imageRead[] = {0x55, 0x01, 0xFE, 0x0F, 0x01, 0x06, 0,
                                      0,    0,    0,    0x07, 0xA3, 0xEB};
    EXPECT_THAT(frames[0], ElementsAreArray(imageRead));
}

TEST_F(LinkTest, CompressedAndPlainArchivesGiveTheSameImage) {
    std::vector<std::uint8_t> rings[2];
    for (int i = 0; i < 2; ++i) {
        SimController& sim = MakeSim(i == 0 ? 106 : 107);
        StartTcpServer(sim);
        ASSERT_TRUE(StartTcp(command::ReadArchive));
        WaitDone();
        ASSERT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
        EXPECT_EQ(link_->Request().Command.load(), command::ReadArchive);
        EXPECT_EQ(areas_->ProgressCell.load(), 100);
        const auto frames = sim.controller.ReceivedFrames();
        ASSERT_EQ(frames.size(), 5u);  // the image and four blocks
        EXPECT_EQ(frames[1][3], i == 0 ? 0x0C : 0x0F);
        rings[i].assign(Received() + kReceiveArchiveOffset,
                        Received() + kReceiveArchiveOffset + kArchiveSize);
        // Each block holds the controller's archive bytes at its ring offset.
        const auto archive = sim.controller.Archive();
        const ArchivePlan plan =
            PlanArchive(2, U32(Received() + kReceiveImageOffset, addr::ArchPos), 107, 8192);
        for (int k = 1; k <= plan.Blocks(); ++k) {
            const std::uint32_t start = plan.BlockStart(k);
            EXPECT_EQ(
                0, std::memcmp(rings[i].data() + start, archive.data() + start, kArchiveBlockSize))
                << "block " << k << " at " << start;
        }
        tcp_.reset();
    }
    EXPECT_EQ(rings[0], rings[1]);
}

TEST_F(LinkTest, ConfigurationWriteSendsOnlyTheChangedSpan) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    ASSERT_TRUE(StartTcp(command::ReadCurrent));
    WaitDone();
    ASSERT_EQ(link_->GetStatus(), 0);
    TakeOverRead(*areas_, false);
    // Change the PIN code's first byte (80) and the network address (83) only.
    areas_->DeviceImage()[80] = 0x12;
    areas_->DeviceImage()[83] = 1;  // stays 1 so the controller keeps answering
    areas_->DeviceImage()[82] ^= 0xFF;
    sim.controller.ClearReceivedFrames();
    ASSERT_TRUE(StartTcp(command::WriteConfig));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    const auto frames = sim.controller.ReceivedFrames();
    ASSERT_EQ(frames.size(), 1u);
    // write, 5 parameter bytes: address 0x0050, then bytes 80..82 as they stand in the image.
    std::vector<std::uint8_t> want = {0x55,
                                      0x01,
                                      0xFE,
                                      0x0C,
                                      0x81,
                                      0x05,
                                      0x00,
                                      0x50,
                                      0x12,
                                      areas_->DeviceImage()[81],
                                      areas_->DeviceImage()[82]};
    want.push_back(FrameChecksum(want.data(), want.size()));
    EXPECT_EQ(frames[0], want);
    EXPECT_EQ(sim.controller.Image()[80], 0x12);
    EXPECT_EQ(sim.controller.Image()[82], areas_->DeviceImage()[82]);
}

TEST_F(LinkTest, ClockSerialAndServiceCommands) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    ASSERT_TRUE(StartTcp(command::SetClock));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0);
    auto frames = sim.controller.ReceivedFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][5], 10);  // address and 8 clock bytes
    EXPECT_EQ(frames[0][7], 0x00);

    PutI32(areas_->DeviceImage(), addr::DevNumber, 512345);
    sim.controller.ClearReceivedFrames();
    ASSERT_TRUE(StartTcp(command::WriteSerial));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0);
    EXPECT_EQ(I32(sim.controller.Image().data(), addr::DevNumber), 512345);

    // The archive erase ends as a read of current values, with the service byte cleared again.
    sim.controller.ClearReceivedFrames();
    ASSERT_TRUE(StartTcp(command::ServiceEraseArchives));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_EQ(link_->Request().Command.load(), command::ReadCurrent);
    EXPECT_EQ(areas_->DeviceImage()[addr::ServiceCommand], 0);
    frames = sim.controller.ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    const std::uint8_t erase[] = {0x55, 0x01, 0xFE, 0x0C, 0x81, 0x03, 0x00, 0x60, 0x02, 0xB9};
    EXPECT_THAT(frames[0], ElementsAreArray(erase));
    const auto archive = sim.controller.Archive();
    int valid = 0;
    for (int s = 0; s < 1024; ++s)
        valid += archive[16 * s] <= 0x59 && archive[16 * s + 3] != 0;
    EXPECT_LE(valid, 1);  // at most the event the erase itself logged
}

TEST_F(LinkTest, EmulatorStepExchange) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    PutI16(areas_->DeviceImage(), CircuitField(0, rec::T11), 4000);
    areas_->DeviceImage()[addr::EmulationFlag] = 2;
    ASSERT_TRUE(StartTcp(command::EmulatorStep));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    const auto frames = sim.controller.ReceivedFrames();
    ASSERT_EQ(frames.size(), 3u);
    // An emulator read of 5 bytes at 146 (R+41 of circuit 0) from address 1.
    const std::uint8_t read[] = {0x55, 0x01, 0xFE, 0x0C, 0x01, 0x06, 0,
                                 0,    0,    0x92, 0x00, 0x05, 0x01};
    EXPECT_THAT(frames[2], ElementsAreArray(read));
    EXPECT_EQ(I16(sim.controller.Image().data(), CircuitField(0, rec::T11)), 4000);
    // The five data bytes and the checksum land at the start of the destination.
    EXPECT_EQ(0, std::memcmp(Received(),
                             sim.controller.Image().data() + CircuitField(0, rec::RegAccum), 5));
}

struct FaultCase {
    sim::FaultKind kind;
    int status;
    const char* text;  // the start of the error text
};

class LinkFaultTest : public LinkTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LinkFaultTest, ReadCurrentReportsTheFault) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim::FaultRule rule;
    rule.kind = GetParam().kind;
    rule.stallMs = 400;
    sim.faults.Set(rule);
    // A refusing simulator closes its listener on its next turn; connect after that.
    if (rule.kind == sim::FaultKind::Refuse)
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    static MemoryAreas before;
    areas_->DeviceImage()[5] = 0x77;
    before.block = areas_->block;
    ASSERT_TRUE(StartTcp(command::ReadCurrent));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), GetParam().status);
    EXPECT_EQ(link_->Request().ErrorText.rfind(GetParam().text, 0), 0u)
        << link_->Request().ErrorText;
    if (GetParam().status > 0) {
        EXPECT_EQ(link_->Request().ErrorCount.load(), 5);  // five attempts
    }
    EXPECT_EQ(areas_->block, before.block);  // a failed read touches none of the areas
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LinkFaultTest,
    ::testing::Values(FaultCase{sim::FaultKind::BadChecksum, 2, "Не сошлась контрольная сумма"},
                      FaultCase{sim::FaultKind::BadFirstByte, 10, "Неверный заголовок ответа: "},
                      FaultCase{sim::FaultKind::Truncated, 1, "Пришло 981 байт вместо 1962"},
                      FaultCase{sim::FaultKind::Silence, 1, "Не пришло ни одного байта"},
                      FaultCase{sim::FaultKind::Refuse, -2, "Невозможно установить соединение"}));

TEST_F(LinkTest, AReplyThatStallsIsCutAndReportedWithItsLength) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::Stall;
    rule.stallMs = 400;  // longer than the reply wait of 20 ticks
    rule.limit = 1;
    sim.faults.Set(rule);
    ASSERT_TRUE(StartTcp(command::ReadCurrent));
    WaitDone();
    ASSERT_FALSE(captions_.empty());
    EXPECT_EQ(captions_[0], "Пришло 981 байт вместо 1962");
    // The late rest of the stalled reply is not taken for the next one; the read recovers.
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_GE(link_->Request().ErrorCount.load(), 1);
    ExpectSameImage(Received() + kReceiveImageOffset, sim.controller.Image());
}

TEST_F(LinkTest, AControllerThatFloodsAfterTheArchiveRequestCannotHoldTheLinkUp) {
    // The image read is answered; from the first archive block on the controller babbles
    // without end. The read ends with its five attempts at that block, and says why.
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::Flood;
    rule.every = 2;  // the second reply: the first archive block
    sim.faults.Set(rule);
    ASSERT_TRUE(StartTcp(command::ReadArchive));
    WaitDone(std::chrono::seconds(300));
    EXPECT_NE(link_->GetStatus(), 0);
    EXPECT_EQ(link_->Request().ErrorCount.load(), 5);
    EXPECT_FALSE(link_->Request().ErrorText.empty());
    std::size_t archiveRequests = 0;
    for (const auto& frame : sim.controller.ReceivedFrames())
        archiveRequests += frame.size() > 4 && frame[4] == kOpArchive;
    EXPECT_EQ(archiveRequests, 1u);  // a babbling controller hears nothing more
}

TEST_F(LinkTest, RetriesThatRecover) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim.faults.ApplyToNext(sim::FaultKind::BadChecksum, 2);
    ASSERT_TRUE(StartTcp(command::ReadCurrent));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0);
    EXPECT_EQ(link_->Request().ErrorCount.load(), 2);
    ExpectSameImage(Received() + kReceiveImageOffset, sim.controller.Image());
}

TEST_F(LinkTest, CancelDuringAWaitEndsWithMinusOne) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::Silence;
    sim.faults.Set(rule);
    ASSERT_TRUE(StartTcp(command::ReadCurrent));
    // Once the controller has the request, the link waits for a reply that never comes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sim.controller.ReceivedFrames().empty() && std::chrono::steady_clock::now() < deadline) {
        link_->ServeSynchronize();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(link_->Parked()) << link_->GetStatus() << " " << link_->Request().ErrorText;
    // A second start while busy cancels the running command and starts nothing.
    EXPECT_FALSE(StartTcp(command::ReadArchive));
    WaitDone(std::chrono::seconds(2));
    EXPECT_EQ(link_->GetStatus(), -1);
    EXPECT_EQ(link_->Request().ErrorText, "Отменено пользователем");
    EXPECT_EQ(link_->Request().StartCommand, command::ReadCurrent);
    // A stop is no failed exchange: nothing is counted and the caption is not touched.
    EXPECT_EQ(link_->Request().ErrorCount.load(), 0);
    EXPECT_TRUE(captions_.empty());
}

TEST_F(LinkTest, StopDuringTheArchivePhaseKeepsTheBlocksRead) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::Silence;
    rule.every = 3;  // the image and the first block answer, the second block does not
    sim.faults.Set(rule);
    ASSERT_TRUE(StartTcp(command::ReadArchive));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sim.controller.ReceivedFrames().size() < 3 &&
           std::chrono::steady_clock::now() < deadline) {
        link_->ServeSynchronize();  // the link waits for its caption step after every attempt
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    link_->CancelCommand();
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_EQ(link_->Request().Command.load(), command::ReadArchive);
}

}  // namespace
}  // namespace vir05::test

namespace vir05::test {
namespace {

TEST_F(LinkTest, UnacknowledgedWritesReportStatusThree) {
    SimController& sim = MakeSim();
    StartTcpServer(sim);
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::Silence;
    sim.faults.Set(rule);
    struct Case {
        int command;
        const char* text;
    } cases[] = {{command::SetClock, "Ошибка записи времени!"},
                 {command::WriteSerial, "Ошибка записи серийного номера!"},
                 {command::ServiceReboot, "Ошибка выполнения команды"},
                 {command::EmulatorStep, "Ошибка записи!"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(StartTcp(c.command));
        WaitDone();
        EXPECT_EQ(link_->GetStatus(), 3) << c.command;
        EXPECT_EQ(link_->Request().ErrorText, c.text) << c.command;
        EXPECT_EQ(link_->Request().ErrorCount.load(), 1) << c.command;  // writes are sent once
    }
    // A failing service command leaves address 96 at 0 and reads nothing.
    EXPECT_EQ(areas_->DeviceImage()[addr::ServiceCommand], 0);
    // A configuration write goes on after a window that is not acknowledged.
    areas_->DeviceImage()[100] ^= 1;
    areas_->DeviceImage()[1900] ^= 1;
    sim.controller.ClearReceivedFrames();
    ASSERT_TRUE(StartTcp(command::WriteConfig));
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), 3);
    EXPECT_EQ(link_->Request().ErrorText, "Ошибка записи конфигурации!");
    EXPECT_EQ(sim.controller.ReceivedFrames().size(), 2u);
    EXPECT_EQ(link_->Request().ErrorCount.load(), 2);
}

}  // namespace
}  // namespace vir05::test
