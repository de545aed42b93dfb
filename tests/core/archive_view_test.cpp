// The archive grid rows and the chart tables built from the periodic archive, and the chart
// tables of cycle mode built from the current values.
#include "core/archive_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "model/bytes.h"
#include "model/layout.h"

namespace vir05 {
namespace {

struct Temps {
    int T11 = 0, T2 = 0, Tk = 0, Tn = 0, Real = 0, Base = 0;
    std::uint8_t Klap = 0;
    std::uint16_t Errors = 0;
};

// Packs a circuit sample as the controller stores it: six 12-bit temperatures in tenths, two to
// every three bytes (the first in the low 12 bits, the second in the high 12 bits), then the
// valve byte and the error word.
void PutSample(std::uint8_t* p, const Temps& t) {
    auto pair = [](std::uint8_t* q, int lo, int hi) {
        q[0] = static_cast<std::uint8_t>(lo & 0xFF);
        q[1] = static_cast<std::uint8_t>(((lo >> 8) & 0x0F) | ((hi & 0x0F) << 4));
        q[2] = static_cast<std::uint8_t>((hi >> 4) & 0xFF);
    };
    pair(p + 0, t.T11, t.T2);
    pair(p + 3, t.Tk, t.Tn);
    pair(p + 6, t.Real, t.Base);
    p[9] = t.Klap;
    PutU16(p, 10, t.Errors);
}

void PutTime(std::uint8_t* r, int year, int month, int day, int hour, int minute, int second) {
    PutU16(r, 0, static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2));
    PutU16(r, 2, static_cast<std::uint16_t>((year - 2000) << 9 | month << 5 | day));
}

class ArchiveDataTest : public ::testing::Test {
  protected:
    std::uint8_t* Record(int numSystems, int slot) {
        return archive.data() + arch::Periodic + slot * ArchiveStride(numSystems);
    }
    // Record `slot` of a two-circuit archive with one sample per circuit.
    void PutTwo(int slot, int hour, int minute, const Temps& first, const Temps& second) {
        std::uint8_t* r = Record(2, slot);
        PutTime(r, 2024, 3, 5, hour, minute, 0);
        PutSample(r + 4, first);
        PutSample(r + 16, second);
    }
    std::string Cell(std::size_t row, int column) const { return data->CellText(row, column); }

    std::vector<std::uint8_t> archive = std::vector<std::uint8_t>(kArchiveSize, 0);
    std::unique_ptr<ArchiveData> data = std::make_unique<ArchiveData>();
};

TEST_F(ArchiveDataTest, OneCircuitRecordByteForByte) {
    // One-circuit record, 16 bytes:
    //   A4 70        time 0x70A4: hour 14, minute 5, seconds/2 4 -> 14:05:08
    //   61 12        date 0x1261: year 2009, month 3, day 1
    //   D7 20 F4     T11 0x0D7 = 215 (21.5), T2 0xF42 = -190 (-19.0)
    //   30 88 7F     Tk 0x830 = -2000 (no value), Tn 0x7F8 = 2040 (204.0)
    //   23 E1 FC     Real 0x123 = 291 (29.1), Base 0xFCE = -50 (-5.0)
    //   C8           Klap 200
    //   05 80        Errors 0x8005: bits 0, 2 and 15
    const std::uint8_t record[16] = {0xA4, 0x70, 0x61, 0x12, 0xD7, 0x20, 0xF4, 0x30,
                                     0x88, 0x7F, 0x23, 0xE1, 0xFC, 0xC8, 0x05, 0x80};
    std::memcpy(Record(1, 100), record, sizeof record);
    data->Fill(archive.data(), 1, 0);

    ASSERT_EQ(data->Rows().size(), 1u);
    const std::vector<std::string> expected = {"1",      "01.03.2009 14:05:08",
                                               "21.5",   "-19",
                                               "---",    "---",
                                               "",       "29.1",
                                               "-5",     "200",
                                               "1,3,16", "",
                                               "",       "",
                                               "",       ""};
    ASSERT_EQ(expected.size(), std::size_t{kArchiveGridColumns});
    for (int c = 0; c < kArchiveGridColumns; ++c)
        EXPECT_EQ(Cell(0, c), expected[std::size_t(c)]) << "column " << c;

    ASSERT_EQ(data->Table(0).size(), 1u);
    const ChartRecord& r = data->Table(0)[0];
    EXPECT_EQ(r.DateTime, (ChartStamp{2009, 3, 1, 14, 5, 8}));
    EXPECT_DOUBLE_EQ(r.T11, 21.5);
    EXPECT_DOUBLE_EQ(r.T2, -19.0);
    EXPECT_FALSE(HasValue(r.Tk));  // -2000 is the no-value code
    EXPECT_DOUBLE_EQ(r.Tn, 204.0);
    EXPECT_FALSE(HasValue(r.T21));  // the archive holds no T21
    EXPECT_DOUBLE_EQ(r.Real, 29.1);
    EXPECT_DOUBLE_EQ(r.Base, -5.0);
    EXPECT_DOUBLE_EQ(r.Klap, 200);
    EXPECT_TRUE(data->Table(1).empty());
    EXPECT_EQ(&data->Shown(), &data->Table(0));
}

TEST_F(ArchiveDataTest, TitlesOfTheGrid) {
    const auto& t = ArchiveGridTitles();
    const char* expected[kArchiveGridColumns] = {
        "N",       "Время Дата", "Т11",    "Т2", "Тк", "Тн", "Т21", "Значение",
        "Задание", "Клапан",     "Ошибки", "",   "",   "",   "",    ""};
    for (int c = 0; c < kArchiveGridColumns; ++c)
        EXPECT_EQ(t[std::size_t(c)], expected[c]) << c;
}

// The grid shows a temperature only within -100.00..200.00; the table keeps every value above
// the no-value code. Base has no such code.
TEST_F(ArchiveDataTest, NoValueRulesOfGridAndTable) {
    struct Case {
        int packed;
        const char* grid;
        bool inTable;
        double table;
    } cases[] = {
        {2047, "---", true, 204.7},   {2000, "200", true, 200.0},   {-1000, "-100", true, -100.0},
        {-1001, "---", true, -100.1}, {-1999, "---", true, -199.9}, {-2000, "---", false, 0},
        {-2048, "---", false, 0},     {0, "0", true, 0.0},          {5, "0.5", true, 0.5},
    };
    int slot = 0;
    for (const Case& c : cases) {
        Temps t;
        t.T11 = t.T2 = t.Tk = t.Tn = t.Real = t.Base = c.packed;
        std::uint8_t* r = Record(1, slot);
        PutTime(r, 2024, 1, 1, 1, slot, 0);
        PutSample(r + 4, t);
        ++slot;
    }
    data->Fill(archive.data(), 1, 0);
    ASSERT_EQ(data->Rows().size(), std::size(cases));
    ASSERT_EQ(data->Table(0).size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.packed);
        for (int column : {2, 3, 4, 5, 7, 8})
            EXPECT_EQ(Cell(i, column), c.grid) << "column " << column;
        const ChartRecord& r = data->Table(0)[i];
        for (double v : {r.T11, r.T2, r.Tk, r.Tn, r.Real}) {
            EXPECT_EQ(HasValue(v), c.inTable);
            if (c.inTable) {
                EXPECT_NEAR(v, c.table, 1e-9);
            }
        }
        EXPECT_NEAR(r.Base, c.packed * 0.1, 1e-9);
    }
}

TEST_F(ArchiveDataTest, ErrorsColumn) {
    struct Case {
        std::uint16_t errors;
        const char* text;
    } cases[] = {
        {0x0000, ""},     {0x0001, "1"},     {0x8005, "1,3,16"},
        {0x2001, "1,14"}, {0xC000, "15,16"}, {0xFFFF, "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorBitNumbers(c.errors), c.text) << c.errors;

    Temps t;
    t.Errors = 0x8005;
    PutTime(Record(1, 0), 2024, 1, 1, 1, 0, 0);
    PutSample(Record(1, 0) + 4, t);
    data->Fill(archive.data(), 1, 0);
    EXPECT_EQ(Cell(0, 10), "1,3,16");
}

// Records are shown in time order whatever their slots; slots that hold no record, or a stamp
// that is no real date, give no row and are not counted.
TEST_F(ArchiveDataTest, TimeOrderAndSkippedSlots) {
    std::memset(archive.data() + arch::Periodic, 0xFF, arch::PeriodicSize);  // erased
    struct Slot {
        int slot, year, month, day, hour, minute, second;
    } slots[] = {
        {7, 2024, 3, 5, 10, 12, 0},    // third
        {2, 2024, 3, 5, 0, 0, 0},      // first: midnight shows the date alone
        {5, 2024, 3, 5, 10, 2, 58},    // second
        {0, 2025, 1, 1, 8, 0, 0},      // fifth: a later year sorts after
        {3, 2024, 12, 31, 23, 59, 0},  // fourth
        {9, 2023, 2, 29, 12, 0, 0},    // 29 February of a common year: skipped
        {10, 2100, 2, 29, 12, 0, 0},   // 2100 is not a leap year: skipped
        {11, 2024, 4, 31, 12, 0, 0},   // 31 April: skipped
    };
    for (const Slot& s : slots) {
        std::memset(Record(1, s.slot), 0, 16);
        PutTime(Record(1, s.slot), s.year, s.month, s.day, s.hour, s.minute, s.second);
    }
    // A zeroed slot (day 0) and one with hour 24 fail the controller's rule.
    std::memset(Record(1, 20), 0, 16);
    std::memset(Record(1, 21), 0, 16);
    PutTime(Record(1, 21), 2024, 3, 5, 24, 0, 0);

    data->Fill(archive.data(), 1, 0);
    const std::vector<std::string> stamps = {"05.03.2024", "05.03.2024 10:02:58",
                                             "05.03.2024 10:12:00", "31.12.2024 23:59:00",
                                             "01.01.2025 8:00:00"};
    ASSERT_EQ(data->Rows().size(), stamps.size());
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_EQ(Cell(i, 0), std::to_string(i + 1));
        EXPECT_EQ(Cell(i, 1), stamps[i]);
    }
    ASSERT_EQ(data->Table(0).size(), stamps.size());
    for (std::size_t i = 1; i < stamps.size(); ++i)
        EXPECT_LT(SecondsSince2000(data->Table(0)[i - 1].DateTime),
                  SecondsSince2000(data->Table(0)[i].DateTime));
}

TEST_F(ArchiveDataTest, EmptyArchivesGiveNoRows) {
    for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        std::memset(archive.data(), fill, archive.size());
        for (int n : {1, 2}) {
            data->Fill(archive.data(), n, 0);
            EXPECT_TRUE(data->Rows().empty()) << int(fill) << " " << n;
            EXPECT_TRUE(data->Table(0).empty());
            EXPECT_TRUE(data->Table(1).empty());
            EXPECT_EQ(data->CellText(0, 0), "");
        }
    }
}

// With two circuits a record holds both samples; switching the circuit shows the second sample
// of the same records with the same numbers and times, and the other chart table is emptied.
TEST_F(ArchiveDataTest, TwoCircuitsShowTheSelectedSample) {
    Temps a1{.T11 = 215, .Klap = 10, .Errors = 0x0001};
    Temps a2{.T11 = 455, .Klap = 90, .Errors = 0x0002};
    Temps b1{.T11 = 220, .Klap = 11};
    Temps b2{.T11 = 460, .Klap = 91};
    PutTwo(40, 11, 0, b1, b2);
    PutTwo(3, 10, 0, a1, a2);

    data->Fill(archive.data(), 2, 0);
    ASSERT_EQ(data->Rows().size(), 2u);
    EXPECT_EQ(Cell(0, 2), "21.5");
    EXPECT_EQ(Cell(0, 9), "10");
    EXPECT_EQ(Cell(0, 10), "1");
    EXPECT_EQ(Cell(1, 2), "22");
    EXPECT_EQ(data->Table(0).size(), 2u);
    EXPECT_TRUE(data->Table(1).empty());

    data->Fill(archive.data(), 2, 1);
    ASSERT_EQ(data->Rows().size(), 2u);
    EXPECT_EQ(Cell(0, 0), "1");
    EXPECT_EQ(Cell(0, 1), "05.03.2024 10:00:00");
    EXPECT_EQ(Cell(0, 2), "45.5");
    EXPECT_EQ(Cell(0, 9), "90");
    EXPECT_EQ(Cell(0, 10), "2");
    EXPECT_EQ(Cell(1, 0), "2");
    EXPECT_EQ(Cell(1, 2), "46");
    EXPECT_TRUE(data->Table(0).empty());
    ASSERT_EQ(data->Table(1).size(), 2u);
    EXPECT_DOUBLE_EQ(data->Table(1)[0].T11, 45.5);
    EXPECT_DOUBLE_EQ(data->Table(1)[1].Klap, 91);
    EXPECT_EQ(&data->Shown(), &data->Table(1));
}

// One circuit and the second circuit selected: the archive holds no sample for it. The rows
// keep their number and time and show no value, in particular not the bytes of the next record.
TEST_F(ArchiveDataTest, OneCircuitWithTheSecondSelected) {
    Temps t{.T11 = 215, .Klap = 50, .Errors = 0x0004};
    for (int slot = 0; slot < 3; ++slot) {
        PutTime(Record(1, slot), 2024, 3, 5, 10, slot, 0);
        PutSample(Record(1, slot) + 4, t);
    }
    data->Fill(archive.data(), 1, 1);
    ASSERT_EQ(data->Rows().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Cell(i, 0), std::to_string(i + 1));
        EXPECT_FALSE(Cell(i, 1).empty());
        for (int c = 2; c < kArchiveGridColumns; ++c)
            EXPECT_EQ(Cell(i, c), "") << i << " " << c;
    }
    EXPECT_TRUE(data->Table(0).empty());
    EXPECT_TRUE(data->Table(1).empty());
}

// Any value of NumSystems but 1 reads the archive as two-circuit records.
TEST_F(ArchiveDataTest, CircuitCountOtherThanOneMeansTwo) {
    PutTwo(0, 10, 0, Temps{.T11 = 100}, Temps{.T11 = 200});
    PutTwo(1, 11, 0, Temps{.T11 = 101}, Temps{.T11 = 201});
    for (int n : {0, 2, 7}) {
        data->Fill(archive.data(), n, 1);
        ASSERT_EQ(data->Rows().size(), 2u) << n;
        EXPECT_EQ(Cell(0, 2), "20") << n;
    }
}

// A full one-circuit archive fills every row; a refill reuses the storage of the last one.
TEST_F(ArchiveDataTest, FullArchiveRefillsInPlace) {
    for (int slot = 0; slot < ArchiveSlotCount(1); ++slot) {
        std::uint8_t* r = Record(1, slot);
        // One record every ten minutes from 2024-01-01, slots written as a ring from slot 5000.
        const int k = (slot + ArchiveSlotCount(1) - 5000) % ArchiveSlotCount(1);
        const int minutes = k * 10;
        PutTime(r, 2024, 1 + minutes / (60 * 24 * 31), 1 + (minutes / (60 * 24)) % 31,
                (minutes / 60) % 24, minutes % 60, 0);
        PutSample(r + 4, Temps{.T11 = k % 1000});
    }
    data->Fill(archive.data(), 1, 0);
    ASSERT_EQ(data->Rows().size(), kArchiveGridMaxRows);
    ASSERT_EQ(data->Table(0).size(), kArchiveGridMaxRows);
    EXPECT_EQ(Cell(0, 1), "01.01.2024");
    EXPECT_EQ(Cell(kArchiveGridMaxRows - 1, 0), std::to_string(kArchiveGridMaxRows));
    const ArchiveGridRow* rows = data->Rows().data();
    const ChartRecord* table = data->Table(0).data();
    data->Fill(archive.data(), 1, 0);
    EXPECT_EQ(data->Rows().data(), rows);
    EXPECT_EQ(data->Table(0).data(), table);
    EXPECT_EQ(data->Rows().size(), kArchiveGridMaxRows);
}

TEST(ArchiveStamp, SecondsAndPlausibility) {
    EXPECT_EQ(SecondsSince2000(ChartStamp{2000, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(SecondsSince2000(ChartStamp{2000, 1, 2, 1, 2, 3}), 86400 + 3723);
    // 2000 is a leap year, 2100 is not.
    EXPECT_EQ(SecondsSince2000(ChartStamp{2000, 3, 1, 0, 0, 0}), 60 * 86400);
    EXPECT_EQ(SecondsSince2000(ChartStamp{2100, 3, 1, 0, 0, 0}) -
                  SecondsSince2000(ChartStamp{2100, 2, 28, 0, 0, 0}),
              86400);
    EXPECT_TRUE(StampIsPlausible(2024, 2, 29, 23, 59, 59));
    EXPECT_FALSE(StampIsPlausible(2023, 2, 29, 0, 0, 0));
    EXPECT_FALSE(StampIsPlausible(2024, 0, 1, 0, 0, 0));
    EXPECT_FALSE(StampIsPlausible(2024, 1, 0, 0, 0, 0));
    EXPECT_FALSE(StampIsPlausible(2024, 1, 1, 24, 0, 0));
    EXPECT_FALSE(StampIsPlausible(2024, 1, 1, 0, 60, 0));
    EXPECT_FALSE(StampIsPlausible(2024, 1, 1, 0, 0, 60));
}

// Cycle mode: the current values of each read, for both circuits.
class CycleModeTest : public ArchiveDataTest {
  protected:
    void SetClock(std::uint8_t year, std::uint8_t month, std::uint8_t day, std::uint8_t hour,
                  std::uint8_t minute, std::uint8_t second) {
        image[addr::ClockYear] = year;
        image[addr::ClockMonth] = month;
        image[addr::ClockDay] = day;
        image[addr::ClockHour] = hour;
        image[addr::ClockMin] = minute;
        image[addr::ClockSec] = second;
    }
    void SetCurrent(int c, std::int16_t t11, std::int16_t base, std::int8_t klap) {
        std::uint8_t* r = image.data() + CircuitRecordAddr(c);
        PutI16(r, rec::T11, t11);
        PutI16(r, rec::T2, t11);
        PutI16(r, rec::Tk, t11);
        PutI16(r, rec::Tn, t11);
        PutI16(r, rec::T21, t11);
        PutI16(r, rec::Real, t11);
        PutI16(r, rec::Base, base);
        PutI8(r, rec::KlapPercent, klap);
    }
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(kImageSize, 0);
};

TEST_F(CycleModeTest, AppendsCurrentValuesOfBothCircuits) {
    SetClock(0x24, 0x03, 0x05, 0x14, 0x30, 0x59);
    SetCurrent(0, 2150, -9999, -5);  // 21.50; -99.99 still has a value; the valve signed
    SetCurrent(1, -10000, 4520, 100);
    data->SetCycleMode(true);
    ASSERT_TRUE(data->AppendCurrent(image.data()));

    ASSERT_EQ(data->Table(0).size(), 1u);
    ASSERT_EQ(data->Table(1).size(), 1u);
    const ChartRecord& a = data->Table(0)[0];
    EXPECT_EQ(a.DateTime, (ChartStamp{2024, 3, 5, 14, 30, 59}));
    for (double v : {a.T11, a.T2, a.Tk, a.Tn, a.T21, a.Real})
        EXPECT_DOUBLE_EQ(v, 21.5);
    EXPECT_DOUBLE_EQ(a.Base, -99.99);
    EXPECT_DOUBLE_EQ(a.Klap, -5);
    const ChartRecord& b = data->Table(1)[0];
    for (double v : {b.T11, b.T2, b.Tk, b.Tn, b.T21, b.Real})
        EXPECT_FALSE(HasValue(v));  // below -9999: no value
    EXPECT_DOUBLE_EQ(b.Base, 45.2);
    EXPECT_DOUBLE_EQ(b.Klap, 100);
}

TEST_F(CycleModeTest, ClockDigitsThatAreNotDecimal) {
    struct Case {
        std::uint8_t year, month, day, hour, minute, second;
        bool appended;
        ChartStamp stamp;
    } cases[] = {
        // Non-decimal digits give day and month 1, year 2000, the time fields 0.
        {0xAA, 0x1F, 0xB0, 0xFF, 0x3C, 0x0A, true, {2000, 1, 1, 0, 0, 0}},
        {0x24, 0x02, 0x29, 0x23, 0x59, 0x59, true, {2024, 2, 29, 23, 59, 59}},
        // Decimal digits that are no real date or time: the record cannot be placed.
        {0x24, 0x02, 0x00, 0x10, 0x00, 0x00, false, {}},  // day 00
        {0x23, 0x02, 0x29, 0x10, 0x00, 0x00, false, {}},  // 29 February 2023
        {0x24, 0x13, 0x01, 0x10, 0x00, 0x00, false, {}},  // month 13
        {0x24, 0x01, 0x01, 0x24, 0x00, 0x00, false, {}},  // hour 24
        {0x24, 0x01, 0x01, 0x10, 0x60, 0x00, false, {}},  // minute 60
    };
    data->SetCycleMode(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.day) << "." << int(c.month));
        SetClock(c.year, c.month, c.day, c.hour, c.minute, c.second);
        const std::size_t before = data->Table(0).size();
        EXPECT_EQ(data->AppendCurrent(image.data()), c.appended);
        ASSERT_EQ(data->Table(0).size(), before + (c.appended ? 1 : 0));
        ASSERT_EQ(data->Table(1).size(), data->Table(0).size());
        if (c.appended) {
            EXPECT_EQ(data->Table(0).back().DateTime, c.stamp);
        }
    }
}

// Each table keeps the newest 2000 records: the 2001st append removes the first one.
TEST_F(CycleModeTest, TablesKeepTheNewestRecords) {
    data->SetCycleMode(true);
    SetClock(0x24, 0x03, 0x05, 0x00, 0x00, 0x00);
    auto appendAt = [&](int i) {
        image[addr::ClockHour] = ToBcd(i / 3600);
        image[addr::ClockMin] = ToBcd(i / 60 % 60);
        image[addr::ClockSec] = ToBcd(i % 60);
        SetCurrent(0, static_cast<std::int16_t>(i), 0, 0);
        ASSERT_TRUE(data->AppendCurrent(image.data()));
    };
    for (int i = 0; i < 2000; ++i)
        appendAt(i);
    ASSERT_EQ(data->Table(0).size(), 2000u);
    EXPECT_DOUBLE_EQ(data->Table(0).front().T11, 0.0);

    appendAt(2000);
    ASSERT_EQ(data->Table(0).size(), 2000u);
    ASSERT_EQ(data->Table(1).size(), 2000u);
    EXPECT_DOUBLE_EQ(data->Table(0).front().T11, 0.01);  // the first record is gone
    EXPECT_DOUBLE_EQ(data->Table(0).back().T11, 20.0);
    EXPECT_EQ(data->Table(0).back().DateTime, (ChartStamp{2024, 3, 5, 0, 33, 20}));
}

// In cycle mode a fill rebuilds the grid but leaves the collected values in the chart tables,
// also when the archive holds records; leaving cycle mode rebuilds them from the archive.
TEST_F(CycleModeTest, FillKeepsCollectedValuesUntilCycleModeEnds) {
    PutTwo(0, 10, 0, Temps{.T11 = 100}, Temps{.T11 = 200});
    data->SetCycleMode(true);
    SetClock(0x24, 0x03, 0x05, 0x12, 0x00, 0x00);
    SetCurrent(0, 2150, 0, 0);
    SetCurrent(1, 3150, 0, 0);
    ASSERT_TRUE(data->AppendCurrent(image.data()));
    for (int circuit : {0, 1, 0}) {
        data->Fill(archive.data(), 2, circuit);
        EXPECT_EQ(data->Rows().size(), 1u);
        ASSERT_EQ(data->Table(0).size(), 1u);
        ASSERT_EQ(data->Table(1).size(), 1u);
        EXPECT_DOUBLE_EQ(data->Shown()[0].T11, circuit == 0 ? 21.5 : 31.5);
    }

    data->SetCycleMode(false);
    data->Fill(archive.data(), 2, 1);
    ASSERT_EQ(data->Table(1).size(), 1u);
    EXPECT_DOUBLE_EQ(data->Table(1)[0].T11, 20.0);  // from the archive
    EXPECT_TRUE(data->Table(0).empty());
}

}  // namespace
}  // namespace vir05
