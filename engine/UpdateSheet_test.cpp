#include "UpdateSheet.h"
#include "FloatDecimal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "FakeTm.h"
#include "Grammar.h"
#include "MemorySpreadsheet.h"

namespace velt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Row = std::vector<std::string>;  // columns 1, 2, ...; "" leaves the cell empty

constexpr int32_t kLcid = 1049;

// One data sheet in the in-memory spreadsheet, a scripted TM layer and a progress bar.
// Unscripted requests get answers derived from the address, so each written value shows
// which point it came from: analog ch*100+rtu*10+point+0.5, accumulator the same base plus
// 0.25 (meter reading) and 0.75 (reduced power), status point % 2.
class Sheet {
 public:
  Sheet() {
    workbook_ = std::static_pointer_cast<MemoryWorkbook>(app_->Add());
    sheet_ = workbook_->AddSheetDirect("ВЕЛТ");
    tm.SetAnalogFallback([](const TmBatchRequest& r) { return Base(r) + 0.5f; });
    tm.SetAccumFallback([](const TmBatchRequest& r) {
      return AccumAnswer{kTmaTrue, Base(r) + 0.25f, Base(r) + 0.75f};
    });
    tm.SetStatusFallback([](const TmBatchRequest& r) { return static_cast<int16_t>(r.point % 2); });
  }

  static float Base(const TmBatchRequest& r) {
    return static_cast<float>(r.ch * 100 + r.rtu * 10 + r.point);
  }

  void Fill(const std::vector<Row>& rows, int32_t firstRow = 1) {
    for (size_t i = 0; i < rows.size(); ++i) {
      for (size_t c = 0; c < rows[i].size(); ++c) {
        sheet_->Put(firstRow + static_cast<int32_t>(i), static_cast<int32_t>(c) + 1, rows[i][c]);
      }
    }
  }

  Result<> Run(PassStatistics* statistics = nullptr) {
    before_ = sheet_->Data();
    office.ClearLog();
    tm.ClearRequests();
    return (reference ? UpdateSheetOneByOne : UpdateSheet)(*app_, kLcid, *sheet_, progress, tm,
                                                           statistics);
  }

  // The one-at-a-time pass, for tests of the cell-by-cell order of calls and of what a failed
  // write leaves unread and unrequested, which the pipelined pass reads ahead of.
  bool reference = false;

  // Every cell that differs from before the pass: "r,c=1.5" for a number, "r,c=#1" for a
  // whole number, "r,c='text'" for a text.
  std::vector<std::string> Changes() const {
    std::vector<std::string> changes;
    for (const auto& [at, cell] : sheet_->Data().cells) {
      auto old = before_.cells.find(at);
      if (old != before_.cells.end() && old->second == cell) continue;
      std::string text = std::to_string(at.first) + "," + std::to_string(at.second) + "=";
      if (cell.kind == MemoryCell::Kind::Text) {
        text += "'" + cell.text + "'";
      } else {
        text += (cell.integer ? "#" : "") + cell.text;
      }
      changes.push_back(text);
    }
    return changes;
  }

  // Rows whose column 1 the row loop read (the probes of cell (1, 1) left out).
  std::vector<int32_t> RowsRead() const {
    std::vector<int32_t> rows;
    const auto& log = office.Log();
    bool inLoop = false;
    for (const auto& call : log) {
      if (call.op == "screenupdating") inLoop = call.detail == "false";
      if (inLoop && call.op == "read" && call.column == 1) rows.push_back(call.row);
    }
    return rows;
  }

  // "read r,c", "write r,c number 1.5", "calculation -4135", ... for the calls of the last pass.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    for (const auto& call : office.Log()) {
      std::string text = call.op;
      if (call.row != 0) {
        text.append(" ").append(std::to_string(call.row));
        text.append(",").append(std::to_string(call.column));
      }
      if (!call.detail.empty()) text += " " + call.detail;
      calls.push_back(text);
    }
    return calls;
  }

  MemoryCell Cell(int32_t row, int32_t column) const { return sheet_->Get(row, column); }
  MemoryApplication& App() { return static_cast<MemoryApplication&>(*app_); }

  MemoryOffice office;
  FakeTm tm;
  ProgressBarModel progress;

 private:
  std::unique_ptr<Application> app_ = office.Start();
  std::shared_ptr<MemoryWorkbook> workbook_;
  std::shared_ptr<MemoryWorksheet> sheet_;
  MemorySheetData before_;
};

// The sheet that uses every form, with times A and B.
const char* const kTimeA = "01.02.2024 10:00:00";
const char* const kTimeB = "01.02.2024 11:00:00";

std::vector<Row> ExampleSheet() {
  return {
      {"ТМ адрес", "Наименование параметра", "№ архива", "Значение"},
      {"#TT1:2:3", "a name"},
      {"#TC1:2:10"},
      {"#TI1:3:1"},
      {"#TT1:2:3", "", "2", kTimeA, kTimeB},
      {"anything"},
      {"RETRO:2", "#TT1:2:3", "#TI1:3:1", "#PU1:3:1"},
      {kTimeA},
      {kTimeB},
      {"XRETRO:2", kTimeA, kTimeB},
      {"#TT1:2:3"},
      {"#PU1:3:1"},
      {"XEND"},
      {""},
      {"#TT1:2:3"},  // below the end of data
  };
}

void ScriptExample(FakeTm& tm) {
  tm.SetAnalog(1, 2, 3, 12.5f);
  tm.SetStatus(1, 2, 10, 1);
  tm.SetAccum(1, 3, 1, 1000.25f, 3.5f);
  tm.SetAnalog(1, 2, 3, 21.0f, kTimeA, 2);
  tm.SetAnalog(1, 2, 3, 22.0f, kTimeB, 2);
  tm.SetAccum(1, 3, 1, 900.5f, 1.25f, kTimeA);
  tm.SetAccum(1, 3, 1, 901.5f, 1.5f, kTimeB);
}

TEST(UpdateSheet, ExampleSheetWritesEveryResultAndNothingElse) {
  Sheet s;
  s.reference = true;
  s.Fill(ExampleSheet());
  ScriptExample(s.tm);
  PassStatistics stats;
  EXPECT_TRUE(s.Run(&stats).ok());

  EXPECT_THAT(s.Changes(),
              ElementsAre("2,4=12.5", "3,4=#1", "4,4=3.5", "4,5=1000.25", "6,4=21", "6,5=22",
                          "8,2=21", "8,3=1.25", "8,4=900.5", "9,2=22", "9,3=1.5", "9,4=901.5",
                          "11,2=21", "11,3=22", "12,2=900.5", "12,3=901.5"));
  const std::string a = kTimeA, b = kTimeB;
  EXPECT_THAT(s.tm.Described(),
              ElementsAre("analog 1:2:3 N/A 0", "status 1:2:10", "accum 1:3:1 ''",
                          "analog 1:2:3 " + a + " 2", "analog 1:2:3 " + b + " 2",
                          "analog 1:2:3 " + a + " 2", "accum 1:3:1 " + a, "accum 1:3:1 " + a,
                          "analog 1:2:3 " + b + " 2", "accum 1:3:1 " + b, "accum 1:3:1 " + b,
                          "analog 1:2:3 " + a + " 2", "analog 1:2:3 " + b + " 2",
                          "accum 1:3:1 " + a, "accum 1:3:1 " + b));
  // One call per cell, in the order of the rows; the result row 6 and everything below the
  // empty row 14 are never read.
  EXPECT_THAT(s.Calls(),
              ElementsAre("read 1,1", "calculation -4135", "screenupdating false",  //
                          "read 1,1",                                               //
                          "read 2,1", "read 2,3", "write 2,4 number 12.5",          //
                          "read 3,1", "read 3,3", "write 3,4 integer 1",            //
                          "read 4,1", "read 4,3", "write 4,5 number 1000.25",
                          "write 4,4 number 3.5", "read 5,1", "read 5,3", "read 5,4",
                          "write 6,4 number 21", "read 5,5", "write 6,5 number 22", "read 5,6",  //
                          "read 7,1", "read 7,2", "read 7,3", "read 7,4", "read 7,5",            //
                          "read 8,1", "write 8,2 number 21", "write 8,3 number 1.25",            //
                          "write 8,4 number 900.5",                                              //
                          "read 9,1", "write 9,2 number 22", "write 9,3 number 1.5",             //
                          "write 9,4 number 901.5",                                              //
                          "read 10,1", "read 10,2", "read 10,3", "read 10,4",                    //
                          "read 11,1", "write 11,2 number 21", "write 11,3 number 22",           //
                          "read 12,1", "write 12,2 number 900.5", "write 12,3 number 901.5",
                          "read 13,1", "read 14,1",  //
                          "screenupdating true", "read 1,1", "calculation -4105"));
  EXPECT_EQ(stats, (PassStatistics{.rowsExamined = 13,
                                   .valuesWritten = 16,
                                   .noValueWritten = 0,
                                   .tmRequests = 15,
                                   .rowsNotUnderstood = {1},  // the header
                                   .rowsOutOfRange = {}}));
  EXPECT_EQ(s.App().Calculation(), xlCalculationAutomatic);
  EXPECT_TRUE(s.App().ScreenUpdating());
  // Steps: rows 1-5, two slice times, rows 8-9 (one analog entry each plus the row), the two
  // analog times of row 11, XEND: 5 + 2 + 4 + 2 + 1 = 14.
  EXPECT_EQ(s.progress.Maximum(), 15);
  EXPECT_EQ(s.progress.Position(), 0);
}

TEST(UpdateSheet, TmFailuresWriteTheMarkerAndAreNoFailureOfThePass) {
  Sheet s;
  s.Fill(ExampleSheet());
  s.tm.SetConnected(false);
  PassStatistics stats;
  EXPECT_TRUE(s.Run(&stats).ok());
  const std::string no = std::string("'").append(kNoValue).append("'");
  EXPECT_THAT(s.Changes(),
              ElementsAre("2,4=" + no, "3,4=" + no, "4,4=" + no, "6,4=" + no, "6,5=" + no,
                          "8,2=" + no, "8,3=" + no, "8,4=" + no, "9,2=" + no, "9,3=" + no,
                          "9,4=" + no, "11,2=" + no, "11,3=" + no, "12,2=" + no, "12,3=" + no));
  EXPECT_EQ(stats.noValueWritten, 15);
  EXPECT_EQ(stats.valuesWritten, 0);
  EXPECT_EQ(std::string(kNoValue), "\xD0\xBD\\\xD0\xB4");  // U+043D U+005C U+0434
}

// ---------------------------------------------------------------------------------------------
// Rows, blocks and their transitions.

struct SheetCase {
  const char* name;
  std::vector<Row> rows;
  std::vector<std::string> changes;
  std::vector<std::string> requests;
  std::vector<int32_t> rowsRead = {};  // empty: not checked
};

// Parameters print as their case names (ctest lists them).
void PrintTo(const SheetCase& c, std::ostream* out) {
  *out << c.name;
}

class SheetCases : public ::testing::TestWithParam<SheetCase> {};

// Every case starts from manual calculation (a workbook saved so, or a pass that ended early):
// the pass leaves it automatic, also when it ends at row 1.
TEST_P(SheetCases, WritesAndRequests) {
  const SheetCase& c = GetParam();
  Sheet s;
  s.Fill(c.rows);
  s.App().SetCalculation(xlCalculationManual, kLcid);
  EXPECT_TRUE(s.Run().ok());
  EXPECT_EQ(s.App().Calculation(), xlCalculationAutomatic);
  EXPECT_TRUE(s.App().ScreenUpdating());
  EXPECT_THAT(s.Changes(), ElementsAreArray(c.changes));
  EXPECT_THAT(s.tm.Described(), ElementsAreArray(c.requests));
  if (!c.rowsRead.empty()) {
    EXPECT_THAT(s.RowsRead(), ElementsAreArray(c.rowsRead));
  }
}

const std::string kNo = std::string("'").append(kNoValue).append("'");

INSTANTIATE_TEST_SUITE_P(
    BlockStates, SheetCases,
    ::testing::Values(
        SheetCase{
            "RetroOpens", {{"RETRO:3", "#TT1:1:1"}, {"t1"}}, {"2,2=111.5"}, {"analog 1:1:1 t1 3"}},
        SheetCase{"RetroWithEmptyListOpensNothing",
                  {{"RETRO", "", "#TT1:1:1"}, {"t1"}},
                  {},
                  {},
                  {1, 2, 3}},
        SheetCase{"RetroWithStatusFirstOpensNothing",
                  {{"RETRO", "#TC1:1:1", "#TT1:1:1"}, {"t1"}},
                  {},
                  {}},
        SheetCase{"RetroListStopsAtStatus",
                  {{"RETRO", "#TT1:1:1", "#TC1:1:2", "#TT1:1:3"}, {"t1"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 t1 0"}},
        SheetCase{
            "RetroEntriesOfEveryKind",
            {{"RETRO:3", "#TT1:1:1", "#TI1:1:2", "#PU1:1:3"}, {"t1"}, {"t2"}},
            {"2,2=111.5", "2,3=112.75", "2,4=113.25", "3,2=111.5", "3,3=112.75", "3,4=113.25"},
            {"analog 1:1:1 t1 3", "accum 1:1:2 t1", "accum 1:1:3 t1", "analog 1:1:1 t2 3",
             "accum 1:1:2 t2", "accum 1:1:3 t2"}},
        SheetCase{"RetroCyrillicEntries",
                  {{"RETRO", "#ТТ1:1:1", "#ТИ1:1:2", "#ПУ1:1:3"}, {"t1"}},
                  {"2,2=111.5", "2,3=112.75", "2,4=113.25"},
                  {"analog 1:1:1 t1 0", "accum 1:1:2 t1", "accum 1:1:3 t1"}},
        SheetCase{"RetroListIsUpperCasedButNotCyrillic",
                  {{"RETRO", "#tt1:1:1", "#пу1:1:2"}, {"t1"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 t1 0"}},
        SheetCase{"RetroEntryMatchingNothingKeepsItsColumn",
                  {{"RETRO", "#TT5", "#TT1:1:1"}, {"t1"}},
                  {"2,3=111.5"},
                  {"analog 1:1:1 t1 0"}},
        SheetCase{"RetroWordWithOtherTextUsesArchiveZero",
                  {{"RETROSPECTIVE:7", "#TT1:1:1"}, {"t"}, {"RETRO:x", "#TT1:1:2"}, {"u"}},
                  {"2,2=111.5", "4,2=112.5"},
                  {"analog 1:1:1 t 0", "analog 1:1:2 u 0"}},
        SheetCase{"LowerCaseRetroIsNoCommand", {{"retro", "#TT1:1:1"}, {"t1"}}, {}, {}},
        SheetCase{"RetroClosedByAddressRow",
                  {{"RETRO", "#TT1:1:1"}, {"t1"}, {"#TT1:1:2"}},
                  {"2,2=111.5", "3,4=112.5"},
                  {"analog 1:1:1 t1 0", "analog 1:1:2 N/A 0"}},
        SheetCase{"RetroClosedByEmptyRowEndsThePass",
                  {{"RETRO", "#TT1:1:1"}, {"t1"}, {""}, {"#TT1:1:2"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 t1 0"},
                  {1, 2, 3}},
        SheetCase{"RetroClosedByTextContainingRetro",
                  {{"RETRO", "#TT1:1:1"}, {"t1"}, {"see RETRO"}, {"t2"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 t1 0"}},
        SheetCase{"RetroFollowedByRetro",
                  {{"RETRO:1", "#TT1:1:1"}, {"t1"}, {"RETRO:2", "#TI1:1:2"}, {"t2"}},
                  {"2,2=111.5", "4,2=112.75"},
                  {"analog 1:1:1 t1 1", "accum 1:1:2 t2"}},
        SheetCase{"RetroFollowedByXRetro",
                  {{"RETRO", "#TT1:1:1"}, {"t1"}, {"XRETRO:4", "t2"}, {"#TT1:1:2"}},
                  {"2,2=111.5", "4,2=112.5"},
                  {"analog 1:1:1 t1 0", "analog 1:1:2 T2 4"}},
        SheetCase{"XEndInsideRetroIsATimeRow",
                  {{"RETRO:5", "#TT1:1:1"}, {"XEND"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 XEND 5"}},
        SheetCase{"LowerCaseRetroInsideRetroIsATimeRow",
                  {{"RETRO", "#TT1:1:1"}, {"retro"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 retro 0"}},
        SheetCase{"XRetroOpensWithUpperCasedTimes",
                  {{"XRETRO:2", "t1", "t2"}, {"#TT1:1:1"}},
                  {"2,2=111.5", "2,3=111.5"},
                  {"analog 1:1:1 T1 2", "analog 1:1:1 T2 2"}},
        SheetCase{"XRetroWithEmptyListOpensNothing",
                  {{"XRETRO"}, {"#TT1:1:1"}},
                  {"2,4=111.5"},
                  {"analog 1:1:1 N/A 0"}},
        SheetCase{"XRetroMeterReadingAndAccumulatorRows",
                  {{"XRETRO", "t1"}, {"#PU1:1:1"}, {"#ТИ1:1:2"}, {"#ПУ1:1:3"}},
                  {"2,2=111.25", "3,2=112.75", "4,2=113.25"},
                  {"accum 1:1:1 T1", "accum 1:1:2 T1", "accum 1:1:3 T1"}},
        SheetCase{"XRetroClosedByXEnd",
                  {{"XRETRO", "t1"}, {"#TT1:1:1"}, {"XEND"}, {"#TT1:1:2"}},
                  {"2,2=111.5", "4,4=112.5"},
                  {"analog 1:1:1 T1 0", "analog 1:1:2 N/A 0"}},
        SheetCase{"XRetroClosedByTextBeginningWithXEnd",
                  {{"XRETRO", "t1"}, {"XENDS"}, {"#TT1:1:2"}},
                  {"3,4=112.5"},
                  {"analog 1:1:2 N/A 0"}},
        SheetCase{"XRetroClosedByEmptyRowEndsThePass",
                  {{"XRETRO", "t1"}, {"#TT1:1:1"}, {""}, {"#TT1:1:2"}},
                  {"2,2=111.5"},
                  {"analog 1:1:1 T1 0"},
                  {1, 2, 3}},
        SheetCase{"CommandRowsInsideXRetroAreUntouched",
                  {{"XRETRO:1", "t1"}, {"RETRO", "#TT1:1:5"}, {"XRETRO:2", "t2"}, {"#TT1:1:1"}},
                  {"4,2=111.5"},
                  {"analog 1:1:1 T1 1"}},
        SheetCase{"StatusAndLowerCaseInsideXRetroAreUntouched",
                  {{"XRETRO", "t1", "t2", "t3"}, {"#TC1:1:1"}, {"#tt1:1:1"}, {"#TT1:1:2"}},
                  {"4,2=112.5", "4,3=112.5", "4,4=112.5"},
                  {"analog 1:1:2 T1 0", "analog 1:1:2 T2 0", "analog 1:1:2 T3 0"}},
        SheetCase{"XRetroRowsAreNotRangeChecked",
                  {{"XRETRO", "t1"}, {"#TT0:0:0"}},
                  {"2,2=0.5"},
                  {"analog 0:0:0 T1 0"}}),
    [](const auto& test) { return std::string(test.param.name); });

INSTANTIATE_TEST_SUITE_P(
    OrdinaryRows, SheetCases,
    ::testing::Values(
        SheetCase{"HeaderRowRequestsNothing", {{"ТМ адрес", "", "№ архива", "Значение"}}, {}, {}},
        SheetCase{"EmptyFirstCellEndsAtRowOne", {{""}, {"#TT1:1:1"}}, {}, {}, {1}},
        SheetCase{"LowerCaseAddressIsUpperCased",
                  {{"#tt1:1:1"}, {"#tc1:1:3"}},
                  {"1,4=111.5", "2,4=#1"},
                  {"analog 1:1:1 N/A 0", "status 1:1:3"}},
        SheetCase{"TextAfterTheAddressIsIgnored",
                  {{"#TT1:2:3 feeder"}},
                  {"1,4=123.5"},
                  {"analog 1:2:3 N/A 0"}},
        SheetCase{"CyrillicKinds",
                  {{"#ТТ1:1:1"}, {"#ТС1:1:2"}, {"#ТИ1:1:3"}},
                  {"1,4=111.5", "2,4=#0", "3,4=113.75", "3,5=113.25"},
                  {"analog 1:1:1 N/A 0", "status 1:1:2", "accum 1:1:3 ''"}},
        SheetCase{"NotAddresses",
                  {{"#ТТ1.2.3"}, {"#TС1:2:3"}, {"#ТТ1:2"}, {"#ПУ1:2:3"}, {"#PU1:2:3"}, {"note"}},
                  {},
                  {}},
        SheetCase{"RangeLimits",
                  {{"#TT0:1:1"},
                   {"#TT1:0:1"},
                   {"#TT1:1:0"},
                   {"#TT32001:1:1"},
                   {"#TC32000:32000:32000"},
                   {"#TT-1:1:1"}},
                  {"1,4=11.5", "5,4=#0"},
                  {"analog 0:1:1 N/A 0", "status 32000:32000:32000"}},
        SheetCase{"ArchiveNumberDecidesTheAnalogKind",
                  {{"#TT1:1:1"},
                   {"#TT1:1:2", "", "-5"},
                   {"#TT1:1:3", "", "abc"},
                   {"#TT1:1:4", "", "0", "a"},
                   {""},
                   {"#TT1:1:5", "", "$10", "b"},
                   {"x"},
                   {"#TC1:1:7", "", "3", "c"}},
                  {"1,4=111.5", "2,4=112.5", "3,4=113.5", "5,4=114.5", "7,4=115.5", "8,4=#1"},
                  {"analog 1:1:1 N/A 0", "analog 1:1:2 N/A 0", "analog 1:1:3 N/A 0",
                   "analog 1:1:4 a 0", "analog 1:1:5 b 16", "status 1:1:7"},
                  {1, 2, 3, 4, 6, 8, 9}},
        SheetCase{
            "ArchiveRowSkipsItsResultRow",
            {{"#TT1:1:1", "", "2", "a", "b", "c"}, {"#TT9:9:9"}, {"#TT1:1:2"}},
            {"2,4=111.5", "2,5=111.5", "2,6=111.5", "3,4=112.5"},
            {"analog 1:1:1 a 2", "analog 1:1:1 b 2", "analog 1:1:1 c 2", "analog 1:1:2 N/A 0"},
            {1, 3, 4}},
        SheetCase{"ArchiveRowWithoutTimesStillSkipsItsResultRow",
                  {{"#TT1:1:1", "", "0"}, {"#TT1:1:2"}, {"#TT1:1:3"}},
                  {"3,4=113.5"},
                  {"analog 1:1:3 N/A 0"},
                  {1, 3, 4}},
        SheetCase{"ArchiveNumbersGoOutAsLow16Bits",
                  {{"#TT1:1:1", "", "65538", "a"}, {""}, {"RETRO:-1", "#TT65536:1:1"}, {"t"}},
                  {"2,4=111.5", "4,2=11.5"},
                  {"analog 1:1:1 a 2", "analog 0:1:1 t 65535"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(UpdateSheet, AnalogValidityLimitAndShortestDecimal) {
  struct Case {
    float answer;
    bool written;
  };
  const float justAbove = std::nextafter(3.2e38f, std::numeric_limits<float>::infinity());
  const std::vector<Case> cases = {
      {0.1f, true},
      {3.0e38f, true},
      {3.2e38f, true},  // the float nearest 3.2e38 lies just below it
      {justAbove, false},
      {FLT_MAX, false},
      {std::numeric_limits<float>::infinity(), false},
      {std::numeric_limits<float>::quiet_NaN(), false},
      {-std::numeric_limits<float>::infinity(), false},
      {-1.0e38f, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    Sheet s;
    // Accumulator values are held to the same: no infinity or NaN reaches a cell.
    const bool finite = std::isfinite(c.answer);
    Sheet accum;
    accum.Fill({{"#TI1:1:3"}});
    accum.tm.SetAccum(1, 1, 3, c.answer, c.answer);
    EXPECT_TRUE(accum.Run().ok());
    for (int32_t column : {4, 5}) {
      const MemoryCell cell = accum.Cell(1, column);
      EXPECT_EQ(cell.kind, finite ? MemoryCell::Kind::Number : MemoryCell::Kind::Text);
      if (!finite) {
        EXPECT_EQ(cell.text, kNoValue);
      }
    }
    s.Fill({{"#TT1:1:1"}, {"#TT1:1:2", "", "4", "t"}});
    s.tm.SetAnalog(1, 1, 1, c.answer);
    s.tm.SetAnalog(1, 1, 2, c.answer, "t", 4);
    EXPECT_TRUE(s.Run().ok());
    for (int32_t row : {1, 3}) {
      const MemoryCell cell = s.Cell(row, 4);
      if (c.written) {
        EXPECT_EQ(cell.kind, MemoryCell::Kind::Number);
        // The shortest decimal of the float, which reads back as the same float.
        EXPECT_EQ(static_cast<float>(cell.number), c.answer);
        EXPECT_EQ(cell.number, ShortestDouble(c.answer));
      } else {
        EXPECT_EQ(cell.kind, MemoryCell::Kind::Text);
        EXPECT_EQ(cell.text, kNoValue);
      }
    }
  }
}

TEST(UpdateSheet, StatusAndAccumulatorFailures) {
  Sheet s;
  s.Fill({{"#TC1:1:1"}, {"#TC1:1:2"}, {"#TI1:1:3"}, {"#TI1:1:4"}});
  s.tm.SetStatus(1, 1, 1, -1);
  s.tm.SetStatus(1, 1, 2, -2);
  s.tm.SetAccum(1, 1, 3, 5.5f, 0.5f);
  s.tm.SetAccumResult(1, 1, 4, {0x10000, 7.0f, 8.0f});  // low 16 bits 0: a failure
  EXPECT_TRUE(s.Run().ok());
  EXPECT_THAT(s.Changes(),
              ElementsAre("1,4=" + kNo, "2,4=#-2", "3,4=0.5", "3,5=5.5", "4,4=" + kNo));

  // A later failure keeps the meter reading of the last success.
  s.tm.SetAccumResult(1, 1, 3, {0, 0, 0});
  EXPECT_TRUE(s.Run().ok());
  EXPECT_EQ(s.Cell(3, 5).number, 5.5);
  EXPECT_EQ(s.Cell(3, 4).text, kNoValue);
}

TEST(UpdateSheet, CountsTheRowsItSkips) {
  Sheet s;
  s.Fill({{"ТМ адрес"},
          {"#TT7.4.1"},
          {" #TT7:4:1"},
          {"#TТ7:4:1"},  // Latin T, Cyrillic Т
          {"#TT40000:4:1"},
          {"#TC1:0:1"},
          {"#TT1:1:1"},
          {"XEND"},
          {"RETRO", "#TT1:1:1"},
          {"t"},
          {"XRETRO", "t"},
          {"a note inside the block"},
          {"XEND"},
          {"после блока"}});
  PassStatistics stats;
  EXPECT_TRUE(s.Run(&stats).ok());
  EXPECT_EQ(stats.rowsNotUnderstood, (std::vector<int32_t>{1, 2, 3, 4, 14}));
  EXPECT_EQ(stats.rowsOutOfRange, (std::vector<int32_t>{5, 6}));
  EXPECT_EQ(stats.tmRequests, 2);  // rows 7 and 10: the skipped rows ask for nothing
}

TEST(UpdateSheet, StopsAfterRowTenThousand) {
  Sheet s;
  std::vector<Row> rows(10001, Row{"#TC1:1:1"});
  rows[9999] = {"#TT1:1:1", "", "0", "t"};  // row 10000: its result row is 10001
  s.Fill(rows);
  PassStatistics stats;
  EXPECT_TRUE(s.Run(&stats).ok());
  EXPECT_EQ(stats.rowsExamined, 10000);
  EXPECT_EQ(s.office.CountOf("read", 10001, 1), 0);
  EXPECT_EQ(s.Cell(9999, 4).text, "1");
  EXPECT_EQ(s.Cell(10001, 4).number, 111.5);
  EXPECT_EQ(s.Cell(10000, 4).text, "t");
}

TEST(UpdateSheet, ListsTakeAtMostOneThousandEntries) {
  Sheet s;
  Row retro{"RETRO"}, xretro{"XRETRO"};
  for (int i = 0; i < 1001; ++i) {
    // append: GCC 12 at -O3 warns falsely about "literal" + std::string.
    retro.push_back(std::string("#TT1:1:").append(std::to_string(i + 1)));
    xretro.push_back(std::string("t").append(std::to_string(i)));
  }
  s.Fill({retro, {"t"}, xretro, {"#TT1:1:1"}});
  PassStatistics stats;
  EXPECT_TRUE(s.Run(&stats).ok());
  EXPECT_EQ(s.office.CountOf("read", 1, 1001), 1);
  EXPECT_EQ(s.office.CountOf("read", 1, 1002), 0);
  EXPECT_EQ(s.office.CountOf("read", 3, 1002), 0);
  EXPECT_EQ(s.Cell(2, 1001).number, 1110.5);  // #TT1:1:1000
  EXPECT_EQ(s.Cell(2, 1002).kind, MemoryCell::Kind::Empty);
  EXPECT_EQ(s.Cell(4, 1001).kind, MemoryCell::Kind::Number);
  EXPECT_EQ(s.Cell(4, 1002).kind, MemoryCell::Kind::Empty);
  EXPECT_EQ(stats.tmRequests, 2000);
}

// ---------------------------------------------------------------------------------------------
// Spreadsheet failures.

TEST(UpdateSheet, SetUpFailuresEndThePassAtOnce) {
  for (const char* op : {"read", "calculation"}) {
    SCOPED_TRACE(op);
    Sheet s;
    s.Fill({{"#TT1:1:1"}});
    s.office.FailOperation(op);
    s.progress.SetPosition(30);
    EXPECT_EQ(s.Run().error().text.rfind("simulated failure of " + std::string(op), 0), 0u);
    const std::vector<std::string> probeOnly = {"read 1,1"};
    const std::vector<std::string> probeAndSwitch = {"read 1,1", "calculation -4135"};
    EXPECT_EQ(s.Calls(), std::string(op) == "read" ? probeOnly : probeAndSwitch);
    EXPECT_THAT(s.tm.Requests(), IsEmpty());
    EXPECT_EQ(s.progress.Position(), 0);
    EXPECT_EQ(s.progress.Maximum(), 100);
  }
}

TEST(UpdateSheet, ScreenUpdatingFailureEscapesThePass) {
  Sheet s;
  s.Fill({{"#TT1:1:1"}});
  s.office.FailOperation("screenupdating");
  EXPECT_THROW(s.Run(), SpreadsheetError);
  EXPECT_THAT(s.Calls(), ElementsAre("read 1,1", "calculation -4135", "screenupdating false"));

  // At the end: the calculation switch after it does not run.
  Sheet t;
  t.Fill({{"#TT1:1:1"}});
  t.office.Fail(MemoryOffice::Fault::Of("screenupdating", "true"));
  EXPECT_THROW(t.Run(), SpreadsheetError);
  EXPECT_EQ(t.Calls().back(), "screenupdating true");
  EXPECT_EQ(t.App().Calculation(), xlCalculationManual);
  EXPECT_EQ(t.Cell(1, 4).number, 111.5);
}

TEST(UpdateSheet, TearDownFailuresSetTheFlag) {
  using Fault = MemoryOffice::Fault;
  const std::pair<const char*, Fault> faults[] = {
      {"the closing probe read", Fault::At("read", 1, 1).Nth(3)},
      {"the calculation switch", Fault::Of("calculation", std::to_string(xlCalculationAutomatic))}};
  for (const auto& [name, fault] : faults) {
    SCOPED_TRACE(name);
    Sheet s;
    s.Fill({{"#TT1:1:1"}});
    s.office.Fail(fault);
    EXPECT_EQ(s.Run().error().text.rfind("simulated failure of ", 0), 0u);
    EXPECT_TRUE(s.App().ScreenUpdating());
    EXPECT_EQ(s.Cell(1, 4).number, 111.5);
  }
}

struct RowFailure {
  const char* name;
  std::vector<Row> rows;
  int32_t row, column;
  MemoryOffice::Access access;
  std::vector<std::string> changes;
  std::vector<int32_t> rowsRead;
};

// Parameters print as their case names (ctest lists them).
void PrintTo(const RowFailure& c, std::ostream* out) {
  *out << c.name;
}

class RowFailures : public ::testing::TestWithParam<RowFailure> {};

// The loop ends at the failure; later rows keep their old values ("old"); screen updating and
// automatic calculation come back; the pass reports the failure.
TEST_P(RowFailures, EndTheLoopAndRestoreTheApplication) {
  const RowFailure& c = GetParam();
  Sheet s;
  s.reference = true;
  s.Fill(c.rows);
  s.App().SetCalculation(xlCalculationManual, kLcid);
  s.office.FailCell(c.row, c.column, c.access);
  const char* op = c.access == MemoryOffice::Access::Read ? "read" : "write";
  EXPECT_EQ(s.Run().error().text.rfind(std::string("simulated failure of ") + op, 0), 0u);
  EXPECT_THAT(s.Changes(), ElementsAreArray(c.changes));
  EXPECT_THAT(s.RowsRead(), ElementsAreArray(c.rowsRead));
  EXPECT_TRUE(s.App().ScreenUpdating());
  EXPECT_EQ(s.App().Calculation(), xlCalculationAutomatic);
  EXPECT_EQ(s.progress.Position(), 0);
}

const std::vector<Row> kThreeRows = {{"#TT1:1:1"}, {"#TT1:1:2"}, {"#TT1:1:3", "", "", "old"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, RowFailures,
    ::testing::Values(
        RowFailure{
            "ColumnOneRead", kThreeRows, 2, 1, MemoryOffice::Access::Read, {"1,4=111.5"}, {1, 2}},
        RowFailure{
            "ColumnThreeRead", kThreeRows, 2, 3, MemoryOffice::Access::Read, {"1,4=111.5"}, {1, 2}},
        RowFailure{
            "ResultWrite", kThreeRows, 2, 4, MemoryOffice::Access::Write, {"1,4=111.5"}, {1, 2}},
        RowFailure{"AccumulatorPowerAfterMeterReading",
                   {{"#TI1:1:1"}, {"#TT1:1:2", "", "", "old"}},
                   1,
                   4,
                   MemoryOffice::Access::Write,
                   {"1,5=111.25"},
                   {1}},
        RowFailure{"CommandRowCell",
                   {{"RETRO", "#TT1:1:1", "#TT1:1:2"}, {"t"}},
                   1,
                   3,
                   MemoryOffice::Access::Read,
                   {},
                   {1}},
        RowFailure{"ArchiveRowTime",
                   {{"#TT1:1:1", "", "0", "a", "b"}, {"x"}, {"#TT1:1:2", "", "", "old"}},
                   1,
                   5,
                   MemoryOffice::Access::Read,
                   {"2,4=111.5"},
                   {1}},
        RowFailure{"ArchiveRowWrite",
                   {{"#TT1:1:1", "", "0", "a", "b"}, {"x"}, {"#TT1:1:2", "", "", "old"}},
                   2,
                   4,
                   MemoryOffice::Access::Write,
                   {},
                   {1}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(UpdateSheet, FailedWriteInRetroTimeRowDropsOnlyTheRestOfThatRow) {
  Sheet s;
  s.reference = true;
  s.Fill({{"RETRO", "#TT1:1:1", "#TI1:1:2", "#PU1:1:3"}, {"t1"}, {"t2"}, {"t3"}, {"#TC1:1:1"}});
  s.office.FailCell(3, 3, MemoryOffice::Access::Write);
  EXPECT_FALSE(s.Run().ok());
  EXPECT_THAT(s.Changes(), ElementsAre("2,2=111.5", "2,3=112.75", "2,4=113.25", "3,2=111.5",
                                       "4,2=111.5", "4,3=112.75", "4,4=113.25", "5,4=#1"));
  EXPECT_EQ(s.tm.Requests().size(), 9u);  // row 3 asked for columns 2 and 3 only
}

TEST(UpdateSheet, FailedXRetroStepGoesOnWithTheNextRow) {
  Sheet s;
  s.Fill({{"XRETRO", "t1", "t2", "t3"}, {"#TT1:1:1"}, {"#PU1:1:2"}, {"XEND"}, {"#TC1:1:1"}});
  s.office.FailCell(2, 3, MemoryOffice::Access::Write);
  EXPECT_FALSE(s.Run().ok());
  EXPECT_THAT(s.Changes(),
              ElementsAre("2,2=111.5", "3,2=112.25", "3,3=112.25", "3,4=112.25", "5,4=#1"));
}

// ---------------------------------------------------------------------------------------------
// Progress indicator.

TEST(UpdateSheet, LongPassRaisesTheMaximumFromTheHundredthStep) {
  Sheet s;
  s.Fill(std::vector<Row>(250, Row{"#TC1:1:1"}));
  std::vector<int32_t> maxima;
  s.progress.SetChangeHandler([&] { maxima.push_back(s.progress.Maximum()); });
  s.Run();
  EXPECT_EQ(s.progress.Maximum(), 251);
  EXPECT_EQ(s.progress.Position(), 0);
  EXPECT_EQ(std::count(maxima.begin(), maxima.end(), 100), 100);  // the first 100 steps

  // The next pass starts on the scale of this one; a shorter one scales it down.
  s.Fill(std::vector<Row>(5, Row{"#TC1:1:1"}));
  s.Fill({{""}}, 6);
  s.Run();
  EXPECT_EQ(s.progress.Maximum(), 6);
}

struct ProgressCase {
  const char* name;
  std::vector<Row> rows;
  int32_t maximumBefore;
  int32_t maximumAfter;
};

// Parameters print as their case names (ctest lists them).
void PrintTo(const ProgressCase& c, std::ostream* out) {
  *out << c.name;
}

class ProgressCases : public ::testing::TestWithParam<ProgressCase> {};

// Rows without a kind pick the maximum rule by the address that the last scan left.
TEST_P(ProgressCases, FinalMaximum) {
  const ProgressCase& c = GetParam();
  Sheet s;
  s.Fill(c.rows);
  s.progress.SetMaximum(c.maximumBefore);
  s.Run();
  EXPECT_EQ(s.progress.Maximum(), c.maximumAfter);
  EXPECT_EQ(s.progress.Position(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProgressCases,
    ::testing::Values(
        ProgressCase{"InRangeRows", {{"#TT1:1:1"}, {"note"}, {"#TT1:1:1"}}, 1, 4},
        ProgressCase{"OutOfRangeRowHoldsTheMaximum", {{"#TT1:1:0"}, {"note"}, {"#TT1:1:1"}}, 1, 2},
        ProgressCase{"PartialAddressStartsFromZero", {{"#TT1:1:1"}, {"#TT5"}, {"note"}}, 1, 3},
        ProgressCase{"HeaderRowSeesTheEmptyStartAddress", {{"ТМ адрес"}, {"#TT1:1:1"}}, 1, 2},
        ProgressCase{"OutOfRangeBelowTheMaximumChangesNothing",
                     {{"#TT1:1:0"}, {"#TT1:1:1"}, {"#TT1:1:1"}},
                     100,
                     4},
        ProgressCase{
            "XEndSeesTheLastBlockRow", {{"XRETRO", "t"}, {"#TT0:0:0"}, {"XEND"}, {"note"}}, 1, 3},
        ProgressCase{
            "XEndSeesAnInRangeBlockRow", {{"XRETRO", "t"}, {"#TT0:1:1"}, {"XEND"}, {"note"}}, 1, 4},
        ProgressCase{"RetroTimeRowSeesItsLastEntry",
                     {{"RETRO", "#TT1:1:1", "#TT0:0:0"}, {"t"}, {"see RETRO"}},
                     1,
                     4},
        ProgressCase{"RetroTimeRowWithInRangeEntries",
                     {{"RETRO", "#TT1:1:1", "#TT0:1:1"}, {"t"}, {"see RETRO"}},
                     1,
                     5},
        ProgressCase{"ArchiveTimesAreSteps", {{"#TT1:1:1", "", "1", "a", "b", "c"}}, 100, 5},
        ProgressCase{"SingleStepKeepsTheScale", {{"#TT1:1:1"}}, 40, 40}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace velt
