#include "Updater.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "DemoSheet.h"
#include "FakeTm.h"
#include "MemorySpreadsheet.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

TEST(UpdaterArguments, ParseOutcomes) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;  // -1: parsed
  };
  const Case cases[] = {
      {{"--server", "srv", "book.xls"}, -1},
      {{"book.xls", "--server", "h:1\\TMS", "--cycle", "60", "--save-as", "out.xlsx"}, -1},
      {{"--help"}, kExitDone},
      {{"book.xls"}, kExitBadArguments},
      {{"--server", "srv"}, kExitBadArguments},
      {{"--server", "srv", "book.xls", "--cycle", "0"}, kExitBadArguments},
      {{"--server", "srv", "book.xls", "--cycle", "x"}, kExitBadArguments},
      {{"--server", "srv", "book.xls", "--save-as", ""}, kExitBadArguments},
      {{"--server", "srv", "book.xls", "extra.xls"}, kExitBadArguments},
      {{"--server", "srv", "book.xls", "--bogus"}, kExitBadArguments},
  };
  for (const auto& c : cases) {
    auto parsed = ParseUpdaterArguments(c.args);
    const auto* outcome = std::get_if<ParseOutcome>(&parsed);
    EXPECT_EQ(outcome ? outcome->exitCode : -1, c.exitCode) << c.args.front();
  }
  auto parsed = ParseUpdaterArguments(
      {"book.xls", "--server", "h\\S", "--cycle", "60", "--save-as", "o.xls"});
  const auto& options = std::get<UpdaterOptions>(parsed);
  EXPECT_EQ(options.server, "h\\S");
  EXPECT_EQ(options.workbook, "book.xls");
  EXPECT_EQ(options.cycleSeconds, 60);
  EXPECT_EQ(options.saveAs, "o.xls");
}

class UpdaterRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    path_ = (dir_ / "book.xls").string();
    std::ofstream(path_) << "stand-in";
    MemoryWorkbookData data;
    MemorySheetData sheet;
    sheet.name = "ВЕЛТ";
    sheet.cells[{1, 1}] = MemoryCell{MemoryCell::Kind::Text, 0, "#TT1:2:3", false};
    sheet.cells[{2, 1}] = MemoryCell{MemoryCell::Kind::Text, 0, "#TC1:2:10", false};
    data.sheets.push_back(sheet);
    office_.PutFile(path_, data);
    tm_.SetAnalog(1, 2, 3, 115.5f);
    tm_.SetStatus(1, 2, 10, 1);
  }

  int Run(std::vector<std::string> args, int passesBeforeStop = 1) {
    auto parsed = ParseUpdaterArguments(args);
    UpdaterContext context{
        .launcher = office_,
        .tm = tm_,
        .connect =
            [this](const std::string& server) {
              connects_.push_back(server);
              return server != "wrong";
            },
        .disconnect = [this] { ++disconnects_; },
        .waitForStop =
            [this, passesBeforeStop](int seconds) {
              waits_.push_back(seconds);
              return static_cast<int>(waits_.size()) >= passesBeforeStop;
            },
        .stopRequested = [] { return false; },
        .out = out_,
        .err = err_,
    };
    return RunUpdater(std::get<UpdaterOptions>(parsed), context);
  }

  MemoryCell Saved(const std::string& path, int32_t row, int32_t column) {
    const auto& cells = office_.File(path).sheets.at(0).cells;
    auto it = cells.find({row, column});
    return it == cells.end() ? MemoryCell{} : it->second;
  }

  testsupport::TemporaryDirectory temporary_{"veltexcel-updater-test"};
  const fs::path& dir_ = temporary_.path();
  std::string path_;
  MemoryOffice office_;
  FakeTm tm_;
  std::vector<std::string> connects_;
  int disconnects_ = 0;
  std::vector<int> waits_;
  std::ostringstream out_, err_;
};

TEST_F(UpdaterRun, OncePassFillsAndSavesTheWorkbook) {
  EXPECT_EQ(Run({"--server", "srv", path_}), kExitDone);
  EXPECT_EQ(connects_, std::vector<std::string>{"srv"});
  EXPECT_EQ(Saved(path_, 1, 4).number, 115.5);
  EXPECT_EQ(Saved(path_, 2, 4).number, 1);
  EXPECT_EQ(office_.Running(), 0);
  EXPECT_EQ(disconnects_, 1);
  EXPECT_NE(
      out_.str().find("rows examined: 3, values written: 2, \"н\\д\" markers: 0, spreadsheet: ok"),
      std::string::npos)
      << out_.str();
  EXPECT_TRUE(waits_.empty());
}

TEST_F(UpdaterRun, SaveAsLeavesTheOriginalUntouched) {
  const std::string other = (dir_ / "copy.xls").string();
  EXPECT_EQ(Run({"--server", "srv", path_, "--save-as", other}), kExitDone);
  EXPECT_EQ(Saved(other, 1, 4).number, 115.5);
  EXPECT_EQ(Saved(path_, 1, 4).kind, MemoryCell::Kind::Empty);
}

TEST_F(UpdaterRun, WrongServerExitsThreeWithoutOpeningAnything) {
  EXPECT_EQ(Run({"--server", "wrong", path_}), kExitNoConnection);
  EXPECT_EQ(office_.CallCount(), 0);
  EXPECT_EQ(Saved(path_, 1, 4).kind, MemoryCell::Kind::Empty);
  EXPECT_NE(err_.str().find("no connection"), std::string::npos);
}

TEST_F(UpdaterRun, MissingWorkbookExitsFourAndCreatesNothing) {
  const std::string missing = (dir_ / "missing.xls").string();
  EXPECT_EQ(Run({"--server", "srv", missing}), kExitNoWorkbook);
  EXPECT_TRUE(connects_.empty());
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(office_.HasFile(missing));
}

TEST_F(UpdaterRun, WorkbookWithoutDataSheetExitsFour) {
  MemoryWorkbookData data;
  data.sheets.push_back(MemorySheetData{"Лист1", {}, {}});
  office_.PutFile(path_, data);
  EXPECT_EQ(Run({"--server", "srv", path_}), kExitNoWorkbook);
  EXPECT_NE(err_.str().find("has no sheet \"ВЕЛТ\""), std::string::npos);
  EXPECT_EQ(office_.Running(), 0);
  EXPECT_EQ(disconnects_, 1);
}

TEST_F(UpdaterRun, SpreadsheetFailuresExitOne) {
  struct Case {
    const char* name;
    std::function<void(MemoryOffice&)> arm;
  };
  const Case cases[] = {
      {"write fails", [](MemoryOffice& o) { o.FailCell(1, 4, MemoryOffice::Access::Write); }},
      {"screen updating fails", [](MemoryOffice& o) { o.FailOperation("screenupdating"); }},
      {"save fails", [](MemoryOffice& o) { o.FailOperation("save"); }},
      {"start fails", [](MemoryOffice& o) { o.FailOperation("start"); }},
  };
  for (const auto& c : cases) {
    office_.ClearFaults();
    c.arm(office_);
    const int code = Run({"--server", "srv", path_});
    EXPECT_EQ(code, std::string(c.name) == "start fails" ? kExitNoWorkbook : kExitSpreadsheetFailed)
        << c.name;
    EXPECT_EQ(office_.Running(), 0) << c.name;
  }
}

TEST_F(UpdaterRun, CycleRepeatsUntilStopAndSavesEachPass) {
  EXPECT_EQ(Run({"--server", "srv", path_, "--cycle", "7"}, 3), kExitDone);
  EXPECT_EQ(waits_, (std::vector<int>{7, 7, 7}));
  int saves = 0;
  for (const auto& call : office_.Log()) saves += call.op == "save";
  EXPECT_EQ(saves, 3);
  EXPECT_EQ(tm_.RequestCount(), 3 * 3);  // system time, analog, status per pass
}

TEST(DemoSheet, FormatsAlignedRowsAndSkipsEmptyOnes) {
  MemoryOffice office;
  auto app = office.Start();
  auto wb = app->Add();
  WriteDemoSheet(*wb);
  auto sheet = wb->WorksheetByName("ВЕЛТ");
  const std::string table = FormatSheet(*sheet, kDemoRows, kDemoColumns);
  std::istringstream lines(table);
  std::string first;
  std::getline(lines, first);
  EXPECT_EQ(first.rfind(" 1 | ТМ адрес ", 0), 0u) << first;
  EXPECT_EQ(DisplayWidth("ТМ адрес"), 8u);
  EXPECT_EQ(static_cast<size_t>(std::count(table.begin(), table.end(), '\n')),
            DemoSheetCells().size());
}

}  // namespace
}  // namespace velt
