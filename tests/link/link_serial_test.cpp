// The serial line and the modem, end to end against the simulator on pseudo-terminals.
#include <cstring>

#include "link_harness.h"

namespace vir05::test {
namespace {

class SerialLinkTest : public LinkTest {
  protected:
    bool StartSerial(int command, const std::string& port, const std::string& phone = {},
                     std::uint32_t baud = 115200) {
        return link_->StartSerialCommand(command, port, 1, phone, baud, areas_->ReceiveArea.data(),
                                         &areas_->ProgressCell);
    }
    void UseTiming(const LinkTiming& timing) {
        link_.reset();
        link_ = std::make_unique<TRWClass>(*areas_, timing, "");
        link_->SetShowLinkText([this](const std::string& text) { captions_.push_back(text); });
    }
    static sim::ModemTiming FastModem() {
        sim::ModemTiming t;
        t.dialDelayMs = 50;
        t.guardMs = 10;
        return t;
    }
};

TEST_F(SerialLinkTest, ReadCurrentAndArchiveOverAPseudoTerminal) {
    SimController sim;
    sim::PtyServer line(sim.controller, sim.faults, 115200);
    std::string error;
    ASSERT_TRUE(line.Start(error)) << error;
    ASSERT_TRUE(StartSerial(command::ReadCurrent, line.SlavePath()));
    WaitDone();
    ASSERT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_EQ(0, std::memcmp(Received() + kReceiveImageOffset + 8,
                             sim.controller.Image().data() + 8, kImageSize - 8));
    ASSERT_TRUE(StartSerial(command::ReadArchive, line.SlavePath()));
    link_->Request().ArchiveSlots = 1000;  // one block: the line runs at real speed
    WaitDone(std::chrono::seconds(60));
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_EQ(link_->Request().Command.load(), command::ReadArchive);
    EXPECT_EQ(areas_->ProgressCell.load(), 100);
}

TEST_F(SerialLinkTest, APortThatCannotBeOpenedFailsAtOnce) {
    ASSERT_TRUE(StartSerial(command::ReadCurrent, "COM99"));  // /dev/ttyS98
    WaitDone();
    EXPECT_EQ(link_->GetStatus(), -2);
    EXPECT_EQ(link_->Request().ErrorText, "Невозможно открыть COM99");
    // The caption shows it before the command ends.
    ASSERT_EQ(captions_.size(), 1u);
    EXPECT_EQ(captions_[0], "Невозможно открыть COM99");
    EXPECT_TRUE(link_->Request().PortName.empty());
}

TEST_F(SerialLinkTest, ModemDialsReadsAndHangsUp) {
    SimController sim;
    sim::ModemServer modem(sim.controller, sim.faults, 9600, FastModem());
    std::string error;
    ASSERT_TRUE(modem.Start(error)) << error;
    ASSERT_TRUE(StartSerial(command::ReadCurrent, modem.SlavePath(), "5551234", 9600));
    WaitDone(std::chrono::seconds(30));
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    EXPECT_EQ(link_->Request().ReplyTicks, 150u);  // as the dial left it
    // The hang-up ("+++", "ATH") has put the modem back in command mode.
    EXPECT_FALSE(modem.Connected());
}

TEST_F(SerialLinkTest, ModemAnswersBusy) {
    SimController sim;
    sim::ModemServer modem(sim.controller, sim.faults, 9600, FastModem());
    std::string error;
    ASSERT_TRUE(modem.Start(error)) << error;
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::ModemBusy;
    sim.faults.Set(rule);
    ASSERT_TRUE(StartSerial(command::ReadCurrent, modem.SlavePath(), "5551234", 9600));
    WaitDone(std::chrono::seconds(30));
    EXPECT_EQ(link_->GetStatus(), -2);
    const std::string& text = link_->Request().ErrorText;
    EXPECT_EQ(text.rfind("Модем ответил :", 0), 0u) << text;
    EXPECT_NE(text.find("BUSY"), std::string::npos) << text;
}

TEST_F(SerialLinkTest, UnansweredDialAndCancelDuringTheDial) {
    LinkTiming timing = FastTiming();
    timing.modemDialAnswerTicks = 20;
    UseTiming(timing);
    SimController sim;
    sim::ModemServer modem(sim.controller, sim.faults, 9600, FastModem());
    std::string error;
    ASSERT_TRUE(modem.Start(error)) << error;
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::ModemNoDial;
    sim.faults.Set(rule);
    ASSERT_TRUE(StartSerial(command::ReadCurrent, modem.SlavePath(), "5551234", 9600));
    WaitDone(std::chrono::seconds(30));
    EXPECT_EQ(link_->GetStatus(), -2);
    EXPECT_EQ(link_->Request().ErrorText, "Попытка дозвона неудачна");

    // A cancel during the dial ends the waits; the pass still ends as a cancellation.
    timing.modemDialAnswerTicks = 2000;
    UseTiming(timing);
    ASSERT_TRUE(StartSerial(command::ReadCurrent, modem.SlavePath(), "5551234", 9600));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    link_->CancelCommand();
    WaitDone(std::chrono::seconds(5));
    EXPECT_EQ(link_->GetStatus(), -1);
    EXPECT_EQ(link_->Request().ErrorText, "Отменено пользователем");
}

TEST_F(SerialLinkTest, CarrierLostInAnArchiveBlockRedialsAndRecovers) {
    for (const std::uint16_t softVer : {106, 107}) {  // plain and compressed blocks
        SCOPED_TRACE(softVer);
        SimController sim(softVer);
        sim::ModemServer modem(sim.controller, sim.faults, 115200, FastModem());
        std::string error;
        ASSERT_TRUE(modem.Start(error)) << error;
        sim::FaultRule rule;
        rule.kind = sim::FaultKind::ModemNoCarrier;
        rule.limit = 1;
        sim.faults.Set(rule);
        ASSERT_TRUE(StartSerial(command::ReadArchive, modem.SlavePath(), "5551234", 115200));
        link_->Request().ArchiveSlots = 1000;  // one block: the line runs at real speed
        WaitDone(std::chrono::seconds(60));
        EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
        EXPECT_EQ(link_->Request().Command.load(), command::ReadArchive);
        EXPECT_EQ(link_->Request().ErrorCount.load(),
                  0);  // a carrier loss is not a failed exchange
    }
}

}  // namespace
}  // namespace vir05::test
