// The spreadsheet export text: header and rows with a tab after every cell, CRLF lines, the
// user's decimal separator in the value cells only, the selection rule and the hourly filter.
#include "core/spreadsheet.h"

#include <gtest/gtest.h>

namespace vir05 {
namespace {

// A small archive grid as the archive page fills it: number, date and time, two values.
SheetGrid Grid() {
    return {
        {"N", "Время Дата", "T11", "Klap"},         {"1", "10:00:00 05.03.24", "21.5", "40"},
        {"2", "10:10:00 05.03.24", "-5.43", "41"},  {"", "", "", ""},  // a row not filled: skipped
        {"3", "11:00:00 05.03.24", "1.07.2", "42"}, {"4", "11:10:00 05.03.24", "20", "43"},
    };
}

TEST(SpreadsheetText, WholeGridWithDotAndWithComma) {
    struct Case {
        const char* separator;
        const char* expected;
    } cases[] = {
        {".",
         "N\tВремя Дата\tT11\tKlap\t\r\n"
         "1\t10:00:00 05.03.24\t21.5\t40\t\r\n"
         "2\t10:10:00 05.03.24\t-5.43\t41\t\r\n"
         "3\t11:00:00 05.03.24\t1.07.2\t42\t\r\n"
         "4\t11:10:00 05.03.24\t20\t43\t\r\n"},
        // Only the first "." of a value cell changes; the header and the date keep their dots.
        {",",
         "N\tВремя Дата\tT11\tKlap\t\r\n"
         "1\t10:00:00 05.03.24\t21,5\t40\t\r\n"
         "2\t10:10:00 05.03.24\t-5,43\t41\t\r\n"
         "3\t11:00:00 05.03.24\t1,07.2\t42\t\r\n"
         "4\t11:10:00 05.03.24\t20\t43\t\r\n"},
    };
    for (const Case& c : cases) {
        SheetOptions o;
        o.decimalSeparator = c.separator;
        EXPECT_EQ(SpreadsheetText(Grid(), std::nullopt, o), c.expected) << c.separator;
    }
}

TEST(SpreadsheetText, HourlyKeepsFullHoursOnly) {
    SheetOptions o;
    o.hourly = true;
    EXPECT_EQ(SpreadsheetText(Grid(), std::nullopt, o),
              "N\tВремя Дата\tT11\tKlap\t\r\n"
              "1\t10:00:00 05.03.24\t21.5\t40\t\r\n"
              "3\t11:00:00 05.03.24\t1.07.2\t42\t\r\n");

    // No record on the full hour: the header line alone.
    SheetGrid none = {{"N", "Время Дата", "T11"},
                      {"1", "10:10:00 05.03.24", "21.5"},
                      {"2", "10:20:00 05.03.24", "21.6"}};
    EXPECT_EQ(SpreadsheetText(none, std::nullopt, o), "N\tВремя Дата\tT11\t\r\n");
}

TEST(SheetRows, SelectionOfThreeOrMoreRowsOnly) {
    struct Case {
        std::optional<SheetSelection> selection;
        std::vector<int> rows;
    } cases[] = {
        {std::nullopt, {1, 2, 3, 4, 5}},
        {SheetSelection{2, 2}, {1, 2, 3, 4, 5}},  // one row: all rows
        {SheetSelection{2, 3}, {1, 2, 3, 4, 5}},  // two rows: all rows
        {SheetSelection{2, 4}, {2, 3, 4}},        // three rows: exactly those
        {SheetSelection{1, 5}, {1, 2, 3, 4, 5}},
        // A selection reaching past the grid or over the header is cut to the data rows.
        {SheetSelection{3, 40}, {3, 4, 5}},
        {SheetSelection{-2, 2}, {1, 2}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SheetRows(6, c.selection), c.rows)
            << (c.selection ? c.selection->top : -99) << ".."
            << (c.selection ? c.selection->bottom : -99);
    }
    EXPECT_TRUE(SheetRows(1, std::nullopt).empty());  // header only
    EXPECT_TRUE(SheetRows(0, SheetSelection{1, 5}).empty());
}

TEST(SpreadsheetText, SelectedRowsAndShortRows) {
    SheetOptions o;
    o.decimalSeparator = ",";
    // Rows 2 to 4 selected: the empty row 3 is still skipped.
    EXPECT_EQ(SpreadsheetText(Grid(), SheetSelection{2, 4}, o),
              "N\tВремя Дата\tT11\tKlap\t\r\n"
              "2\t10:10:00 05.03.24\t-5,43\t41\t\r\n"
              "3\t11:00:00 05.03.24\t1,07.2\t42\t\r\n");

    // Rows shorter than the header are written as far as they go; the hourly export skips a
    // row that has no date cell at all.
    SheetGrid ragged = {{"N", "Время Дата", "T11"}, {"1"}, {"2", "12:00:00 01.01.24"}};
    EXPECT_EQ(SpreadsheetText(ragged, std::nullopt, o),
              "N\tВремя Дата\tT11\t\r\n1\t\r\n2\t12:00:00 01.01.24\t\r\n");
    o.hourly = true;
    EXPECT_EQ(SpreadsheetText(ragged, std::nullopt, o),
              "N\tВремя Дата\tT11\t\r\n2\t12:00:00 01.01.24\t\r\n");
    EXPECT_EQ(SpreadsheetText({}, std::nullopt, o), "");
}

}  // namespace
}  // namespace vir05
