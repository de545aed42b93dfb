// The commands over a fake controller: image read and its failures and retries, the archive
// read (block offsets, plain and compressed, carrier loss, stops), the configuration write,
// clock, serial number, emulator step and service commands.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/core/protocol_fakes.h"

namespace vir05 {
namespace {

using test::AppendSilence;
using test::Bytes;
using test::FromText;
using test::Hex;
using test::LinkRig;
using test::RxStream;

// A controller image with recognisable contents.
void FillImage(LinkRig& rig) {
    for (std::size_t i = 0; i < kImageSize; ++i)
        rig.controller.image[i] = static_cast<std::uint8_t>(i * 7 + 3);
}

// ---------------------------------------------------------------------------------------------
// Image read.

TEST(LinkReadCurrent, CopiesTheWholeReplyHeaderFirst) {
    LinkRig rig;
    FillImage(rig);
    std::memset(rig.areas->ReceiveArea.data(), 0xEE, kReceiveAreaSize);
    rig.Run(command::ReadCurrent);
    ASSERT_EQ(rig.req().Status, 0);
    const auto& area = rig.areas->ReceiveArea;
    EXPECT_EQ(area[0], 170);
    EXPECT_EQ(std::memcmp(area.data() + 6, rig.controller.image.data(), kImageSize), 0);
    EXPECT_TRUE(FrameValid(area.data(), 1962));
    EXPECT_EQ(area[1962], 0);  // cleared
    EXPECT_EQ(area[4096 + 131071], 0);
    EXPECT_EQ(area[4096 + 131072], 0xEE);  // beyond the archive's place: untouched
    EXPECT_EQ(rig.req().ErrorCount, 0);
    EXPECT_EQ(rig.captions, (std::vector<std::string>{""}));
    // Progress of the image read stays below 100.
    EXPECT_EQ(rig.areas->ProgressCell.load(), 99);
    EXPECT_EQ(rig.FramesWith(kOpRead).size(), 1u);
}

struct ReadFailure {
    const char* name;
    std::function<void(RxStream&)> spoil;
    int status;
    const char* text;
};

class LinkReadFailures : public ::testing::TestWithParam<ReadFailure> {};

TEST_P(LinkReadFailures, FiveAttemptsThenTheLastText) {
    const auto& c = GetParam();
    LinkRig rig;
    FillImage(rig);
    rig.controller.tamper = [&](RxStream& r, int, const Bytes&) { c.spoil(r); };
    rig.Run(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, c.status);
    EXPECT_EQ(rig.req().ErrorText, c.text);
    EXPECT_EQ(rig.req().ErrorCount, 5);
    EXPECT_EQ(rig.FramesWith(kOpRead).size(), 5u);
    EXPECT_EQ(rig.captions, std::vector<std::string>(5, c.text));
    EXPECT_EQ(rig.areas->ReceiveArea[0], 0);  // nothing copied
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, LinkReadFailures,
    ::testing::Values(
        ReadFailure{"silence", [](RxStream& r) { r.clear(); }, 1, "Не пришло ни одного байта"},
        ReadFailure{"header", [](RxStream& r) { r[0] = 0x41; }, 10,
                    "Неверный заголовок ответа: 65 вместо 170"},
        ReadFailure{"short", [](RxStream& r) { r.resize(1000); }, 1,
                    "Пришло 1000 байт вместо 1962"},
        // A stall of ReplyTicks (20) empty ticks in the middle cuts the reply there.
        ReadFailure{"stall", [](RxStream& r) { r.insert(r.begin() + 500, 20, std::nullopt); }, 1,
                    "Пришло 500 байт вместо 1962"},
        ReadFailure{"checksum", [](RxStream& r) { *r.back() ^= 0x01; }, 2,
                    "Не сошлась контрольная сумма"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkReadCurrent, GapOfNineteenTicksIsAccepted) {
    LinkRig rig;
    FillImage(rig);
    rig.controller.tamper = [](RxStream& r, int, const Bytes&) {
        r.insert(r.begin() + 500, 19, std::nullopt);
    };
    rig.Run(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(rig.req().ErrorCount, 0);
}

TEST(LinkReadCurrent, RetriesRecoverAfterTwoFailures) {
    LinkRig rig;
    FillImage(rig);
    rig.controller.tamper = [](RxStream& r, int index, const Bytes&) {
        if (index == 0) r.clear();
        if (index == 1) *r.back() ^= 0xFF;
    };
    rig.Run(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(rig.req().ErrorCount, 2);
    EXPECT_EQ(rig.FramesWith(kOpRead).size(), 3u);
    // The caption shows each attempt's text; a success leaves the last failure's text.
    EXPECT_EQ(rig.captions,
              (std::vector<std::string>{"Не пришло ни одного байта", "Не сошлась контрольная сумма",
                                        "Не сошлась контрольная сумма"}));
    EXPECT_EQ(
        std::memcmp(rig.areas->ReceiveArea.data() + 6, rig.controller.image.data(), kImageSize), 0);
}

TEST(LinkReadCurrent, SkipWaitEndsTheWaitAndTheReadIsRetried) {
    LinkRig rig;
    FillImage(rig);
    // The first reply never comes; the user clicks the retry counter during the wait.
    rig.controller.tamper = [](RxStream& r, int index, const Bytes&) {
        if (index == 0) r.clear();
    };
    // Empty poll 1 is the drain's; 2 and 3 are the wait for the reply.
    rig.tcp.line.onEmptyPoll = [&](int n) {
        if (n == 3) rig.req().SkipWait = 1;
    };
    rig.Run(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(rig.req().ErrorCount, 1);
    EXPECT_EQ(rig.Sleeps(rig.engine->Timing().tickMs), 1);  // not the 20 of a full wait
    EXPECT_EQ(rig.captions.front(), "Не пришло ни одного байта");
}

// A reply whose rest comes late behind its first byte, as on a busy controller or through a
// line converter that forwards the first byte in a packet of its own: the rest is waited for,
// and a rest that comes too late for its own attempt is drained, never taken for the header of
// the next reply.
TEST(LinkReadCurrent, TheLateRestOfAReplyIsNeverTakenForTheNextHeader) {
    const struct {
        const char* what;
        int gapAfterFirstByte;  // empty polls between the first byte and the rest
        bool everyReply;        // every reply so, or only the first
        int errors;             // failed attempts before the read succeeds
    } cases[] = {
        {"a short pause behind the first byte of every reply", 2, true, 0},
        {"a pause as long as the gap a reply may have", 19, true, 0},
        {"the first reply's rest later than its attempt waits", 23, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LinkRig rig;
        FillImage(rig);
        rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
            if (index == 0 || c.everyReply)
                r.insert(r.begin() + 1, static_cast<std::size_t>(c.gapAfterFirstByte),
                         std::nullopt);
        };
        rig.Run(command::ReadCurrent);
        EXPECT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
        EXPECT_EQ(rig.req().ErrorCount, c.errors);
        for (const std::string& caption : rig.captions)
            EXPECT_EQ(caption.find("Неверный заголовок"), std::string::npos) << caption;
        EXPECT_EQ(
            std::memcmp(rig.areas->ReceiveArea.data() + 6, rig.controller.image.data(), kImageSize),
            0);
    }
}

TEST(LinkReadCurrent, CarrierLossInTheReplyRedialsBeforeTheNextAttempt) {
    LinkRig rig;
    rig.UseModem();
    FillImage(rig);
    rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
        if (index != 0) return;
        r.resize(300);  // the line drops after 300 bytes
        for (auto b : FromText("\r\nNO CARRIER\r\n"))
            r.push_back(b);
        rig.modem.dataMode = false;
    };
    rig.StartSerial(command::ReadCurrent, "84951234567");
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(rig.req().ErrorCount, 0);  // a carrier loss is not counted
    EXPECT_EQ(rig.Sleeps(rig.engine->Timing().noCarrierPauseMs), 1);
    int dials = 0;
    for (const auto& c : rig.modem.commands)
        dials += c.rfind("ATD", 0) == 0;
    EXPECT_EQ(dials, 2);
    EXPECT_EQ(
        std::memcmp(rig.areas->ReceiveArea.data() + 6, rig.controller.image.data(), kImageSize), 0);
}

// ---------------------------------------------------------------------------------------------
// Archive read.

struct ArchiveCase {
    const char* name;
    std::uint32_t archPos;
    std::uint8_t numSystems;
    std::int32_t slots;
    std::vector<std::uint32_t> offsets;
};

class LinkArchiveOffsets : public ::testing::TestWithParam<ArchiveCase> {};

TEST_P(LinkArchiveOffsets, BlocksGoBackwardsFromTheWritePosition) {
    const auto& c = GetParam();
    LinkRig rig;
    PutU32(rig.controller.image.data(), addr::ArchPos, c.archPos);
    rig.controller.image[addr::NumSystems] = c.numSystems;
    PutU16(rig.controller.image.data(), addr::SoftVer, 106);
    for (std::size_t i = 0; i < kArchiveSize; ++i)
        rig.controller.archive[i] = static_cast<std::uint8_t>(i ^ (i >> 8) ^ (i >> 16));
    auto& area = rig.areas->ReceiveArea;
    std::memset(area.data(), 0xEE, kReceiveAreaSize);
    rig.StartTcp(command::ReadArchive);
    rig.req().ArchiveSlots = c.slots;
    rig.engine->RunPass();
    ASSERT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
    std::vector<std::uint32_t> offsets;
    for (const auto& f : rig.FramesWith(kOpArchive)) {
        EXPECT_EQ(f[3], kModePlain);
        EXPECT_EQ(test::FakeController::Be(f, 10, 4), 32768u);
        offsets.push_back(test::FakeController::Be(f, 6, 4));
    }
    EXPECT_EQ(offsets, c.offsets);
    // Every block is in the ring at its offset, and nothing was written past the ring's place.
    for (auto s : offsets)
        EXPECT_EQ(std::memcmp(area.data() + 4096 + s, rig.controller.archive.data() + s, 32768), 0)
            << s;
    for (std::size_t i = 4096 + kArchiveSize; i < kReceiveAreaSize; ++i)
        ASSERT_EQ(area[i], 0xEE) << i;
    EXPECT_EQ(rig.areas->ProgressCell.load(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, LinkArchiveOffsets,
    ::testing::Values(
        ArchiveCase{"OneCircuit", 36864, 1, 8192, {4112, 0, 0, 98304}},
        ArchiveCase{"TwoCircuitsNearTheEnd", 126976, 2, 8192, {94240, 61472, 28704, 0}},
        ArchiveCase{"TwoCircuitsAtZero", 0, 2, 8192, {0, 0, 98304, 65536}},
        ArchiveCase{"FewSlotsGiveOneBlock", 126976, 2, 1000, {94240}},
        // Values no controller should hold: the position is taken within the ring, and a first
        // block that would run past the ring end reads the last whole block.
        ArchiveCase{"PositionAllOnes", 0xFFFFFFFFu, 2, 8192, {98304, 65567, 32799, 31}},
        ArchiveCase{"PositionBeyondTheRing", 200000, 2, 8192, {36192, 3424, 0, 0}},
        ArchiveCase{"LastBytesOfTheRing", 131060, 2, 8192, {98304, 65556, 32788, 20}},
        // Any circuit count other than 1 reads as two circuits, as the window shows it.
        ArchiveCase{"ZeroCircuits", 126976, 0, 8192, {94240, 61472, 28704, 0}},
        ArchiveCase{"CircuitCount255", 126976, 255, 8192, {94240, 61472, 28704, 0}},
        ArchiveCase{"NegativeSlots", 36864, 1, -5, {4112}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkArchivePlan, AmountStrideAndMode) {
    EXPECT_EQ(PlanArchive(1, 0, 106, 8192).total, 131072u);
    EXPECT_EQ(PlanArchive(1, 0, 106, 4096).total, 65536u);
    EXPECT_EQ(PlanArchive(2, 0, 106, 1000).total, 32768u);
    EXPECT_EQ(PlanArchive(200, 0, 106, 0x7FFFFFFF).total, 131072u);
    EXPECT_EQ(PlanArchive(1, 0, 106, 8192).stride, 16u);
    EXPECT_EQ(PlanArchive(2, 0, 106, 8192).stride, 32u);
    EXPECT_EQ(PlanArchive(2, 0, 106, 8192).mode, kModePlain);
    EXPECT_EQ(PlanArchive(2, 0, 107, 8192).mode, kModeCompressed);
}

// A controller whose archive repeats with a 32-byte period, changing now and then.
void FillRecordArchive(LinkRig& rig) {
    for (std::size_t i = 0; i < kArchiveSize; ++i) {
        const std::size_t rec = i / 32;
        rig.controller.archive[i] =
            static_cast<std::uint8_t>((i % 32) * 3 + (rec % 5 == 0 ? rec : 0));
    }
}

TEST(LinkArchiveRead, CompressedFromVersion107) {
    for (std::uint16_t ver : {106, 107}) {
        SCOPED_TRACE(ver);
        LinkRig rig;
        FillRecordArchive(rig);
        PutU32(rig.controller.image.data(), addr::ArchPos, 0x9000);
        rig.controller.image[addr::NumSystems] = 2;
        PutU16(rig.controller.image.data(), addr::SoftVer, ver);
        std::size_t wireBytes = 0;
        rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
            if (index > 0) wireBytes += r.size();
        };
        rig.Run(command::ReadArchive);
        ASSERT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
        const auto frames = rig.FramesWith(kOpArchive);
        ASSERT_EQ(frames.size(), 4u);
        for (const auto& f : frames)
            EXPECT_EQ(f[3], ver >= 107 ? kModeCompressed : kModePlain);
        if (ver >= 107) {
            EXPECT_LT(wireBytes, 4u * 32768u);
        } else {
            EXPECT_EQ(wireBytes, 4u * (32768u + 7u));
        }
        // Blocks at 4128, 0, 0 and 98304: the ring up to 36896 and from 98304 was read.
        const auto* got = rig.areas->ReceiveArea.data() + 4096;
        EXPECT_EQ(std::memcmp(got, rig.controller.archive.data(), 36896), 0);
        EXPECT_EQ(std::memcmp(got + 98304, rig.controller.archive.data() + 98304, 32768), 0);
        EXPECT_FALSE(rig.req().Unpack);
    }
}

TEST(LinkArchiveRead, CompressedStreamRunningPastTheBlockFailsSafely) {
    // The last input byte of the block decodes to more bytes than the block holds: the reply
    // cannot have the right length and is retried; nothing lands outside the buffers.
    LinkRig rig;
    FillRecordArchive(rig);
    PutU32(rig.controller.image.data(), addr::ArchPos, 131060);
    rig.controller.image[addr::NumSystems] = 2;
    PutU16(rig.controller.image.data(), addr::SoftVer, 110);
    rig.controller.tamper = [](RxStream& r, int index, const Bytes&) {
        if (index == 1) r.insert(r.end() - 1, std::uint8_t{0x00});  // eight more repeats
    };
    rig.StartTcp(command::ReadArchive);
    rig.req().ArchiveSlots = 1000;
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, 0);
    // The extra output either runs past the block (wrong length) or takes the checksum's
    // place (wrong checksum); the checksum byte left on the line spoils the next attempt too.
    EXPECT_GE(rig.req().ErrorCount, 1);
    ASSERT_GE(rig.captions.size(), 2u);
    EXPECT_TRUE(rig.captions[1].rfind("Пришло ", 0) == 0 ||
                rig.captions[1] == "Не сошлась контрольная сумма")
        << rig.captions[1];
    EXPECT_EQ(std::memcmp(rig.areas->ReceiveArea.data() + 4096 + 98304,
                          rig.controller.archive.data() + 98304, 32768),
              0);
}

TEST(LinkArchiveRead, BlockFailures) {
    const struct {
        const char* name;
        std::function<void(RxStream&)> spoil;
        int status;
        const char* text;
    } cases[] = {
        {"header", [](RxStream& r) { r[0] = 0x00; }, 11, "Неверный заголовок ответа: 0 вместо 170"},
        // A cut reply reports the bytes that did arrive.
        {"short", [](RxStream& r) { r.resize(20000); }, 1, "Пришло 20000 байт вместо 32775"},
        {"checksum", [](RxStream& r) { *r[100] ^= 0x01; }, 2, "Не сошлась контрольная сумма"},
        {"silence", [](RxStream& r) { r.clear(); }, 1, "Не пришло ни одного байта"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig rig;
        PutU32(rig.controller.image.data(), addr::ArchPos, 0x9000);
        rig.controller.image[addr::NumSystems] = 1;
        rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
            if (index > 0) c.spoil(r);
        };
        rig.Run(command::ReadArchive);
        EXPECT_EQ(rig.req().Status, c.status);
        EXPECT_EQ(rig.req().ErrorText, c.text);
        EXPECT_EQ(rig.req().ErrorCount, 5);
        // The first block failed five times; the loop stopped there.
        EXPECT_EQ(rig.FramesWith(kOpArchive).size(), 5u);
    }
}

TEST(LinkArchiveRead, CarrierLossInABlockRedialsWithoutCounting) {
    // Plain and compressed blocks alike: in a compressed block the modem's words arrive among
    // coded bytes and are watched for as they come off the line.
    for (const std::uint16_t softVer : {106, 107}) {
        SCOPED_TRACE(softVer);
        LinkRig rig;
        PutU16(rig.controller.image.data(), addr::SoftVer, softVer);
        rig.UseModem();
        FillRecordArchive(rig);
        PutU32(rig.controller.image.data(), addr::ArchPos, 0x9000);
        rig.controller.image[addr::NumSystems] = 1;
        rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
            if (index != 2) return;  // the second block's first attempt
            r.resize(5000);
            for (auto b : FromText("\r\nNO CARRIER\r\n"))
                r.push_back(b);
            rig.modem.dataMode = false;
        };
        rig.StartSerial(command::ReadArchive, "84951234567");
        rig.engine->RunPass();
        EXPECT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
        EXPECT_EQ(rig.req().ErrorCount, 0);
        EXPECT_EQ(rig.FramesWith(kOpArchive).size(), 5u);  // four blocks, one of them twice
        int dials = 0;
        for (const auto& c : rig.modem.commands)
            dials += c.rfind("ATD", 0) == 0;
        EXPECT_EQ(dials, 2);
        for (std::uint32_t s : {4112u, 0u, 98304u})
            EXPECT_EQ(std::memcmp(rig.areas->ReceiveArea.data() + 4096 + s,
                                  rig.controller.archive.data() + s, 32768),
                      0);
    }
}

TEST(LinkArchiveRead, CarrierLostInEveryAttemptEndsWithTheModemsWords) {
    // Image read and archive block alike: the run ends with a reason, never an empty one.
    for (const int lostReply : {0, 1}) {
        SCOPED_TRACE(lostReply == 0 ? "image read" : "archive block");
        LinkRig rig;
        rig.UseModem();
        PutU32(rig.controller.image.data(), addr::ArchPos, 0x9000);
        rig.controller.image[addr::NumSystems] = 1;
        rig.controller.tamper = [&](RxStream& r, int, const Bytes& frame) {
            if ((frame[4] == kOpArchive) != (lostReply == 1)) return;
            r.resize(lostReply == 0 ? 300 : 5000);
            for (auto b : FromText("\r\nNO CARRIER\r\n"))
                r.push_back(b);
            rig.modem.dataMode = false;
        };
        rig.StartSerial(command::ReadArchive, "84951234567");
        rig.engine->RunPass();
        EXPECT_EQ(rig.req().Status, 1);
        EXPECT_EQ(rig.req().ErrorText, "Модем ответил :NO CARRIER");
        EXPECT_EQ(rig.req().ErrorCount, 0);
        EXPECT_EQ(rig.FramesWith(lostReply == 0 ? kOpRead : kOpArchive).size(), 5u);
    }
}

TEST(LinkArchiveRead, BabblingLineAfterTheArchiveRequestEndsTheCommand) {
    // The controller answers the image read, then the line never falls silent again. Whatever
    // it babbles, the command ends after its five attempts at the first block, with a reason,
    // having taken no more than its drains and replies allow.
    const auto noise = [](std::uint64_t n) { return static_cast<std::uint8_t>(n); };
    const auto starts = [](std::uint64_t) { return static_cast<std::uint8_t>(kReplyStart); };
    const struct {
        const char* name;
        bool tcp;
        std::uint8_t (*byte)(std::uint64_t);
        int gap;  // empty polls after each byte: a line that trickles
    } cases[] = {
        {"noise over a serial line", false, noise, 0},
        {"noise over TCP", true, noise, 0},
        {"reply starts over a serial line", false, starts, 0},
        {"reply starts over TCP", true, starts, 0},
        {"a noise byte every fifth poll over a serial line", false, noise, 4},
        {"a noise byte every fifth poll over TCP", true, noise, 4},
        {"a reply start every twentieth poll over TCP", true, starts, 19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig rig;
        PutU32(rig.controller.image.data(), addr::ArchPos, 0x9000);
        rig.controller.image[addr::NumSystems] = 1;
        test::ByteQueue& line = c.tcp ? rig.tcp.line : rig.serial.line;
        rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
            if (index == 0) return;
            r.clear();
            line.floodByte = c.byte;
            line.floodGap = c.gap;
        };
        if (c.tcp)
            rig.StartTcp(command::ReadArchive);
        else
            rig.StartSerial(command::ReadArchive);
        rig.engine->RunPass();
        EXPECT_NE(rig.req().Status, 0);
        EXPECT_FALSE(rig.req().ErrorText.empty());
        EXPECT_EQ(rig.req().ErrorCount, 5);
        EXPECT_EQ(rig.FramesWith(kOpArchive).size(), 5u);
        // Per attempt: a drain before it, the block's reply and a drain of what follows.
        const std::uint64_t bound = 5 * (2 * kDrainLimit + kArchiveBlockSize + kRxBufferSlack + 7);
        EXPECT_LT(line.flooded, bound);
        // Nor more ticks than a few reply waits an attempt: a trickle of one byte every few
        // ticks must not stretch a block of 32775 bytes (or a drain) to hours.
        EXPECT_LT(rig.Sleeps(rig.engine->Timing().tickMs), 5 * 20 * 20);
    }
}

TEST(LinkArchiveRead, StopAfterTwoBlocksKeepsThemAsSuccess) {
    LinkRig rig;
    FillRecordArchive(rig);
    PutU32(rig.controller.image.data(), addr::ArchPos, 126976);
    rig.controller.image[addr::NumSystems] = 2;
    auto& area = rig.areas->ReceiveArea;
    std::memset(area.data(), 0xEE, kReceiveAreaSize);  // an earlier reading
    bool stalled = false;
    rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
        if (index == 3) {  // the third block stops after 100 bytes
            r.resize(100);
            AppendSilence(r, 1000);
            stalled = true;
        }
    };
    rig.tcp.line.onEmptyPoll = [&](int) {
        if (stalled) rig.req().Command = 0;
    };
    rig.Run(command::ReadArchive);
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(rig.req().Command, command::ReadArchive);
    EXPECT_EQ(rig.FramesWith(kOpArchive).size(), 3u);
    EXPECT_EQ(std::memcmp(area.data() + 4096 + 94240, rig.controller.archive.data() + 94240, 32768),
              0);
    EXPECT_EQ(std::memcmp(area.data() + 4096 + 61472, rig.controller.archive.data() + 61472, 32768),
              0);
    // The parts not read are zero, up to the ring's last byte: nothing of the earlier reading.
    for (std::size_t i = 4096; i < 4096 + 61472; ++i)
        ASSERT_EQ(area[i], 0) << i;
    EXPECT_EQ(area[4096 + kArchiveSize - 1], 0);
    // Kept, but marked as stopped, with how much of it was read.
    EXPECT_TRUE(rig.req().ArchiveStopped);
    EXPECT_EQ(rig.req().ArchiveBlocksRead, 2);
    EXPECT_EQ(rig.req().ArchiveBlocksPlanned, 4);
    // The next command starts with no trace of it.
    rig.tcp.line.onEmptyPoll = nullptr;
    rig.tcp.line.in.clear();
    rig.Run(command::ReadCurrent);
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_FALSE(rig.req().ArchiveStopped);
    EXPECT_EQ(rig.req().ArchiveBlocksRead, 0);
}

// A stop that comes right after the modem's "NO CARRIER" arrived inside a compressed block
// leaves no carrier loss behind: the next command's waits and dials run in full.
TEST(LinkArchiveRead, AStopRightAfterACarrierLossLeavesTheNextCommandAlone) {
    LinkRig rig;
    PutU16(rig.controller.image.data(), addr::SoftVer, 107);  // compressed blocks
    FillRecordArchive(rig);
    PutU32(rig.controller.image.data(), addr::ArchPos, 0x9000);
    rig.controller.image[addr::NumSystems] = 1;
    rig.UseModem();
    bool carrierLost = false;
    rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
        if (index == 2) {  // the second block: the line drops inside it
            r.resize(std::min<std::size_t>(r.size(), 200));  // inside the coded data
            for (auto b : FromText("\r\nNO CARRIER\r\n"))
                r.push_back(b);
            AppendSilence(r, 1);
            rig.modem.dataMode = false;
            carrierLost = true;
        }
        if (index == 3) r.insert(r.begin(), 3, std::nullopt);  // the next reply comes late
    };
    // The user's stop comes at the first empty poll after "NO CARRIER".
    rig.serial.line.onEmptyPoll = [&](int) {
        if (carrierLost && rig.req().Command.load() == command::ReadArchive) rig.req().Command = 0;
    };
    rig.StartSerial(command::ReadArchive, "84951234567");
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_TRUE(rig.req().ArchiveStopped);
    EXPECT_EQ(rig.req().ArchiveBlocksRead, 1);

    rig.StartSerial(command::ReadCurrent, "84951234567");
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
    EXPECT_EQ(rig.req().ErrorCount, 0);
    EXPECT_EQ(
        std::memcmp(rig.areas->ReceiveArea.data() + 6, rig.controller.image.data(), kImageSize), 0);
}

// A block whose first reply comes after its wait has ended is asked for again; the late reply
// serves the retry, and the retry's own reply, whole and valid, follows it. It must not pass for
// the next block's reply: each block holds the data of its own place in the ring.
TEST(LinkArchiveRead, AReplyToAnAbandonedAttemptIsNeverTakenForTheNextBlock) {
    for (const int lateBlock : {0, 1, 2}) {  // the image read, the first and the second block
        SCOPED_TRACE(lateBlock);
        LinkRig rig;
        FillRecordArchive(rig);
        PutU32(rig.controller.image.data(), addr::ArchPos, 126976);
        rig.controller.image[addr::NumSystems] = 2;
        rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
            if (index == lateBlock)  // later than the first-byte wait of ReplyTicks ticks
                r.insert(r.begin(), kInitialReplyTicks + 2, std::nullopt);
        };
        rig.Run(command::ReadArchive);
        EXPECT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
        EXPECT_EQ(rig.req().ErrorCount, 1);
        const ArchivePlan plan = PlanArchive(2, 126976, 0, kDefaultArchiveSlots);
        for (int k = 1; k <= plan.Blocks(); ++k) {
            const std::uint32_t s = plan.BlockStart(k);
            EXPECT_EQ(std::memcmp(rig.areas->ReceiveArea.data() + 4096 + s,
                                  rig.controller.archive.data() + s, 32768),
                      0)
                << "block " << k;
        }
    }
}

TEST(LinkArchiveRead, WithoutDestinationReadsTheBlocksAndCopiesNothing) {
    // The archive plan comes from the reply itself, so a null destination is no obstacle.
    LinkRig rig;
    PutU32(rig.controller.image.data(), addr::ArchPos, 36864);
    rig.controller.image[addr::NumSystems] = 1;
    rig.StartTcp(command::ReadArchive);
    rig.req().Destination = nullptr;
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, 0);
    EXPECT_EQ(rig.FramesWith(kOpArchive).size(), 4u);
    EXPECT_EQ(rig.areas->ReceiveArea[0], 0);
}

TEST(LinkArchiveRead, StopDuringTheImagePhaseIsCancelled) {
    LinkRig rig;
    rig.controller.tamper = [&](RxStream& r, int index, const Bytes&) {
        if (index == 0) {
            r.resize(700);
            AppendSilence(r, 1000);
        }
    };
    rig.CancelAtEmptyPoll(rig.tcp.line, 2);  // the 1st empty poll is the drain's
    rig.Run(command::ReadArchive);
    EXPECT_EQ(rig.req().Status, link_status::Cancelled);
    EXPECT_EQ(rig.req().ErrorText, "Отменено пользователем");
    EXPECT_EQ(rig.req().Command, 0);
    EXPECT_TRUE(rig.FramesWith(kOpArchive).empty());
    EXPECT_EQ(rig.FramesWith(kOpRead).size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Writes.

TEST(LinkWriteConfig, SendsOnlyTheChangedSpanOfEachWindow) {
    LinkRig rig;
    std::memcpy(rig.image(), rig.shadow(), kImageSize);
    rig.image()[80] = 0x12;  // PIN code, low byte
    rig.image()[83] = 0x05;  // network address
    rig.Run(command::WriteConfig);
    EXPECT_EQ(rig.req().Status, 0);
    const auto writes = rig.FramesWith(kOpWrite);
    ASSERT_EQ(writes.size(), 1u);
    // 55 01 FE, 0C 81, 06 = 4 bytes + address, 00 50 address 80, 12 00 00 05, checksum
    Bytes expect = {0x55, 0x01, 0xFE, 0x0C, 0x81, 0x06, 0x00, 0x50, 0x12, 0x00, 0x00, 0x05};
    expect.push_back(FrameChecksum(expect.data(), expect.size()));
    EXPECT_EQ(Hex(writes[0]), Hex(expect));
    EXPECT_EQ(rig.areas->ProgressCell.load(), 100);
}

TEST(LinkWriteConfig, RewriteAllSends111Windows) {
    LinkRig rig;
    for (std::size_t i = 0; i < kImageSize; ++i)
        rig.image()[i] = static_cast<std::uint8_t>(i);
    std::memcpy(rig.shadow(), rig.image(), kImageSize);
    rig.StartTcp(command::WriteConfig);
    rig.req().RewriteAll = 1;
    rig.engine->RunPass();
    EXPECT_EQ(rig.req().Status, 0);
    const auto writes = rig.FramesWith(kOpWrite);
    ASSERT_EQ(writes.size(), 111u);
    for (std::size_t k = 0; k < 110; ++k) {
        ASSERT_EQ(writes[k][5], 17 + 2) << k;
        ASSERT_EQ(test::FakeController::Be(writes[k], 6, 2), 76 + 17 * k) << k;
    }
    EXPECT_EQ(writes[110][5], 9 + 2);
    EXPECT_EQ(test::FakeController::Be(writes[110], 6, 2), 1946u);
    EXPECT_EQ(std::memcmp(rig.controller.image.data() + 76, rig.image() + 76, 1879), 0);
}

TEST(LinkWriteConfig, UnacknowledgedWindowFailsAndTheRestGoesOn) {
    LinkRig rig;
    rig.image()[100] = 1;   // window 1 (93..109)
    rig.image()[1900] = 2;  // a later window
    rig.controller.tamper = [](RxStream& r, int index, const Bytes&) {
        if (index == 0) r.resize(6);  // a 6-byte acknowledge is not one
    };
    rig.Run(command::WriteConfig);
    EXPECT_EQ(rig.req().Status, link_status::NotAcknowledged);
    EXPECT_EQ(rig.req().ErrorText, "Ошибка записи конфигурации!");
    EXPECT_EQ(rig.req().ErrorCount, 1);
    EXPECT_EQ(rig.FramesWith(kOpWrite).size(), 2u);
    EXPECT_EQ(rig.controller.image[1900], 2);
}

TEST(LinkWriteBlock, AcknowledgeNeedsSevenBytesWithAValidChecksum) {
    const struct {
        const char* name;
        std::function<void(RxStream&)> spoil;
        bool ok;
    } cases[] = {
        {"seven bytes", [](RxStream&) {}, true},
        {"six bytes", [](RxStream& r) { r.resize(6); }, false},
        // The first byte is not checked, only the sum.
        {"first byte not 170",
         [](RxStream& r) {
             *r[0] = 0x00;
             *r[6] = static_cast<std::uint8_t>(*r[6] + 170);
         },
         true},
        {"bad checksum", [](RxStream& r) { *r[6] ^= 1; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig rig;
        rig.controller.tamper = [&](RxStream& r, int, const Bytes&) { c.spoil(r); };
        PutU32(rig.image(), addr::DevNumber, 500123);
        rig.Run(command::WriteSerial);
        EXPECT_EQ(rig.req().Status, c.ok ? 0 : link_status::NotAcknowledged);
        EXPECT_EQ(rig.req().ErrorText, c.ok ? "" : "Ошибка записи серийного номера!");
        EXPECT_EQ(rig.areas->ProgressCell.load(), c.ok ? 100 : 0);
        // Writes are not retried.
        EXPECT_EQ(rig.FramesWith(kOpWrite).size(), 1u);
        EXPECT_EQ(U32(rig.controller.image.data(), addr::DevNumber), 500123u);
    }
}

TEST(LinkSetClock, SundayFirstOfMarch2009) {
    LinkRig rig;
    rig.now = LocalTime{2009, 3, 1, 0, 14, 5, 9};
    rig.image()[7] = 0x5A;
    rig.Run(command::SetClock);
    EXPECT_EQ(rig.req().Status, 0);
    const auto writes = rig.FramesWith(kOpWrite);
    ASSERT_EQ(writes.size(), 1u);
    // 55 01 FE 0C 81, 0A = 8 bytes + address, 00 00 address 0,
    // 09 s, 05 min, 14 h, 00 Sunday, 01 day, 03 month, 09 year, 5A the image's byte 7, 8B
    EXPECT_EQ(Hex(writes[0]), "55 01 FE 0C 81 0A 00 00 09 05 14 00 01 03 09 5A 8B");
    EXPECT_EQ(rig.areas->ProgressCell.load(), 100);
    EXPECT_EQ(rig.captions.size(), 2u);  // after the write and once more
    // A Saturday is 6.
    rig.now = LocalTime{2024, 12, 28, 6, 23, 59, 58};
    rig.Run(command::SetClock);
    EXPECT_EQ(Hex(Bytes(rig.image(), rig.image() + 7)), "58 59 23 06 28 12 24");
}

TEST(LinkSetClock, UnacknowledgedIsReported) {
    LinkRig rig;
    rig.controller.tamper = [](RxStream& r, int, const Bytes&) { r.clear(); };
    rig.Run(command::SetClock);
    EXPECT_EQ(rig.req().Status, link_status::NotAcknowledged);
    EXPECT_EQ(rig.req().ErrorText, "Ошибка записи времени!");
    EXPECT_EQ(rig.req().ErrorCount, 1);
}

TEST(LinkEmulatorStep, WritesTwiceAndReadsFiveBytesOfTheSelectedCircuit) {
    for (int c : {0, 1}) {
        SCOPED_TRACE(c);
        LinkRig rig;
        FillImage(rig);
        rig.areas->SelectedCircuit = c;
        PutI16(rig.image(), CircuitField(c, rec::T11), 2150);
        rig.image()[addr::EmulationFlag] = 1;
        rig.StartTcp(command::EmulatorStep, 5);
        rig.controller.netAddr = 5;
        rig.engine->RunPass();
        ASSERT_EQ(rig.req().Status, 0) << rig.req().ErrorText;
        const auto writes = rig.FramesWith(kOpWrite);
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(test::FakeController::Be(writes[0], 6, 2), 105u + 215u * c);
        EXPECT_EQ(writes[0][5], 2 + 2);
        EXPECT_EQ(test::FakeController::Be(writes[1], 6, 2), 1699u);
        EXPECT_EQ(writes[1][5], 1 + 2);
        const auto reads = rig.FramesWith(kOpRead);
        ASSERT_EQ(reads.size(), 1u);
        if (c == 0) {  // 55 05 FA, 0C 01 06, address 146, count 5, checksum 01
            EXPECT_EQ(Hex(reads[0]), "55 05 FA 0C 01 06 00 00 00 92 00 05 01");
        } else {
            EXPECT_EQ(test::FakeController::Be(reads[0], 6, 4), 146u + 215u);
        }
        // The five data bytes and the checksum at the start of the destination.
        const int a = 146 + 215 * c;
        EXPECT_EQ(std::memcmp(rig.areas->ReceiveArea.data(), rig.controller.image.data() + a, 5),
                  0);
        EXPECT_EQ(rig.areas->ReceiveArea[5], rig.req().RxBuffer[11]);
        EXPECT_EQ(rig.areas->ProgressCell.load(), 100);
    }
}

TEST(LinkEmulatorStep, FailedWriteStopsAndFailedReadIsNotRetried) {
    {
        LinkRig rig;
        rig.controller.tamper = [](RxStream& r, int index, const Bytes&) {
            if (index == 1) r.clear();
        };
        rig.Run(command::EmulatorStep);
        EXPECT_EQ(rig.req().Status, link_status::NotAcknowledged);
        EXPECT_EQ(rig.req().ErrorText, "Ошибка записи!");
        EXPECT_TRUE(rig.FramesWith(kOpRead).empty());
    }
    {
        LinkRig rig;
        rig.controller.tamper = [](RxStream& r, int index, const Bytes&) {
            if (index == 2) *r[0] = 0x15;
        };
        rig.Run(command::EmulatorStep);
        EXPECT_EQ(rig.req().Status, link_status::BadImageHeader);
        EXPECT_EQ(rig.req().ErrorText, "Неверный заголовок ответа: 21 вместо 170");
        EXPECT_EQ(rig.FramesWith(kOpRead).size(), 1u);
    }
}

TEST(LinkServiceCommand, WritesTheCodeThenReadsAsCommandOne) {
    const struct {
        int cmd;
        std::uint8_t code;
    } cases[] = {{8, 1}, {9, 2}, {10, 3}, {11, 4}, {12, 5}, {261, 254}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cmd);
        LinkRig rig;
        std::uint8_t seen = 0;
        rig.controller.tamper = [&](RxStream&, int index, const Bytes&) {
            if (index == 0) seen = rig.controller.image[addr::ServiceCommand];
        };
        rig.Run(c.cmd);
        EXPECT_EQ(rig.req().Status, 0);
        EXPECT_EQ(rig.req().Command, command::ReadCurrent);
        const auto writes = rig.FramesWith(kOpWrite);
        ASSERT_EQ(writes.size(), 1u);
        // 55 01 FE 0C 81, 03 = 1 byte + address, 00 60 address 96, the code, checksum
        Bytes expect = {0x55, 0x01, 0xFE, 0x0C, 0x81, 0x03, 0x00, 0x60, c.code};
        expect.push_back(FrameChecksum(expect.data(), expect.size()));
        EXPECT_EQ(Hex(writes[0]), Hex(expect));
        EXPECT_EQ(seen, c.code);
        EXPECT_EQ(rig.image()[addr::ServiceCommand], 0);
        EXPECT_EQ(rig.FramesWith(kOpRead).size(), 1u);
        EXPECT_EQ(rig.areas->ReceiveArea[0], 170);
    }
    // Erasing the archives at address 1 is the frame 55 01 FE 0C 81 03 00 60 02 B9.
    LinkRig rig;
    rig.Run(command::ServiceEraseArchives);
    EXPECT_EQ(Hex(rig.FramesWith(kOpWrite).at(0)), "55 01 FE 0C 81 03 00 60 02 B9");
}

TEST(LinkServiceCommand, CancelAfterTheWriteStaysACancel) {
    // The user stops the command just after the service byte was acknowledged (here: from the
    // caption step that follows the acknowledge). Turning the command into a read must not undo
    // that stop.
    LinkRig rig;
    rig.engine->SetShowLinkText([&] { rig.req().Command = 0; });
    rig.Run(command::ServiceEraseArchives);
    EXPECT_EQ(rig.req().Status, link_status::Cancelled);
    EXPECT_EQ(rig.req().Command, 0);
    EXPECT_EQ(rig.FramesWith(kOpWrite).size(), 1u);
    EXPECT_TRUE(rig.FramesWith(kOpRead).empty());
}

TEST(LinkServiceCommand, FailureLeavesTheByteAtZeroAndReadsNothing) {
    LinkRig rig;
    rig.controller.tamper = [](RxStream& r, int, const Bytes&) { r.resize(3); };
    rig.Run(command::ServiceReboot);
    EXPECT_EQ(rig.req().Status, link_status::NotAcknowledged);
    EXPECT_EQ(rig.req().ErrorText, "Ошибка выполнения команды");
    EXPECT_EQ(rig.req().ErrorCount, 1);
    EXPECT_EQ(rig.req().Command, command::ServiceReboot);
    EXPECT_EQ(rig.image()[addr::ServiceCommand], 0);
    EXPECT_TRUE(rig.FramesWith(kOpRead).empty());
}

TEST(LinkCommands, OtherNumbersOnlyOpenAndClose) {
    for (int cmd : {2, 13, 100, 260}) {
        SCOPED_TRACE(cmd);
        LinkRig rig;
        rig.Run(cmd);
        EXPECT_EQ(rig.req().Status, 0);
        EXPECT_TRUE(rig.controller.frames.empty());
        EXPECT_EQ(rig.tcp.line.out, FromText("ATE0Q1\r"));
    }
}

}  // namespace
}  // namespace vir05
