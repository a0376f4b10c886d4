// One pass end to end on the real parts: tmsim serving the demo database, the connection module
// over libtmconn, and a headless LibreOffice workbook holding every form of the data sheet.
// Every cell of the used area is checked afterwards against what tmsim serves when asked
// directly.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/util/CellProtection.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FloatDecimal.h"
#include "Grammar.h"
#include "HeadlessDataSheet.h"
#include "LibreOfficeSpreadsheet.h"
#include "OfficeConnection.h"
#include "RecordingTm.h"
#include "SheetTexts.h"
#include "TemporaryDirectory.h"
#include "TmOperations.h"
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
  EXPECT_TRUE(UpdateSheet(*application, 1049, *sheet, progress, tm, &statistics).ok());
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

// ---------------------------------------------------------------------------------------------
// Write failures on a real office: a protected sheet whose result cells become unwritable at some
// row. The pass must end there, as its cell-by-cell form would: the result flag set, no cell
// after the failing one changed, no row after it requested, screen updating and automatic
// calculation back.

namespace css = ::com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

rtl::OUString U(const std::string& text) {
  return testsupport::ToOUString(text);
}

// A second UNO connection to the office, as a user's hands: protects a sheet, and looks at the
// document's calculation mode and controller locks.
class OfficeHands {
 public:
  explicit OfficeHands(const std::string& pipe) : office_(pipe) {}

  Reference<css::frame::XModel> Model(const std::string& path) { return office_.Model(path); }

  // Unlocks the rectangles (row, column, row, column; 1-based), then protects the sheet.
  void Protect(const std::string& path, const std::string& name,
               const std::vector<std::array<int32_t, 4>>& unlocked) {
    Reference<css::sheet::XSpreadsheet> sheet(
        Reference<css::sheet::XSpreadsheetDocument>(Model(path), UNO_QUERY_THROW)
            ->getSheets()
            ->getByName(U(name)),
        UNO_QUERY_THROW);
    for (const auto& [top, left, bottom, right] : unlocked) {
      Reference<css::beans::XPropertySet> range(
          sheet->getCellRangeByPosition(left - 1, top - 1, right - 1, bottom - 1), UNO_QUERY_THROW);
      css::util::CellProtection protection;
      range->getPropertyValue("CellProtection") >>= protection;
      protection.IsLocked = false;
      range->setPropertyValue("CellProtection", Any(protection));
    }
    Reference<css::util::XProtectable>(sheet, UNO_QUERY_THROW)->protect("");
  }

  bool AutomaticCalculation(const std::string& path) {
    return Reference<css::sheet::XCalculatable>(Model(path), UNO_QUERY_THROW)
        ->isAutomaticCalculationEnabled();
  }
  bool ControllersLocked(const std::string& path) { return Model(path)->hasControllersLocked(); }

 private:
  testsupport::OfficeConnection office_;
};

// A file name in a folder of its own that goes with the test.
class TemporaryPath {
 public:
  explicit TemporaryPath(const std::string& name) : path_(dir_.File(name)) {}
  const std::string& Path() const { return path_; }

 private:
  testsupport::TemporaryDirectory dir_{"velt-pass-soffice"};
  std::string path_;
};

// Rows 2-9: current analog requests, one point each; row 10 an accumulator (meter reading into
// column 5, then reduced power into column 4); row 11 one more analog row. Every result cell
// holds "old" before the pass.
const std::vector<Row> kProtectedSheet = {
    {"ТМ адрес", "Наименование параметра", "№ архива", "Значение"},
    {"#TT1:2:1", "", "", "old"},
    {"#TT1:2:2", "", "", "old"},
    {"#TT1:2:3", "", "", "old"},
    {"#TT1:2:4", "", "", "old"},
    {"#TT1:2:5", "", "", "old"},
    {"#TT1:2:6", "", "", "old"},
    {"#TT1:3:1", "", "", "old"},
    {"#TT1:1:1", "", "", "old"},
    {"#TI1:3:2", "", "", "old", "old"},
    {"#TT1:1:2", "", "", "old"},
};

const std::vector<std::string> kAllRequests = {
    "analog 1:2:1 N/A 0", "analog 1:2:2 N/A 0", "analog 1:2:3 N/A 0", "analog 1:2:4 N/A 0",
    "analog 1:2:5 N/A 0", "analog 1:2:6 N/A 0", "analog 1:3:1 N/A 0", "analog 1:1:1 N/A 0",
    "accum 1:3:2 ''",     "analog 1:1:2 N/A 0"};

struct ProtectionCase {
  const char* name;
  std::vector<std::array<int32_t, 4>> unlocked;  // result cells that stay writable
  bool failed;
  size_t requests;                   // how many of kAllRequests are made
  std::vector<std::string> changed;  // "row,column" of the cells written
};

void PrintTo(const ProtectionCase& c, std::ostream* out) {
  *out << c.name;
}

class ProtectedSheetPass : public testing::TestWithParam<ProtectionCase> {};

TEST_P(ProtectedSheetPass, EndsAtTheFirstCellThatCannotBeWritten) {
  const ProtectionCase& c = GetParam();
  TmsimProcess tmsim;
  TmAccess access;
  ASSERT_NE(access.tmaConnect(tmsim.Address() + "\\TMS", "$Excel$") & 0xFFFF, 0);
  RecordingTm tm(access);

  TemporaryPath file("protected.ods");
  LibreOfficeOptions options;
  options.lcid = 0x0419;
  std::unique_ptr<Application> application = LibreOfficeLauncher(options).Start();
  std::shared_ptr<Workbook> workbook = application->Add();
  std::shared_ptr<Worksheet> sheet = workbook->AddWorksheet();
  sheet->SetName("ВЕЛТ");
  for (size_t r = 0; r < kProtectedSheet.size(); ++r) {
    for (size_t col = 0; col < kProtectedSheet[r].size(); ++col) {
      if (!kProtectedSheet[r][col].empty()) {
        sheet->SetCellText(static_cast<int32_t>(r) + 1, static_cast<int32_t>(col) + 1,
                           kProtectedSheet[r][col]);
      }
    }
  }
  workbook->SaveAs(file.Path());
  OfficeHands hands(LibreOfficeInstanceOf(*application)->pipeName);
  hands.Protect(file.Path(), "ВЕЛТ", c.unlocked);

  ProgressBarModel progress;
  EXPECT_EQ(!UpdateSheet(*application, 0x0419, *sheet, progress, tm).ok(), c.failed);
  EXPECT_TRUE(hands.AutomaticCalculation(file.Path()));
  EXPECT_FALSE(hands.ControllersLocked(file.Path()));
  EXPECT_EQ(tm.log, std::vector<std::string>(kAllRequests.begin(),
                                             kAllRequests.begin() + static_cast<long>(c.requests)));
  std::vector<std::string> changed;
  for (int32_t row = 1; row <= static_cast<int32_t>(kProtectedSheet.size()) + 1; ++row) {
    for (int32_t column = 1; column <= 6; ++column) {
      const size_t r = static_cast<size_t>(row - 1), col = static_cast<size_t>(column - 1);
      const std::string typed = r < kProtectedSheet.size() && col < kProtectedSheet[r].size()
                                    ? kProtectedSheet[r][col]
                                    : "";
      const std::string text = sheet->CellText(row, column);
      if (text == typed) continue;
      changed.push_back(std::to_string(row) + "," + std::to_string(column));
      // A result: a number or the failure marker.
      EXPECT_TRUE(text == kNoValue || DisplayedNumber(text).has_value()) << text;
    }
  }
  EXPECT_EQ(changed, c.changed);
  // The instance goes on working cell by cell and batched.
  EXPECT_NO_THROW(application->Add()->AddWorksheet()->SetCellText(1, 1, "x"));
  tm.log.clear();
  access.tmaDisconnect();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtectedSheetPass,
    testing::Values(
        ProtectionCase{"WholeSheetLocked", {}, true, 1, {}},
        ProtectionCase{"ResultCellsUnlockedToRow6",
                       {{2, 4, 6, 4}},
                       true,
                       6,
                       {"2,4", "3,4", "4,4", "5,4", "6,4"}},
        ProtectionCase{"LockedCellBetweenUnlockedOnes",
                       {{2, 4, 3, 4}, {5, 4, 11, 5}},
                       true,
                       3,
                       {"2,4", "3,4"}},
        // The accumulator writes its meter reading (column 5) before its power (column 4).
        ProtectionCase{"OnlyTheMeterColumnOfTheAccumulatorRow",
                       {{2, 4, 9, 4}, {10, 5, 10, 5}},
                       true,
                       9,
                       {"2,4", "3,4", "4,4", "5,4", "6,4", "7,4", "8,4", "9,4", "10,5"}},
        ProtectionCase{
            "EveryResultCellUnlocked",
            {{2, 4, 11, 5}},
            false,
            10,
            {"2,4", "3,4", "4,4", "5,4", "6,4", "7,4", "8,4", "9,4", "10,4", "10,5", "11,4"}}),
    [](const auto& test) { return std::string(test.param.name); });

// A sheet whose cell (1, 1) is empty, in a workbook left with manual calculation: the pass ends
// at row 1, writes and requests nothing, and leaves calculation automatic.
TEST(UpdateSheetEndToEnd, EmptyFirstCellEndsThePassWithCalculationAutomatic) {
  TmsimProcess tmsim;
  TmAccess access;
  ASSERT_NE(access.tmaConnect(tmsim.Address() + "\\TMS", "$Excel$") & 0xFFFF, 0);
  RecordingTm tm(access);
  TemporaryPath file("empty.ods");
  std::unique_ptr<Application> application = LibreOfficeLauncher().Start();
  std::shared_ptr<Workbook> workbook = application->Add();
  std::shared_ptr<Worksheet> sheet = workbook->AddWorksheet();
  sheet->SetCellText(2, 1, "#TT1:3:1");
  workbook->SaveAs(file.Path());
  OfficeHands hands(LibreOfficeInstanceOf(*application)->pipeName);
  application->SetCalculation(xlCalculationManual, 0);
  ASSERT_FALSE(hands.AutomaticCalculation(file.Path()));

  ProgressBarModel progress;
  EXPECT_TRUE(UpdateSheet(*application, 0, *sheet, progress, tm).ok());
  EXPECT_TRUE(hands.AutomaticCalculation(file.Path()));
  EXPECT_FALSE(hands.ControllersLocked(file.Path()));
  EXPECT_TRUE(tm.log.empty());
  EXPECT_EQ(sheet->CellText(1, 1), "");
  EXPECT_EQ(sheet->CellText(2, 4), "");
  access.tmaDisconnect();
}

}  // namespace
}  // namespace velt
