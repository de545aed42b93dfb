#include "core/spreadsheet.h"

#include <algorithm>

namespace vir05 {
namespace {

void AppendCell(std::string& out, std::string_view cell) {
    out.append(cell);
    out.push_back('\t');
}

void AppendRow(std::string& out, const std::vector<std::string>& row, bool valuesLocalised,
               std::string_view separator) {
    for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string& cell = row[c];
        const std::size_t dot = cell.find('.');
        if (valuesLocalised && c >= static_cast<std::size_t>(kSheetFirstValueColumn) &&
            dot != std::string::npos) {
            std::string local = cell;
            local.replace(dot, 1, separator);
            AppendCell(out, local);
        } else {
            AppendCell(out, cell);
        }
    }
    out.append("\r\n");
}

}  // namespace

std::vector<int> SheetRows(int rowCount, std::optional<SheetSelection> selection) {
    int first = 1;
    int last = rowCount - 1;
    if (selection && selection->top + 1 < selection->bottom) {
        first = std::max(selection->top, 1);
        last = std::min(selection->bottom, rowCount - 1);
    }
    std::vector<int> rows;
    for (int r = first; r <= last; ++r)
        rows.push_back(r);
    return rows;
}

std::string SpreadsheetText(const SheetGrid& grid, std::optional<SheetSelection> selection,
                            const SheetOptions& options) {
    std::string out;
    if (grid.empty()) return out;
    AppendRow(out, grid.front(), false, options.decimalSeparator);
    const bool localised = options.decimalSeparator != ".";
    for (const int r : SheetRows(static_cast<int>(grid.size()), selection)) {
        const std::vector<std::string>& row = grid[static_cast<std::size_t>(r)];
        if (row.empty() || row.front().empty()) continue;
        if (options.hourly) {
            const bool hasDate = row.size() > static_cast<std::size_t>(kSheetDateColumn);
            if (!hasDate || row[kSheetDateColumn].find(":00:00") == std::string::npos) continue;
        }
        AppendRow(out, row, localised, options.decimalSeparator);
    }
    return out;
}

}  // namespace vir05
