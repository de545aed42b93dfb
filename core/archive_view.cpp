#include "core/archive_view.h"

#include "core/format.h"
#include "model/bytes.h"
#include "model/memory.h"

namespace vir05 {

namespace {

// Current values of a circuit record below this have no value.
constexpr int kCurrentNoValueBelow = -9999;

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

double Tenths(int v) {
    return v * 0.1;
}

// A packed archive temperature above the no-value code, in degrees; no value otherwise.
double ArchiveTemp(int v) {
    return v > kArchiveNoValue ? Tenths(v) : kNoValue;
}

double CurrentTemp(const std::uint8_t* r, int offset) {
    const int v = I16(r, offset);
    return v >= kCurrentNoValueBelow ? v * 0.01 : kNoValue;
}

// A clock byte's two digits as a decimal number, or `fallback` when they are not decimal.
int ClockField(std::uint8_t b, int fallback) {
    return IsBcd(b) ? FromBcd(b) : fallback;
}

ChartStamp StampOf(const ArchiveTime& t) {
    ChartStamp s;
    s.year = static_cast<std::int16_t>(t.Year());
    s.month = static_cast<std::int8_t>(t.Month());
    s.day = static_cast<std::int8_t>(t.Day());
    s.hour = static_cast<std::int8_t>(t.Hour());
    s.minute = static_cast<std::int8_t>(t.Minute());
    s.second = static_cast<std::int8_t>(t.Second());
    return s;
}

ChartRecord ArchiveChartRecord(const ArchiveTime& t, const CircuitSample& s) {
    ChartRecord r;
    r.DateTime = StampOf(t);
    r.T11 = ArchiveTemp(s.T11);
    r.T2 = ArchiveTemp(s.T2);
    r.Tk = ArchiveTemp(s.Tk);
    r.Tn = ArchiveTemp(s.Tn);
    r.Real = ArchiveTemp(s.Real);
    r.Base = Tenths(s.Base);  // the setpoint has no no-value code
    r.Klap = s.Klap;
    return r;
}

}  // namespace

const std::array<std::string_view, kArchiveGridColumns>& ArchiveGridTitles() {
    static constexpr std::array<std::string_view, kArchiveGridColumns> kTitles = {
        "N",       "Время Дата", "Т11",    "Т2", "Тк", "Тн", "Т21", "Значение",
        "Задание", "Клапан",     "Ошибки", "",   "",   "",   "",    ""};
    return kTitles;
}

std::int64_t SecondsSince2000(const ChartStamp& s) {
    static const std::int64_t kEpoch2000 = DaysFromCivil(2000, 1, 1);
    const std::int64_t days = DaysFromCivil(s.year, s.month, s.day) - kEpoch2000;
    return days * 86400 + s.hour * 3600 + s.minute * 60 + s.second;
}

bool StampIsPlausible(int year, int month, int day, int hour, int minute, int second) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::string ErrorBitNumbers(std::uint16_t errors) {
    std::string out;
    for (int bit = 0; bit < 16; ++bit) {
        if ((errors & (1u << bit)) == 0) continue;
        if (!out.empty()) out += ',';
        out += std::to_string(bit + 1);
    }
    return out;
}

std::string ArchiveStampText(const ArchiveTime& t, const EventStampFormat& format) {
    std::string text = format.Date(t.Year(), t.Month(), t.Day());
    if (t.Hour() == 0 && t.Minute() == 0 && t.Second() == 0) return text;
    text += ' ';
    text += format.Time(t.Hour(), t.Minute(), t.Second());
    return text;
}

std::string ArchiveCellText(const ArchiveGridRow& row, int column, const EventStampFormat& format) {
    if (column == 0) return std::to_string(row.number);
    if (column == 1) return ArchiveStampText(row.time, format);
    if (!row.hasSample) return {};
    const CircuitSample& s = row.sample;
    // FormatTemp takes hundredths of a degree.
    switch (column) {
        case 2:
            return FormatTemp(10 * s.T11);
        case 3:
            return FormatTemp(10 * s.T2);
        case 4:
            return FormatTemp(10 * s.Tk);
        case 5:
            return FormatTemp(10 * s.Tn);
        case 7:
            return FormatTemp(10 * s.Real);
        case 8:
            return FormatTemp(10 * s.Base);
        case 9:
            return std::to_string(s.Klap);
        case 10:
            return ErrorBitNumbers(static_cast<std::uint16_t>(s.Errors));
        default:
            return {};
    }
}

bool CurrentChartRecord(const std::uint8_t* image, int circuit, ChartRecord& out) {
    const int year = 2000 + ClockField(image[addr::ClockYear], 0);
    const int month = ClockField(image[addr::ClockMonth], 1);
    const int day = ClockField(image[addr::ClockDay], 1);
    const int hour = ClockField(image[addr::ClockHour], 0);
    const int minute = ClockField(image[addr::ClockMin], 0);
    const int second = ClockField(image[addr::ClockSec], 0);
    if (!StampIsPlausible(year, month, day, hour, minute, second)) return false;
    ChartRecord r;
    r.DateTime.year = static_cast<std::int16_t>(year);
    r.DateTime.month = static_cast<std::int8_t>(month);
    r.DateTime.day = static_cast<std::int8_t>(day);
    r.DateTime.hour = static_cast<std::int8_t>(hour);
    r.DateTime.minute = static_cast<std::int8_t>(minute);
    r.DateTime.second = static_cast<std::int8_t>(second);
    const std::uint8_t* rec = image + CircuitRecordAddr(circuit == 1 ? 1 : 0);
    r.T11 = CurrentTemp(rec, rec::T11);
    r.T2 = CurrentTemp(rec, rec::T2);
    r.Tk = CurrentTemp(rec, rec::Tk);
    r.Tn = CurrentTemp(rec, rec::Tn);
    r.T21 = CurrentTemp(rec, rec::T21);
    r.Klap = I8(rec, rec::KlapPercent);
    r.Base = CurrentTemp(rec, rec::Base);
    r.Real = CurrentTemp(rec, rec::Real);
    out = r;
    return true;
}

ArchiveData::ArchiveData() {
    rows_.reserve(kArchiveGridMaxRows);
    table1_.reserve(kArchiveGridMaxRows);
    table2_.reserve(kArchiveGridMaxRows);
}

void ArchiveData::Fill(const std::uint8_t* archive, int numSystems, int selectedCircuit) {
    const int n = numSystems == 1 ? 1 : 2;
    selected_ = ShownCircuit(selectedCircuit);
    ChartTable& table = selected_ == 1 ? table2_ : table1_;
    if (!cycleMode_) {
        table1_.clear();
        table2_.clear();
    }
    rows_.clear();

    // With one circuit a record carries the first circuit's sample only.
    const bool hasSample = n == 2 || selected_ == 0;
    const int sampleOffset = 4 + arch::SampleSize * (n == 2 ? selected_ : 0);

    const std::size_t count = SortArchive(archive, n, order_);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* record = archive + order_[i].offset;
        const ArchiveTime t = DecodeArchiveTime(record);
        if (!t.Valid()) continue;
        if (!StampIsPlausible(t.Year(), t.Month(), t.Day(), t.Hour(), t.Minute(), t.Second()))
            continue;
        ArchiveGridRow row{};
        row.number = static_cast<std::uint32_t>(rows_.size() + 1);
        row.time = t;
        row.hasSample = hasSample;
        if (hasSample) row.sample = DecodeSample(record + sampleOffset);
        rows_.push_back(row);
        if (hasSample && !cycleMode_) table.push_back(ArchiveChartRecord(t, row.sample));
    }
}

bool ArchiveData::AppendCurrent(const std::uint8_t* image) {
    ChartRecord r;
    if (!CurrentChartRecord(image, 0, r)) return false;
    ChartTable* tables[] = {&table1_, &table2_};
    for (int c = 0; c < kCircuitCount; ++c) {
        CurrentChartRecord(image, c, r);
        ChartTable& t = *tables[c];
        t.push_back(r);
        if (t.size() > kCycleKeep)
            t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(t.size() - kCycleKeep));
    }
    return true;
}

std::string ArchiveData::CellText(std::size_t row, int column,
                                  const EventStampFormat& format) const {
    if (row >= rows_.size() || column < 0 || column >= kArchiveGridColumns) return {};
    return ArchiveCellText(rows_[row], column, format);
}

}  // namespace vir05
