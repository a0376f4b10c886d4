// The data sheet: its name, the header row the program writes when it creates the sheet, and
// the widths of the address and name columns.
#pragma once

#include <array>
#include <string>

#include "Spreadsheet.h"

namespace velt {

inline constexpr char kDataSheetName[] = "ВЕЛТ";

// Row 1 of a sheet the program creates, from column 1.
inline constexpr std::array<const char*, 4> kDataSheetHeader = {
    "ТМ адрес", "Наименование параметра", "№ архива", "Значение"};

// Widths, in characters, of column 1 (addresses) and column 2 (names).
inline constexpr double kAddressColumnWidth = 12;
inline constexpr double kNameColumnWidth = 32;

// The header row and the two column widths.
void WriteDataSheetHeader(Worksheet& sheet);
void SetDataSheetColumnWidths(Worksheet& sheet);

}  // namespace velt
