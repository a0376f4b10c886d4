#include "SheetTexts.h"

namespace velt {

void WriteTexts(Worksheet& sheet, const TextRows& rows) {
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      if (rows[r][c].empty()) continue;
      sheet.SetCellText(static_cast<int32_t>(r) + 1, static_cast<int32_t>(c) + 1, rows[r][c]);
    }
  }
}

}  // namespace velt
