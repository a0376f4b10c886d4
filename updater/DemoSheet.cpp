#include "DemoSheet.h"

#include "DataSheet.h"
#include "SheetTexts.h"

#include <algorithm>
#include <sstream>

namespace velt {

const std::vector<std::vector<std::string>>& DemoSheetCells() {
  // Slice times are typed as texts, so the server receives them exactly as written here.
  static const std::vector<std::vector<std::string>> cells = {
      {kDataSheetHeader.begin(), kDataSheetHeader.end()},
      {"#TT1:2:1", "ПС Заречная: напряжение шин 110 кВ, кВ"},
      {"#ТТ1:2:3", "ПС Заречная: ток ввода Т1, А (кириллица)"},
      {"#tt1:2:4", "ПС Заречная: активная мощность Т1, МВт (строчные)"},
      {"#TC1:2:1", "ПС Заречная: выключатель ввода Т1"},
      {"#ТС1:2:2", "ПС Заречная: выключатель ввода Т2"},
      {"#TI1:3:1", "ПС Луговая: активная энергия (мощность | показания)"},
      {"#TT1:2:6", "ПС Заречная: температура масла (нет значения)"},
      {"#TT1:2:3", "Ток ввода Т1 из архива 2:", "2", "01.12.2026 12:00", "01.12.2026 13:00",
       "01.12.2026 14:00"},
      {"значения", "(строка результатов архивной строки)"},
      {"RETRO:2", "#TT1:2:3", "#TT1:2:4", "#TI1:3:1", "#PU1:3:1"},
      {"01.12.2026 08:00"},
      {"01.12.2026 09:00"},
      {"01.12.2026 10:00"},
      {"XRETRO:2", "01.12.2026 08:00", "01.12.2026 09:00", "01.12.2026 10:00"},
      {"#TT1:2:1"},
      {"#PU1:3:1"},
      {"#TI1:3:1"},
      {"XEND"},
      {"#TC1:2:10", "ПС Заречная: положение РПН Т1"},
  };
  return cells;
}

void WriteDemoSheet(Workbook& workbook) {
  auto sheet = workbook.AddWorksheet();
  sheet->SetName(kDataSheetName);
  sheet->Select();
  WriteTexts(*sheet, DemoSheetCells());
  SetDataSheetColumnWidths(*sheet);
}

size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string FormatSheet(Worksheet& sheet, int32_t rows, int32_t columns) {
  std::vector<std::vector<std::string>> grid(
      static_cast<size_t>(rows), std::vector<std::string>(static_cast<size_t>(columns)));
  std::vector<size_t> widths(static_cast<size_t>(columns), 0);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < columns; ++c) {
      auto& cell = grid[static_cast<size_t>(r)][static_cast<size_t>(c)];
      cell = sheet.CellText(r + 1, c + 1);
      widths[static_cast<size_t>(c)] = std::max(widths[static_cast<size_t>(c)], DisplayWidth(cell));
    }
  }
  std::ostringstream out;
  for (int32_t r = 0; r < rows; ++r) {
    const auto& row = grid[static_cast<size_t>(r)];
    if (std::all_of(row.begin(), row.end(), [](const std::string& s) { return s.empty(); }))
      continue;
    std::string line = (r + 1 < 10 ? " " : "") + std::to_string(r + 1);
    for (int32_t c = 0; c < columns; ++c) {
      const size_t width = widths[static_cast<size_t>(c)];
      if (width == 0) continue;
      const auto& cell = row[static_cast<size_t>(c)];
      line += " | " + cell + std::string(width - DisplayWidth(cell), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
  return out.str();
}

}  // namespace velt
