// The text output: header, circuit lines, hourly and daily record sections.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "core/text_output.h"
#include "model/bytes.h"
#include "model/memory.h"
#include "test_util.h"

namespace vir05 {
namespace {

using test::ReadFile;
using test::ScopedTempDir;
using test::SplitCrlf;

struct Stamp {
    int year, month, day, hour, minute, second;
};

class TextOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        areas_.block.fill(0);
        std::uint8_t* img = areas_.DeviceImage();
        img[addr::ClockSec] = 0x42;
        img[addr::ClockMin] = 0x15;
        img[addr::ClockHour] = 0x10;
        img[addr::ClockDay] = 0x10;
        img[addr::ClockMonth] = 0x12;
        img[addr::ClockYear] = 0x26;
        img[addr::NumSystems] = 2;
        PutI32(img, addr::DevNumber, 500001);
        PutU16(img, addr::SoftVer, 107);
        std::uint8_t* r = img + CircuitRecordAddr(0);
        r[rec::Scheme] = 1;
        PutI16(r, rec::T11, 6543);
        PutI16(r, rec::T2, 4210);
        PutI16(r, rec::Tk, 3900);
        PutI16(r, rec::Tn, -543);
        PutI16(r, rec::T21, -32768);
        PutI16(r, rec::G1, -12);
        PutI16(r, rec::Base, 6600);
        PutI16(r, rec::Real, 6543);
        r[rec::T3r] = 95;
        r[rec::T2r] = 70;
        r[rec::T1r] = 150;
        r[rec::Tv] = 20;
        r[rec::Inputs] = 0x50;  // pumps 1 and 3 on
        PutU16(r, rec::Errors, 0x0000);
        std::uint8_t* r2 = img + CircuitRecordAddr(1);
        r2[rec::Scheme] = 4;
        PutU16(r2, rec::Errors, 0x4000);  // a bit with no text still counts as an error
        std::memset(areas_.ArchiveImage() + arch::Periodic, 0xFF, arch::PeriodicSize);
    }

    // A record in slot `slot` of the two-circuit archive.
    void Record(int slot, Stamp s, int t11 = 215, int klap2 = 33) {
        std::uint8_t* r = areas_.ArchiveImage() + arch::Periodic + 32 * slot;
        std::memset(r, 0, 32);
        PutU16(r, 0, static_cast<std::uint16_t>((s.hour << 11) | (s.minute << 5) | (s.second / 2)));
        PutU16(r, 2, static_cast<std::uint16_t>(((s.year - 2000) << 9) | (s.month << 5) | s.day));
        r[4] = static_cast<std::uint8_t>(t11);
        r[5] = static_cast<std::uint8_t>((t11 >> 8) & 0x0F);
        r[16] = 0x00;  // second circuit T11 = -2048 (no value): low 12 bits 0x800
        r[17] = 0x08;
        r[16 + 9] = static_cast<std::uint8_t>(klap2);
    }

    std::string Output() {
        const ImageSnapshot snap = TakeSnapshot(areas_.DeviceImage());
        const TextOutputSource src{snap, areas_.DeviceImage(), areas_.ArchiveImage(),
                                   PanelTimeText(areas_.DeviceImage())};
        std::string out;
        AppendTextOutput(out, src, order_);
        return out;
    }

    // The "Time=" lines of the record sections, with their RecType.
    std::vector<std::string> Sections() {
        std::vector<std::string> got;
        const auto lines = SplitCrlf(Output());
        for (std::size_t i = 0; i + 3 < lines.size(); ++i)
            if (lines[i].rfind("RecType=", 0) == 0)
                got.push_back(lines[i].substr(8) + " " + lines[i + 1].substr(5) + " " +
                              lines[i + 2].substr(5));
        return got;
    }

    static inline MemoryAreas areas_;
    static inline ArchiveOrder order_;
};

TEST_F(TextOutputTest, HeaderAndCircuitLinesExactly) {
    const std::string expected =
        "[0]\r\nDate=10.12.26\r\nTime=10:15:42\r\nNumSystems=2\r\nDevNumber=500001\r\nSoftVer=1."
        "07\r\n"
        "S1Type=1\r\nS1T1=65.43\r\nS1T2=42.1\r\nS1T3=-5.43\r\nS1T4=39\r\nS1T5=-327.68\r\nS1G1=-"
        "12\r\n"
        "S1Tz=66\r\nS1Tr=65.43\r\nS1Tps=95\r\nS1Tos=70\r\nS1Tls=150\r\nS1Tvs=20\r\n"
        "S1Pomp1=1\r\nS1Pomp2=0\r\nS1Pomp3=1\r\nS1Pomp4=0\r\nS1Err=0\r\n"
        "S2Type=4\r\nS2T1=0\r\nS2T2=0\r\nS2T3=0\r\nS2T4=0\r\nS2T5=0\r\nS2G1=0\r\n"
        "S2Tz=0\r\nS2Tr=0\r\nS2Tps=0\r\nS2Tos=0\r\nS2Tls=0\r\nS2Tvs=0\r\n"
        "S2Pomp1=0\r\nS2Pomp2=0\r\nS2Pomp3=0\r\nS2Pomp4=0\r\nS2Err=1\r\n";
    EXPECT_EQ(Output(), expected);  // an erased archive adds no sections
}

TEST_F(TextOutputTest, OneCircuitWritesOnlyCircuitOneAndNoRecords) {
    areas_.DeviceImage()[addr::NumSystems] = 1;
    Record(0, {2026, 12, 1, 9, 52, 0});
    Record(1, {2026, 12, 1, 10, 2, 0});
    const std::string out = Output();
    EXPECT_NE(out.find("NumSystems=1\r\n"), std::string::npos);
    EXPECT_EQ(out.find("S2Type="), std::string::npos);
    EXPECT_EQ(out.find("RecType"), std::string::npos);
}

TEST_F(TextOutputTest, OtherCircuitCountsCountAsTwo) {
    for (std::uint8_t n : {0, 3, 255}) {
        areas_.DeviceImage()[addr::NumSystems] = n;
        Record(0, {2026, 12, 1, 9, 52, 0});
        Record(1, {2026, 12, 1, 10, 2, 0});
        const std::string out = Output();
        EXPECT_NE(out.find("NumSystems=2\r\n"), std::string::npos) << int(n);
        EXPECT_NE(out.find("S2Type=4\r\n"), std::string::npos) << int(n);
        EXPECT_EQ(Sections().size(), 1u) << int(n);  // 10:02 starts a new hour
    }
}

TEST_F(TextOutputTest, HourlyAndDailyPassesPickFirstOfEachHourAndDay) {
    // Slots out of time order: sorting puts 09:52, 10:02, 10:12, 11:02 on 1 Dec, then 2 Dec.
    Record(7, {2026, 12, 1, 10, 12, 0});
    Record(3, {2026, 12, 1, 9, 52, 0});
    Record(100, {2026, 12, 1, 11, 2, 0});
    Record(5, {2026, 12, 1, 10, 2, 0});
    Record(200, {2026, 12, 2, 0, 2, 30});
    const std::vector<std::string> expected = {"H 01.12.26 10:02:00", "H 01.12.26 11:02:00",
                                               "H 02.12.26 00:02:30", "D 02.12.26 00:02:30"};
    EXPECT_EQ(Sections(), expected);
    // The first record in time order is never written, even though it is valid.
    EXPECT_EQ(Output().find("09:52:00"), std::string::npos);
}

TEST_F(TextOutputTest, MonthAndYearTakeNoPartInTheComparison) {
    Record(0, {2026, 2, 5, 10, 0, 0});
    Record(1, {2026, 3, 5, 10, 0, 0});
    EXPECT_TRUE(Sections().empty());
}

TEST_F(TextOutputTest, InvalidRecordsAreSkippedButStillCountAsPredecessor) {
    Record(0, {2026, 12, 1, 9, 0, 0});
    Record(1, {2026, 12, 1, 9, 30, 0});
    // An invalid stamp sorting between them: 9:45 with seconds/2 = 31.
    std::uint8_t* bad = areas_.ArchiveImage() + arch::Periodic + 32 * 2;
    std::memset(bad, 0, 32);
    PutU16(bad, 0, static_cast<std::uint16_t>((9 << 11) | (45 << 5) | 31));
    PutU16(bad, 2, static_cast<std::uint16_t>((26 << 9) | (12 << 5) | 1));
    Record(3, {2026, 12, 1, 10, 0, 0});
    const std::vector<std::string> expected = {"H 01.12.26 10:00:00"};
    EXPECT_EQ(Sections(), expected);
}

TEST_F(TextOutputTest, RecordSectionLinesAndNumbering) {
    Record(0, {2026, 12, 1, 9, 0, 0});
    Record(1, {2026, 12, 1, 10, 0, 0});
    Record(2, {2026, 12, 2, 10, 0, 0}, -53, 7);
    const std::string out = Output();
    const std::string first =
        "\r\n[1]\r\nRecType=H\r\nDate=01.12.26\r\nTime=10:00:00\r\n"
        "S1T1=21.5\r\nS1T2=0\r\nS1T3=0\r\nS1T4=0\r\nS1Klap=0\r\nS1Tz=0\r\nS1Tr=0\r\nS1Err=0\r\n"
        "S2T1=-204.8\r\nS2T2=0\r\nS2T3=0\r\nS2T4=0\r\nS2TKlap=33\r\nS2Tz=0\r\nS2Tr=0\r\nS2Err="
        "0\r\n";
    EXPECT_NE(out.find(first), std::string::npos) << out;
    EXPECT_NE(out.find("\r\n[2]\r\nRecType=H\r\nDate=02.12.26\r\nTime=10:00:00\r\nS1T1=-5.3\r\n"),
              std::string::npos);
    EXPECT_NE(out.find("\r\n[3]\r\nRecType=D\r\nDate=02.12.26\r\nTime=10:00:00\r\nS1T1=-5.3\r\n"),
              std::string::npos);
    EXPECT_NE(out.find("S2TKlap=7\r\n"), std::string::npos);
    EXPECT_EQ(out.find("[5]"), std::string::npos);
}

TEST_F(TextOutputTest, WritesFileDeletesOldOutputAndClosesTheRunLog) {
    ScopedTempDir dir;
    test::WriteFile("def.txt", "old");
    std::filesystem::create_directory("prog");
    RunLog log;
    ASSERT_TRUE(log.Open("def.txt.log"));
    const ImageSnapshot snap = TakeSnapshot(areas_.DeviceImage());
    const TextOutputSource src{snap, areas_.DeviceImage(), areas_.ArchiveImage(), "10:15:42"};
    EXPECT_TRUE(WriteTextOutput("def.txt", "prog/", src, log));
    EXPECT_FALSE(std::filesystem::exists("def.txt"));  // the name as given is deleted
    EXPECT_EQ(ReadFile("prog/def.txt"), Output());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadFile("def.txt.log"), "log end done\r\n");
}

TEST_F(TextOutputTest, UncreatableFileIsReportedInTheRunLog) {
    ScopedTempDir dir;
    RunLog log;
    ASSERT_TRUE(log.Open("out.log"));
    const ImageSnapshot snap = TakeSnapshot(areas_.DeviceImage());
    const TextOutputSource src{snap, areas_.DeviceImage(), areas_.ArchiveImage(), "10:15:42"};
    std::string why;
    EXPECT_FALSE(WriteTextOutput("out.txt", "missing-dir/", src, log, &why));
    // The log says the file was not written, why, and that the run ended in an error.
    const std::string expected =
        "out.txt - (error!) невозможно записать файл!\r\n"
        "(error!) missing-dir/out.txt: нет такого файла или каталога\r\nlog end error\r\n";
    EXPECT_EQ(ReadFile("out.log"), expected);
    EXPECT_EQ(why, "невозможно записать файл missing-dir/out.txt: нет такого файла или каталога");
    // Later outputs write nothing more to the closed log.
    EXPECT_FALSE(WriteTextOutput("out.txt", "missing-dir/", src, log));
    EXPECT_EQ(ReadFile("out.log"), expected);
}

}  // namespace
}  // namespace vir05
