// The byte trace file.
#include <gtest/gtest.h>

#include "core/protocol/trace.h"
#include "tests/core/protocol_fakes.h"
#include "tests/core/test_util.h"

namespace vir05 {
namespace {

TEST(TraceLog, LineForms) {
    // Sent: " out" and eight blanks, decimal, two blanks, hex, two blanks, the character above 32.
    EXPECT_EQ(TraceLog::SentLine(0x55), " out        85  55  U");
    EXPECT_EQ(TraceLog::SentLine(32), " out        32  20  ");
    // Received: " i " and two blanks; a carriage return has no character after its forms.
    EXPECT_EQ(TraceLog::ReceivedLine(13), " i   13  0D  ");
    EXPECT_EQ(TraceLog::ReceivedLine(65), " i   65  41  A");
    EXPECT_EQ(TraceLog::ReceivedLine(0), " i   0  00  ");
    EXPECT_EQ(TraceLog::ReceiveStepLine(1962, 1962, 0x00), "1962 1962 CSUM=00");
    EXPECT_EQ(TraceLog::ReceiveStepLine(0, 131072, 0xFF), "0 131072 CSUM=FF");
}

TEST(TraceLog, FileOfAWriteExchange) {
    test::ScopedTempDir dir;
    {
        // An existing file is emptied.
        test::WriteFile(dir.File("test.txt"), "old contents\r\n");
        TraceLog trace(dir.File("test.txt"));
        EXPECT_EQ(test::ReadFile(dir.File("test.txt")), "start");  // flushed at once
        test::LinkRig rig(test::TestTiming(), &trace);
        rig.controller.image[addr::DevNumber] = 0;
        PutU32(rig.image(), addr::DevNumber, 500001);
        rig.Run(command::WriteSerial);
        ASSERT_EQ(rig.req().Status, 0);
    }
    const std::string text = test::ReadFile(dir.File("test.txt"));
    ASSERT_EQ(text.substr(0, 5), "start");
    const auto lines = test::SplitCrlf(text);
    ASSERT_GE(lines.size(), 7u + 13u + 7u + 1u);
    // "ATE0Q1\r" continues the "start" line.
    EXPECT_EQ(lines[0], "start out        65  41  A");
    EXPECT_EQ(lines[1], " out        84  54  T");
    EXPECT_EQ(lines[6], " out        13  0D  ");
    // The write frame: 55 01 FE 0C 81 06 00 4C + four serial bytes + checksum.
    EXPECT_EQ(lines[7], " out        85  55  U");
    EXPECT_EQ(lines[14], " out        76  4C  L");
    // The 7-byte acknowledge, received, then the receive step.
    EXPECT_EQ(lines[20], " i   170  AA  \xAA");
    EXPECT_EQ(lines[27], "7 7 CSUM=00");
    EXPECT_EQ(lines.size(), 28u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(TraceLog, EmptyPathWritesNothing) {
    test::ScopedTempDir dir;
    TraceLog trace("");
    EXPECT_FALSE(trace.Enabled());
    trace.Sent(1);
    trace.ReceiveStep(1, 2, 3);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace vir05
