// Rows of cell texts written into a sheet.
#pragma once

#include <string>
#include <vector>

#include "Spreadsheet.h"

namespace velt {

using TextRows = std::vector<std::vector<std::string>>;

// Writes the non-empty texts of `rows` from row 1, column 1; empty texts leave their cells alone.
void WriteTexts(Worksheet& sheet, const TextRows& rows);

}  // namespace velt
