// The spreadsheet export of the archive grid: tab-separated text that a spreadsheet program
// opens as a table.
//
// The grid is given as rows of cell texts, row 0 being the header ("N", "Время Дата", then the
// value columns). Every cell of a written row is followed by a tab, so each line ends with one;
// lines end with a carriage return and a line feed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vir05 {

using SheetGrid = std::vector<std::vector<std::string>>;

// Rows of the grid chosen by the user, both inclusive, in grid rows (the header is row 0).
struct SheetSelection {
    int top = 0;
    int bottom = 0;
};

inline constexpr int kSheetDateColumn = 1;        // "Время Дата"
inline constexpr int kSheetFirstValueColumn = 2;  // the values follow the date and time

struct SheetOptions {
    // Only the records on the full hour: rows whose date cell contains ":00:00".
    bool hourly = false;
    // The user's own decimal separator; it replaces the first "." of every value cell.
    std::string decimalSeparator = ".";
};

// The rows written: the selection when it spans at least three rows (top + 1 < bottom),
// otherwise rows 1 to the last. A selection that reaches past the grid is cut to the rows that
// exist, and the header row is never taken as a data row.
std::vector<int> SheetRows(int rowCount, std::optional<SheetSelection> selection);

// The whole file text: the header line, then every row of SheetRows whose first cell (the
// record number) is not empty and, for the hourly export, whose date cell holds ":00:00".
// An empty grid gives an empty text.
std::string SpreadsheetText(const SheetGrid& grid, std::optional<SheetSelection> selection,
                            const SheetOptions& options);

}  // namespace vir05
