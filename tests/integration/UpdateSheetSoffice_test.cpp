// One pass end to end on the real parts: tmsim serving the demo database, the connection module
// over libtmconn, and a headless LibreOffice workbook holding every form of the data sheet.
// Every cell of the used area is checked afterwards against what tmsim serves when asked
// directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FloatDecimal.h"
#include "Grammar.h"
#include "HeadlessDataSheet.h"
#include "SheetTexts.h"
#include "TmsimProcess.h"
#include "UpdateSheet.h"
#include "tmaccess.h"

namespace velt {
namespace {

using Row = std::vector<std::string>;

constexpr int32_t kLastColumn = 8;

// The sheet. Points of the demo database: 1:3:1 analog is constant, 1:2:1 and 1:2:10 status
// are constants (1 and 9), 1:2:11 status, 1:2:6 analog and 1:3:3 accumulator have no value;
// archive 2 of 1:2:3 is missing at 13:00; 1:2:1 analog has no archive 3.
const std::vector<Row> kSheet = {
    {"ТМ адрес", "Наименование параметра", "№ архива", "Значение"},
    {"#TT1:3:1", "константа"},
    {"#TC1:2:1"},
    {"#ТС1:2:10"},
    {"#TC1:2:11"},
    {"#TI1:3:2"},
    {"#TT1:2:6"},
    {"#TI1:3:3", "", "", "old", "old meter"},
    {"#TT1:2:3", "", "2", "01.12.2026 12:00", "01.12.2026 13:00", "01.12.2026 14:00"},
    {"result row"},
    {"RETRO:3", "#TT1:2:3", "#TI1:3:1", "#PU1:3:1", "#ТТ1:2:1", "#TC1:2:1"},
    {"01.12.2026 09:00"},
    {"01.12.2026 10:00"},
    {"XRETRO:0", "01.12.2026 09:00", "01.12.2026 10:00"},
    {"#TT1:2:3"},
    {"#PU1:3:1"},
    {"#TI1:3:1"},
    {"#tt1:3:1"},
    {"XEND"},
    {"#tt1:3:1"},
    {""},
    {"#TT1:3:1"},
};

// What a written cell should hold, asked of tmsim directly: a number, or nullopt for "н\д".
using Expected = std::function<std::optional<double>(TmAccess&)>;

Expected Analog(uint16_t ch, uint16_t rtu, uint16_t point, std::string time = "N/A",
                uint16_t archive = 0) {
  return [=](TmAccess& tm) -> std::optional<double> {
    const float v = tm.tmaAnalog(ch, rtu, point, time, archive);
    if (std::isnan(v) || static_cast<double>(v) > kAnalogLimit) return std::nullopt;
    return static_cast<double>(v);
  };
}

Expected Accum(uint16_t ch, uint16_t rtu, uint16_t point, std::string time, int which) {
  return [=](TmAccess& tm) -> std::optional<double> {
    float pair[2] = {0, 0};
    if ((tm.tmaAccumFull(ch, rtu, point, pair, time) & 0xFFFFu) == 0) return std::nullopt;
    return static_cast<double>(pair[which]);
  };
}

Expected Status(uint16_t ch, uint16_t rtu, uint16_t point) {
  return [=](TmAccess& tm) -> std::optional<double> {
    const int16_t v = tm.tmaStatus(ch, rtu, point);
    if (v == -1) return std::nullopt;
    return v;
  };
}

std::map<std::pair<int32_t, int32_t>, Expected> ExpectedWrites() {
  const std::string t9 = "01.12.2026 09:00", t10 = "01.12.2026 10:00";
  return {
      {{2, 4}, Analog(1, 3, 1)},
      {{3, 4}, Status(1, 2, 1)},
      {{4, 4}, Status(1, 2, 10)},
      {{5, 4}, Status(1, 2, 11)},
      // (6, 4) and (6, 5): current accumulator values that move with the clock, checked apart.
      {{7, 4}, Analog(1, 2, 6)},
      {{8, 4}, Accum(1, 3, 3, "", 1)},
      {{10, 4}, Analog(1, 2, 3, "01.12.2026 12:00", 2)},
      {{10, 5}, Analog(1, 2, 3, "01.12.2026 13:00", 2)},
      {{10, 6}, Analog(1, 2, 3, "01.12.2026 14:00", 2)},
      {{12, 2}, Analog(1, 2, 3, t9, 3)},
      {{12, 3}, Accum(1, 3, 1, t9, 1)},
      {{12, 4}, Accum(1, 3, 1, t9, 0)},
      {{12, 5}, Analog(1, 2, 1, t9, 3)},
      {{13, 2}, Analog(1, 2, 3, t10, 3)},
      {{13, 3}, Accum(1, 3, 1, t10, 1)},
      {{13, 4}, Accum(1, 3, 1, t10, 0)},
      {{13, 5}, Analog(1, 2, 1, t10, 3)},
      {{15, 2}, Analog(1, 2, 3, t9, 0)},
      {{15, 3}, Analog(1, 2, 3, t10, 0)},
      {{16, 2}, Accum(1, 3, 1, t9, 0)},
      {{16, 3}, Accum(1, 3, 1, t10, 0)},
      {{17, 2}, Accum(1, 3, 1, t9, 1)},
      {{17, 3}, Accum(1, 3, 1, t10, 1)},
      {{20, 4}, Analog(1, 3, 1)},
  };
}

// The number a cell displays; LibreOffice shows 15 significant digits in the general format.
std::optional<double> DisplayedNumber(std::string text) {
  for (char& c : text) {
    if (c == ',') c = '.';
  }
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
  return value;
}

void ExpectDisplays(const std::string& text, std::optional<double> expected) {
  if (!expected) {
    EXPECT_EQ(text, kNoValue);
    return;
  }
  const std::optional<double> shown = DisplayedNumber(text);
  ASSERT_TRUE(shown.has_value()) << text;
  // Floats from the server are written as their shortest decimal.
  const double written = ShortestDouble(static_cast<float>(*expected));
  EXPECT_NEAR(*shown, written, std::abs(written) * 1e-14) << text;
}

TEST(UpdateSheetEndToEnd, LibreOfficeSheetGetsWhatTmsimServes) {
  TmsimProcess tmsim;
  TmAccess tm;
  ASSERT_NE(tm.tmaConnect(tmsim.Address() + "\\TMS", kClientName) & 0xFFFF, 0);

  testsupport::HeadlessDataSheet office = testsupport::StartHeadlessDataSheet();
  Application* application = office.application.get();
  Worksheet* sheet = office.sheet.get();
  WriteTexts(*sheet, kSheet);

  float before[2] = {0, 0};
  ASSERT_NE(tm.tmaAccumFull(1, 3, 2, before, "") & 0xFFFF, 0);
  ProgressBarModel progress;
  PassStatistics statistics;
  EXPECT_FALSE(UpdateSheet(*application, 1049, *sheet, progress, tm, &statistics));
  float after[2] = {0, 0};
  ASSERT_NE(tm.tmaAccumFull(1, 3, 2, after, "") & 0xFFFF, 0);

  const auto expected = ExpectedWrites();
  for (int32_t row = 1; row <= static_cast<int32_t>(kSheet.size()) + 1; ++row) {
    for (int32_t column = 1; column <= kLastColumn; ++column) {
      SCOPED_TRACE(testing::Message() << "cell " << row << "," << column);
      const std::string text = sheet->CellText(row, column);
      if (row == 6 && (column == 4 || column == 5)) {
        // The meter reading ramps with the clock; the reduced power is constant.
        const int which = column == 4 ? 1 : 0;
        const std::optional<double> shown = DisplayedNumber(text);
        ASSERT_TRUE(shown.has_value()) << text;
        EXPECT_GE(static_cast<float>(*shown), std::min(before[which], after[which]));
        EXPECT_LE(static_cast<float>(*shown), std::max(before[which], after[which]));
      } else if (auto it = expected.find({row, column}); it != expected.end()) {
        ExpectDisplays(text, it->second(tm));
      } else {
        const size_t r = static_cast<size_t>(row - 1), c = static_cast<size_t>(column - 1);
        const std::string typed = r < kSheet.size() && c < kSheet[r].size() ? kSheet[r][c] : "";
        EXPECT_EQ(text, typed);
      }
    }
  }
  // Rows 1-20 less the result row 10, and the empty row 21 that ends the pass.
  EXPECT_EQ(statistics.rowsExamined, 20);
  EXPECT_EQ(statistics.valuesWritten + statistics.noValueWritten,
            static_cast<int64_t>(expected.size()) + 2);
  tm.tmaDisconnect();
}

}  // namespace
}  // namespace velt
