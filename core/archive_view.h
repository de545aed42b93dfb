// The archive page and the archive chart as plain data: the rows of the archive grid and the
// two chart tables, one per circuit.
//
// The grid keeps the decoded records, not texts: a refill of a full archive (7168 records)
// decodes and sorts without allocating anything per record, and a cell's text is made when it
// is asked for (a view asks only for the cells it shows).
//
// Chart tables hold one record per point in time. Outside cycle mode a fill rebuilds the
// selected circuit's table from the archive and empties the other one; in cycle mode the tables
// collect the current values of successive reads instead (AppendCurrent), keeping the newest
// kCycleKeep records, and a fill leaves them alone.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "model/events.h"
#include "model/layout.h"
#include "model/records.h"

namespace vir05 {

inline constexpr int kArchiveGridColumns = 16;
// The largest number of data rows: one-circuit records of the whole periodic archive.
inline constexpr std::size_t kArchiveGridMaxRows = ArchiveSlotCount(1);
// Cycle mode keeps this many newest records per circuit.
inline constexpr std::size_t kCycleKeep = 2000;

// Column titles: "N", "Время Дата", "Т11", "Т2", "Тк", "Тн", "Т21", "Значение", "Задание",
// "Клапан", "Ошибки", then five untitled columns.
const std::array<std::string_view, kArchiveGridColumns>& ArchiveGridTitles();

// A civil date and time without a time zone, as the controller keeps it.
struct ChartStamp {
    std::int16_t year = 2000;
    std::int8_t month = 1, day = 1, hour = 0, minute = 0, second = 0;
    friend bool operator==(const ChartStamp&, const ChartStamp&) = default;
};
// Seconds from 2000-01-01 00:00:00 of the same clock (no zone, no leap seconds).
std::int64_t SecondsSince2000(const ChartStamp& s);
// A real calendar date (Gregorian, 2100 is not a leap year) and time of day.
bool StampIsPlausible(int year, int month, int day, int hour, int minute, int second);

// A field without a value is NaN.
inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
inline bool HasValue(double v) {
    return !std::isnan(v);
}

// One record of a chart table: degrees Celsius and the valve position in percent.
struct ChartRecord {
    ChartStamp DateTime;
    double T11 = kNoValue, T2 = kNoValue, Tk = kNoValue, Tn = kNoValue, T21 = kNoValue;
    double Klap = kNoValue, Base = kNoValue, Real = kNoValue;
};
using ChartTable = std::vector<ChartRecord>;

// One data row of the archive grid.
struct ArchiveGridRow {
    std::uint32_t number;  // running number of the rows, from 1
    ArchiveTime time;
    CircuitSample sample;
    bool hasSample;  // false: the archive holds no sample for the circuit shown
};

// Column 10: the numbers n + 1 of the bits n set in `errors`, increasing, joined by ",".
std::string ErrorBitNumbers(std::uint16_t errors);

// The date and time text of an archive record; a time of exactly 00:00:00 shows the date alone.
std::string ArchiveStampText(const ArchiveTime& t, const EventStampFormat& format);

// The text of one cell of a data row. Temperatures are shown in tenths of a degree and read
// "---" outside -100.00..200.00; column 6 (no such value in the archive) and the untitled
// columns are empty; a row without a sample shows its number and time only.
std::string ArchiveCellText(const ArchiveGridRow& row, int column, const EventStampFormat& format);

class ArchiveData {
  public:
    ArchiveData();

    // The archive step of a presentation pass. `archive` is ArchiveImage, `numSystems` the
    // normalised circuit count (1, anything else counts as 2), `selectedCircuit` the circuit
    // shown (1 is the second circuit, anything else the first).
    //
    // The grid gets every valid record of the periodic archive in time order: valid by the
    // controller's rule and with a real calendar date (a damaged stamp cannot be placed in
    // time). Outside cycle mode the selected circuit's chart table is rebuilt from the same
    // records and the other table is emptied. With one circuit and the second circuit selected
    // the rows carry their number and time only and the chart table stays empty.
    void Fill(const std::uint8_t* archive, int numSystems, int selectedCircuit);

    // Cycle mode: Fill leaves the chart tables alone, AppendCurrent adds to them. Leaving cycle
    // mode changes nothing until the next Fill rebuilds the tables from the archive.
    void SetCycleMode(bool on) { cycleMode_ = on; }
    bool CycleMode() const { return cycleMode_; }
    // Empties both chart tables (ArchMem1, ArchMem2): cyclic reading starts on an empty chart.
    void ClearTables() {
        table1_.clear();
        table2_.clear();
    }

    // Appends the current values of `image` (DeviceImage after a read) to both tables, for
    // circuit 0 and then circuit 1, and cuts each table to its newest kCycleKeep records. Call
    // it once per completed read. A controller clock that is not a real date and time (after
    // the defaults for non-decimal digits) cannot be placed on the time axis: nothing is
    // appended then and the result is false.
    bool AppendCurrent(const std::uint8_t* image);

    const std::vector<ArchiveGridRow>& Rows() const { return rows_; }
    std::string CellText(std::size_t row, int column,
                         const EventStampFormat& format = EventStampFormat{}) const;

    // ArchMem1 (circuit 0) and ArchMem2 (circuit 1).
    const ChartTable& Table(int circuit) const { return circuit == 1 ? table2_ : table1_; }
    // The table the chart shows: the one of the circuit of the last fill.
    const ChartTable& Shown() const { return Table(selected_); }
    int SelectedCircuit() const { return selected_; }

  private:
    std::vector<ArchiveGridRow> rows_;
    ChartTable table1_, table2_;
    ArchiveOrder order_{};
    int selected_ = 0;
    bool cycleMode_ = false;
};

// The record that cycle mode appends for circuit `circuit`, from the clock and the circuit
// record of `image`; false when the clock is not a real date and time.
bool CurrentChartRecord(const std::uint8_t* image, int circuit, ChartRecord& out);

}  // namespace vir05
