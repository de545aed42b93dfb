// The receive loop: first-byte wait, gaps between bytes, skip-wait, carrier loss, cancel,
// progress and the decoder's room past the wanted count.
#include <gtest/gtest.h>

#include "tests/core/protocol_fakes.h"

namespace vir05 {
namespace {

using test::AppendSilence;
using test::Bytes;
using test::FromText;
using test::RxStream;
using test::Stream;

// An engine with an open TCP line and a running command; ReceiveReply is called directly.
class ProtocolReceive : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.StartTcp(command::ReadCurrent);
        LineTarget tcp;
        tcp.tcp = true;
        rig.line.Open(tcp);
        rig.tcp.line.onWrite = nullptr;
    }
    std::size_t Receive(std::size_t count, std::size_t wanted, std::uint32_t firstWait,
                        std::size_t total = 0) {
        auto& buf = rig.req().RxBuffer;
        rig.engine->ReceiveReply(buf.data(), buf.size(), count, wanted, firstWait, total);
        return count;
    }
    int Ticks() const { return rig.Sleeps(rig.engine->Timing().tickMs); }

    test::LinkRig rig;
};

struct TickCase {
    const char* name;
    int silenceBefore;  // empty polls before the first byte
    int gapAfterFirst;  // empty polls between the first and the second byte
    std::uint32_t firstWait;
    std::size_t expectCount;
    int expectTicks;
};

TEST_F(ProtocolReceive, FirstWaitAndGapsCountTicks) {
    // ReplyTicks 20: after a byte, 19 empty ticks pass and the 20th poll without a byte ends it.
    const TickCase cases[] = {
        {"W=0 does not wait for a first byte", 1, 0, 0, 0, 0},
        {"W=3 takes a byte at the poll after the third empty tick", 3, 0, 3, 2, 3},
        {"W=3 gives up at the fourth empty poll", 4, 0, 3, 0, 3},
        {"a gap of ReplyTicks-1 ticks is accepted", 0, 19, 1, 2, 19},
        {"a gap of ReplyTicks ticks cuts the reply", 0, 20, 1, 1, 19},
        {"W=0 after the first byte also accepts 19 ticks", 0, 19, 0, 2, 19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.sleeps.clear();
        rig.tcp.line.in.clear();
        RxStream s;
        AppendSilence(s, c.silenceBefore);
        s.push_back(0x41);
        AppendSilence(s, c.gapAfterFirst);
        s.push_back(0x42);
        rig.tcp.line.Push(s);
        EXPECT_EQ(Receive(0, 2, c.firstWait), c.expectCount);
        EXPECT_EQ(Ticks(), c.expectTicks);
    }
}

TEST_F(ProtocolReceive, ALineThatTricklesIsCutAtThePaceOfAReply) {
    // A byte after every 19 empty polls, for ever: each gap is accepted, but all gaps together
    // may only take the reply wait and one tick per byte received.
    rig.tcp.line.floodByte = [](std::uint64_t) { return std::uint8_t{0x55}; };
    rig.tcp.line.floodGap = 19;
    const std::size_t got = Receive(0, 131072, 0);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(Ticks(), 20 + 2);

    // A slow but steady reply (a converter at a low speed: a pause after every eight bytes) is
    // taken whole.
    rig.tcp.line.floodByte = nullptr;
    rig.tcp.line.in.clear();
    rig.sleeps.clear();
    for (int i = 0; i < 32775; ++i) {
        rig.tcp.line.Push(Bytes{static_cast<std::uint8_t>(i)});
        if (i % 8 == 7) rig.tcp.line.PushSilence(1);
    }
    EXPECT_EQ(Receive(0, 32775, 20), 32775u);
    EXPECT_EQ(Ticks(), 32775 / 8);
}

TEST_F(ProtocolReceive, EmptyFirstPollKeepsTheCountGiven) {
    // The count given is 5 (bytes assembled by an earlier call); this call with W >= 1 finds the
    // line empty at its first poll. The next byte, one poll late, goes on at 5: the bytes before
    // it are kept, as a block assembled over several calls needs.
    rig.req().RxBuffer[0] = 0xAA;
    rig.tcp.line.PushSilence(1);
    rig.tcp.line.Push(Bytes{0x33, 0x44});
    EXPECT_EQ(Receive(5, 7, 2), 7u);
    EXPECT_EQ(rig.req().RxBuffer[0], 0xAA);
    EXPECT_EQ(rig.req().RxBuffer[5], 0x33);
    EXPECT_EQ(rig.req().RxBuffer[6], 0x44);
    EXPECT_EQ(rig.req().RxBuffer[7], 0x00);  // the spare zero after the last byte
}

TEST_F(ProtocolReceive, SkipWaitEndsTheWaitAndIsCleared) {
    rig.req().SkipWait = 1;
    rig.tcp.line.PushSilence(100);
    EXPECT_EQ(Receive(0, 10, 700), 0u);
    EXPECT_EQ(Ticks(), 0);
    EXPECT_EQ(rig.req().SkipWait, 0);
    // The user clicks in the middle of a wait.
    rig.tcp.line.in.clear();
    rig.tcp.line.emptyPolls = 0;
    rig.tcp.line.onEmptyPoll = [this](int n) {
        if (n == 3) rig.req().SkipWait = 1;
    };
    EXPECT_EQ(Receive(0, 10, 700), 0u);
    EXPECT_EQ(Ticks(), 2);
}

TEST_F(ProtocolReceive, NoCarrierInTheLastTwelveBytesEndsTheWait) {
    rig.tcp.line.Push(FromText("abc\r\nNO CARRIER\r\n"));
    rig.tcp.line.PushSilence(50);
    EXPECT_EQ(Receive(0, 1000, 5), 17u);
    EXPECT_EQ(Ticks(), 0);
    // Two more bytes push it out of the last twelve: the normal gap rule applies.
    rig.sleeps.clear();
    rig.tcp.line.in.clear();
    rig.tcp.line.Push(FromText("NO CARRIER\r\nab"));
    EXPECT_EQ(Receive(0, 1000, 5), 14u);
    EXPECT_EQ(Ticks(), 19);
}

TEST_F(ProtocolReceive, CancelEndsTheWaitAndSkipsTheTraceLine) {
    rig.CancelAtEmptyPoll(rig.tcp.line, 4);
    rig.tcp.line.PushSilence(100);
    EXPECT_EQ(Receive(0, 10, 700), 0u);
    EXPECT_EQ(Ticks(), 4);
    // A call after the cancel returns at once, count untouched.
    rig.tcp.line.in.clear();
    rig.tcp.line.Push(Bytes{1, 2, 3});
    EXPECT_EQ(Receive(9, 12, 700), 9u);
    EXPECT_EQ(rig.tcp.line.in.size(), 3u);
}

TEST_F(ProtocolReceive, ProgressIsCountOverTotalBelowHundred) {
    rig.tcp.line.Push(Bytes(5, 0x11));
    Receive(0, 5, 1, 10);
    EXPECT_EQ(rig.areas->ProgressCell.load(), 50);
    rig.tcp.line.Push(Bytes(5, 0x11));
    Receive(5, 10, 1, 10);
    EXPECT_EQ(rig.areas->ProgressCell.load(), 90);  // 100 is never reached here
}

TEST_F(ProtocolReceive, DecoderMayRunPastTheWantedCountIntoTheSlack) {
    // After 32 plain bytes, an input byte 0 is eight 0 bits: eight repeats of the bytes 32 back.
    auto& req = rig.req();
    req.Unpack = true;
    req.UnpackState.Reset();
    std::size_t pos = 0;
    std::uint8_t scratch[64];
    for (int i = 0; i < 32; ++i)
        UnpackByte(req.UnpackState, static_cast<std::uint8_t>(i + 1), pos, scratch);
    // Wanted is the very end of the buffer: the last eight bytes and the zero go into the slack.
    rig.tcp.line.Push(Bytes{0x00});
    const std::size_t start = kRxBufferSize - 1;
    EXPECT_EQ(Receive(start, kRxBufferSize, 1), kRxBufferSize + 7);
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(req.RxBuffer[start + i], i + 1) << i;  // bytes 1..8, from 32 outputs back
    EXPECT_EQ(req.RxBuffer[kRxBufferSize + 7], 0);
    req.Unpack = false;
}

}  // namespace
}  // namespace vir05
