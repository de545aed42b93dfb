// Opening and closing the transports: serial, modem script, TCP; the first bytes on the line;
// the TCP send-again rule.
#include <gtest/gtest.h>

#include "tests/core/protocol_fakes.h"

namespace vir05 {
namespace {

using test::Bytes;
using test::FromText;
using test::LinkRig;

constexpr int kNoCommand = 2;  // opens and closes the transport, nothing else

TEST(LinkTransport, FirstBytesAreATE0Q1WithoutAModem) {
    {
        LinkRig rig;
        rig.StartSerial(kNoCommand);
        rig.engine->RunPass();
        EXPECT_EQ(rig.serial.line.out, FromText("ATE0Q1\r"));
        EXPECT_EQ(rig.serial.events, (std::vector<std::string>{"open COM3 19200", "purge", "rts 0",
                                                               "dtr 0", "close"}));
        EXPECT_EQ(rig.req().Status, 0);
        EXPECT_EQ(rig.req().ReplyTicks, 20u);
        EXPECT_EQ(rig.req().PortName, "");
    }
    {
        LinkRig rig;
        rig.Run(kNoCommand);
        EXPECT_EQ(rig.tcp.connects, (std::vector<std::string>{"10.0.0.7:4001"}));
        EXPECT_EQ(rig.tcp.line.out, FromText("ATE0Q1\r"));
        EXPECT_EQ(rig.tcp.closes, 1);
        EXPECT_EQ(rig.Sleeps(rig.engine->Timing().beforeTcpSendMs), 1);
    }
}

TEST(LinkTransport, SerialOpenFailuresShowTheirTextAtOnce) {
    const struct {
        LineError error;
        const char* text;
    } cases[] = {
        {LineError::CannotOpen, "Невозможно открыть COM3"},
        {LineError::CannotFillState, "Ошибка чтения параметров порта"},
        {LineError::CannotApplyState, "Ошибка записи параметров порта"},
        {LineError::CannotSetTimeouts, "Ошибка задания тайм-аутов"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LinkRig rig;
        rig.serial.openResult = c.error;
        rig.StartSerial(command::ReadCurrent);
        rig.engine->RunPass();
        EXPECT_EQ(rig.req().Status, link_status::NotOpened);
        EXPECT_EQ(rig.req().ErrorText, c.text);
        EXPECT_EQ(rig.captions, (std::vector<std::string>{c.text}));
        EXPECT_EQ(rig.req().PortName, "");
        EXPECT_TRUE(rig.serial.line.out.empty());
        EXPECT_TRUE(rig.controller.frames.empty());
    }
}

TEST(LinkTransport, TcpFailuresAreReportedWithoutCaption) {
    const struct {
        LineError error;
        const char* text;
    } cases[] = {
        {LineError::LibraryInit, "Ошибка инициализации библиотеки Winsock"},
        {LineError::Socket, "Невозможно создание сокета"},
        {LineError::Resolve, "Невозможно получить адрес сервера"},
        {LineError::Connect, "Невозможно установить соединение"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LinkRig rig;
        rig.tcp.openResult = c.error;
        rig.Run(command::ReadCurrent);
        EXPECT_EQ(rig.req().Status, link_status::NotOpened);
        EXPECT_EQ(rig.req().ErrorText, c.text);
        EXPECT_TRUE(rig.captions.empty());
        EXPECT_TRUE(rig.tcp.line.out.empty());
    }
}

TEST(LinkTransport, CancelledWhileOpenFailsEndsAsCancelled) {
    LinkRig rig;
    rig.tcp.openResult = LineError::Connect;
    rig.StartTcp(command::ReadCurrent);
    rig.req().Command = 0;  // the user stopped it before the pass got going
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, link_status::Cancelled);
    EXPECT_EQ(rig.req().ErrorText, "Отменено пользователем");
}

TEST(LinkTransport, PartialTcpSendSendsOnlyTheRest) {
    const struct {
        const char* name;
        std::vector<int> limits;
        Bytes secondCall;
    } cases[] = {
        {"four of seven bytes went", {4}, FromText("Q1\r")},
        {"the send failed", {-1}, FromText("ATE0Q1\r")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig rig;
        rig.tcp.sendLimits = c.limits;
        rig.Run(command::ReadCurrent);
        ASSERT_GE(rig.tcp.sendCalls.size(), 3u);
        EXPECT_EQ(rig.tcp.sendCalls[0], FromText("ATE0Q1\r"));
        EXPECT_EQ(rig.tcp.sendCalls[1], c.secondCall);
        // The controller saw the bytes exactly once, then the image read frame.
        const Bytes expect = FromText("ATE0Q1\r");
        EXPECT_EQ(Bytes(rig.tcp.line.out.begin(), rig.tcp.line.out.begin() + 7), expect);
        EXPECT_EQ(rig.tcp.line.out[7], 0x55);
        EXPECT_EQ(rig.req().Status, 0);
        // A pause before every send, the repeat included.
        EXPECT_EQ(rig.Sleeps(rig.engine->Timing().beforeTcpSendMs),
                  static_cast<int>(rig.tcp.sendCalls.size()));
    }
}

// The modem script.
class LinkModem : public ::testing::Test {
  protected:
    void SetUp() override { rig.UseModem(); }
    void Dial(int cmd = kNoCommand) {
        rig.StartSerial(cmd, "84951234567");
        rig.engine->RunPass();
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& c : rig.modem.commands)
            n += c.rfind(prefix, 0) == 0;
        return n;
    }
    LinkRig rig;
};

TEST_F(LinkModem, DialResetHangUpAndTicks) {
    Dial();
    EXPECT_EQ(rig.req().Status, 0);
    // No "ATE0Q1" with a telephone number; the hang-up after the command.
    EXPECT_EQ(rig.modem.commands,
              (std::vector<std::string>{"ATZH0E0&D2", "ATD84951234567", "+++", "ATH"}));
    EXPECT_EQ(rig.serial.events, (std::vector<std::string>{"open COM3 19200", "rts 1", "dtr 1",
                                                           "purge", "rts 0", "dtr 0", "close"}));
    EXPECT_EQ(rig.req().ReplyTicks, 150u);
    EXPECT_EQ(rig.areas->ProgressCell.load(), 5);
    const auto& t = rig.engine->Timing();
    EXPECT_EQ(rig.Sleeps(t.beforeSerialOpenMs), 1);
    EXPECT_EQ(rig.Sleeps(t.beforeModemResetMs), 1);
    EXPECT_EQ(rig.Sleeps(t.hangupPauseMs), 2);
    // The pauses of the hang-up come after DTR is lowered and around "+++".
    const std::string sent(rig.serial.line.out.begin(), rig.serial.line.out.end());
    EXPECT_EQ(sent, "ATZH0E0&D2\rATD84951234567\r+++ATH\r");
    EXPECT_EQ(rig.req().Phone, "");
    // A later TCP command keeps the modem's reply wait; a direct serial open restores 20.
    rig.Run(kNoCommand);
    EXPECT_EQ(rig.req().ReplyTicks, 150u);
    rig.StartSerial(kNoCommand);
    rig.serial.line.onWrite = nullptr;
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().ReplyTicks, 20u);
}

TEST_F(LinkModem, FailedDialsAfterFourAttempts) {
    const struct {
        const char* name;
        bool answerReset;
        std::string dialAnswer;
        bool enterDataMode;
        const char* text;
        int ticks;  // the reset answer and the dial answer waits of the four attempts
    } cases[] = {
        // No modem at all: 5 ticks for the reset answer, 7 for the dial answer, four times.
        {"no modem", false, "", true, "Попытка дозвона неудачна", 4 * (5 + 7)},
        {"busy", true, "\r\nBUSY\r\n", true, "Модем ответил :\r\nBUSY\r\n", -1},
        {"reset unanswered, dial connects", false, "\r\nCONNECT 9600\r\n", false,
         "Модем не отвечает", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.sleeps.clear();
        rig.captions.clear();
        rig.modem.commands.clear();
        rig.modem.answerReset = c.answerReset;
        rig.modem.dialAnswer = c.dialAnswer;
        rig.modem.enterDataMode = c.enterDataMode;
        Dial(command::ReadCurrent);
        EXPECT_EQ(rig.req().Status, link_status::NotOpened);
        EXPECT_EQ(rig.req().ErrorText, c.text);
        EXPECT_EQ(rig.captions, (std::vector<std::string>{c.text}));
        EXPECT_EQ(Count("ATZH0E0&D2"), 4);
        EXPECT_EQ(Count("ATD84951234567"), 4);
        EXPECT_EQ(rig.Sleeps(rig.engine->Timing().beforeModemResetMs), 4);
        if (c.ticks >= 0) {
            EXPECT_EQ(rig.Sleeps(rig.engine->Timing().tickMs), c.ticks);
        }
        EXPECT_TRUE(rig.controller.frames.empty());
        EXPECT_FALSE(rig.serial.open);
    }
}

TEST_F(LinkModem, DialThatFailsTwiceThenConnects) {
    rig.modem.dialAnswers = {"", "\r\nNO ANSWER\r\n"};
    rig.controller.image[addr::NetAddress] = 1;
    Dial(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(Count("ATD"), 3);
    // A successful dial shows nothing and clears nothing: the text of the last failed
    // attempt stays until a later step replaces it.
    EXPECT_EQ(rig.req().ErrorText, "Модем ответил :\r\nNO ANSWER\r\n");
    EXPECT_EQ(rig.req().ErrorCount, 0);
    EXPECT_EQ(rig.areas->ReceiveArea[6 + addr::NetAddress], 1);
}

TEST_F(LinkModem, CancelDuringTheDialEndsWaitsAtOnce) {
    rig.modem.dialAnswer = "";
    // The reset answer ("\r\nOK\r\n") is followed by 5 empty polls (4 ticks with ReplyTicks 5);
    // the 6th empty poll is the first of the dial wait.
    rig.CancelAtEmptyPoll(rig.serial.line, 6);
    Dial(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, link_status::Cancelled);
    EXPECT_EQ(rig.req().ErrorText, "Отменено пользователем");
    // The remaining attempts still run, without waiting for any answer.
    EXPECT_EQ(Count("ATZH0E0&D2"), 4);
    EXPECT_EQ(Count("ATD"), 4);
    EXPECT_EQ(rig.Sleeps(rig.engine->Timing().tickMs), 4 + 1);
    EXPECT_EQ(rig.captions, (std::vector<std::string>{"Попытка дозвона неудачна"}));
}

}  // namespace
}  // namespace vir05
