// The demo data sheet: every form of the sheet on points that the demo TM database serves,
// and a plain-text rendering of a sheet for the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Spreadsheet.h"

namespace velt {

inline constexpr int32_t kDemoRows = 22;
inline constexpr int32_t kDemoColumns = 6;

// The cells of the demo sheet, row by row from row 1, column by column from column 1.
const std::vector<std::vector<std::string>>& DemoSheetCells();

// Adds the sheet "ВЕЛТ" with the demo requests (texts only) to workbook.
void WriteDemoSheet(Workbook& workbook);

// Rows 1..rows, columns 1..columns of sheet as an aligned table; columns that are empty in
// every row are left out.
std::string FormatSheet(Worksheet& sheet, int32_t rows, int32_t columns);

// Display width of a UTF-8 text: one per code point.
size_t DisplayWidth(const std::string& text);

}  // namespace velt
