#include "Updater.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "DemoSheet.h"
#include "FakeTm.h"
#include "MemorySpreadsheet.h"
#include "SaveTargets.h"

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
      {{"--server", "srv", "book.xls", "--csv-separator", "\""}, kExitBadArguments},
      {{"--server", "srv", "book.xls", "--csv-separator", ";;"}, kExitBadArguments},
  };
  for (const auto& c : cases) {
    auto parsed = ParseUpdaterArguments(c.args);
    const auto* outcome = std::get_if<ParseOutcome>(&parsed);
    EXPECT_EQ(outcome ? outcome->exitCode : -1, c.exitCode) << c.args.front();
  }
  auto parsed =
      ParseUpdaterArguments({"--save-as", "o-%Y.pdf", "book.xls", "--server", "h\\S", "--cycle",
                             "60", "--save-as", "o.xls", "--no-save", "--csv-separator", "tab"});
  const auto& options = std::get<UpdaterOptions>(parsed);
  EXPECT_EQ(options.server, "h\\S");
  EXPECT_EQ(options.workbook, "book.xls");
  EXPECT_EQ(options.cycleSeconds, 60);
  EXPECT_EQ(options.saveAs, (std::vector<std::string>{"o-%Y.pdf", "o.xls"}));
  EXPECT_TRUE(options.noSave);
  EXPECT_EQ(options.csvSeparator, '\t');
}

TEST(SaveTargetNames, DateFieldsOfTheFileNameAreExpandedOthersRefused) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 4;
  t.tm_hour = 8;
  t.tm_min = 5;
  t.tm_sec = 9;
  t.tm_wday = 0;  // a Sunday
  t.tm_yday = 3;
  struct Case {
    const char* path;
    const char* expanded;  // nullptr: refused
    const char* badField;
  };
  const Case cases[] = {
      {"/r/day-%Y-%m-%d.pdf", "/r/day-2026-01-04.pdf", ""},
      {"/r/%H%M%S-%j-%u-%V.xlsx", "/r/080509-004-7-01.xlsx", ""},
      {"/r/100%%.csv", "/r/100%.csv", ""},
      {"/r/%Y/day.csv", "/r/%Y/day.csv", ""},  // folders are taken as written
      {"/r/day-%q.pdf", nullptr, "%q"},
      {"/r/day-%F.pdf", nullptr, "%F"},
      {"/r/day-%", nullptr, "%"},
      {"/r/day-%ж.pdf", nullptr, "%ж"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BadDateField(c.path).value_or(""), c.badField) << c.path;
    if (c.expanded) {
      EXPECT_EQ(ExpandDateFields(c.path, t), c.expanded) << c.path;
    }
  }
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
              return server != "wrong" && static_cast<int>(connects_.size()) > failedConnects_;
            },
        .takeLinkEvents =
            [this] {
              std::vector<LinkEvent> said;
              if (!said_.empty()) {
                said = said_.front();
                said_.erase(said_.begin());
              }
              return said;
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
        .terminal = terminal_,
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
  bool terminal_ = false;
  int failedConnects_ = 0;  // connects that fail before one succeeds
  // What the library says, one batch per look: after each connect and after each pass.
  std::vector<std::vector<LinkEvent>> said_;
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

TEST_F(UpdaterRun, SaveAsWritesCopiesBesideTheSavedWorkbookOrInsteadOfItWithNoSave) {
  const std::string copy = (dir_ / "copy.xls").string(), report = (dir_ / "report.pdf").string();
  EXPECT_EQ(Run({"--server", "srv", path_, "--save-as", copy, "--save-as", report}), kExitDone);
  EXPECT_EQ(Saved(copy, 1, 4).number, 115.5);
  EXPECT_EQ(Saved(report, 1, 4).number, 115.5);
  EXPECT_EQ(Saved(path_, 1, 4).number, 115.5);

  SetUp();
  EXPECT_EQ(Run({"--server", "srv", path_, "--save-as", copy, "--no-save"}), kExitDone);
  EXPECT_EQ(Saved(copy, 1, 4).number, 115.5);
  EXPECT_EQ(Saved(path_, 1, 4).kind, MemoryCell::Kind::Empty);

  // A file that cannot be written is named and has its own exit code; the workbook is saved.
  SetUp();
  office_.FailOperation("savecopy");
  err_.str("");
  EXPECT_EQ(Run({"--server", "srv", path_, "--save-as", report}), kExitOutputFailed);
  EXPECT_NE(err_.str().find("writing " + report + " failed"), std::string::npos) << err_.str();
  EXPECT_EQ(Saved(path_, 1, 4).number, 115.5);
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

// --verbose says the office's own reason, once.
TEST_F(UpdaterRun, SpreadsheetFailuresExitOne) {
  struct Case {
    const char* name;
    std::function<void(MemoryOffice&)> arm;
  };
  const Case cases[] = {
      {"write", [](MemoryOffice& o) { o.FailCell(1, 4, MemoryOffice::Access::Write); }},
      {"screenupdating", [](MemoryOffice& o) { o.FailOperation("screenupdating"); }},
      {"save", [](MemoryOffice& o) { o.FailOperation("save"); }},
      {"start", [](MemoryOffice& o) { o.FailOperation("start"); }},
  };
  for (const auto& c : cases) {
    office_.ClearFaults();
    c.arm(office_);
    err_.str("");
    const int code = Run({"--server", "srv", path_, "--verbose"});
    EXPECT_EQ(code, std::string(c.name) == "start" ? kExitNoWorkbook : kExitSpreadsheetFailed)
        << c.name;
    EXPECT_EQ(office_.Running(), 0) << c.name;
    const std::string err = err_.str(), why = std::string("simulated failure of ") + c.name;
    EXPECT_NE(err.find(why), std::string::npos) << err;
    EXPECT_EQ(err.find("simulated failure"), err.rfind("simulated failure")) << err;
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

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(UpdaterRun, PathsThatCannotBeSavedAreRefusedBeforeConnecting) {
  struct Case {
    const char* name;
    std::function<std::vector<std::string>(const fs::path&)> arrange;  // extra arguments
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"read-only workbook",
       [this](const fs::path&) {
         fs::permissions(path_,
                         fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
         return std::vector<std::string>{};
       },
       kExitNoWorkbook, "is read-only"},
      {"folder not writable",
       [](const fs::path& dir) {
         fs::permissions(dir,
                         fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
         return std::vector<std::string>{};
       },
       kExitNoWorkbook, "cannot be written"},
      {"empty workbook",
       [this](const fs::path&) {
         std::ofstream(path_, std::ios::trunc).flush();
         return std::vector<std::string>{};
       },
       kExitNoWorkbook, "is empty"},
      {"save as txt",
       [](const fs::path& dir) {
         return std::vector<std::string>{"--save-as", (dir / "out.pdf").string(), "--save-as",
                                         (dir / "out.txt").string()};
       },
       kExitBadArguments, "not a known format"},
      {"save as without extension",
       [](const fs::path& dir) {
         return std::vector<std::string>{"--save-as", (dir / "out").string()};
       },
       kExitBadArguments, "not a known format"},
      {"a field that is no date",
       [](const fs::path& dir) {
         return std::vector<std::string>{"--save-as", (dir / "out-%Y-%q.pdf").string()};
       },
       kExitBadArguments, "%q is not a date field"},
      {"save as into a missing folder",
       [](const fs::path& dir) {
         return std::vector<std::string>{"--save-as", (dir / "nowhere" / "out.xls").string()};
       },
       kExitBadArguments, "does not exist"},
  };
  for (const auto& c : cases) {
    SetUp();
    connects_.clear();
    err_.str("");
    const auto calls = office_.CallCount();
    std::vector<std::string> args{"--server", "srv", path_};
    for (auto& more : c.arrange(dir_)) args.push_back(more);
    EXPECT_EQ(Run(args), c.exitCode) << c.name;
    EXPECT_NE(err_.str().find(c.says), std::string::npos) << c.name << ": " << err_.str();
    EXPECT_TRUE(connects_.empty()) << c.name;
    EXPECT_EQ(office_.CallCount(), calls) << c.name;
    EXPECT_FALSE(fs::exists(dir_ / "nowhere")) << c.name;
    fs::permissions(dir_, fs::perms::owner_all);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  }
}

TEST_F(UpdaterRun, CycleRunWaitsForTheServerAndSaysWhyOnce) {
  failedConnects_ = 2;
  const LinkEvent why{LinkEventKind::kNothingListens, "h:1\\TMS", {}};
  const LinkEvent connected{LinkEventKind::kConnected, "h:1\\TMS", {}};
  said_ = {{why}, {why}, {connected}};
  EXPECT_EQ(Run({"--server", "srv", path_, "--cycle", "5"}, 4), kExitDone);
  EXPECT_EQ(connects_.size(), 3u);
  EXPECT_EQ(waits_, (std::vector<int>{5, 5, 5, 5}));
  EXPECT_EQ(Count(err_.str(), "nothing listens at this address"), 1u) << err_.str();
  EXPECT_EQ(Saved(path_, 1, 4).number, 115.5);
  connects_.clear();
  EXPECT_EQ(Run({"--server", "srv", path_}), kExitNoConnection);  // a single run gives up
}

// What the library's events say reaches the terminal: why a link made broke at once, and a
// server's refusal with its control characters shown, not obeyed; a server message in the
// library's words is only a message.
TEST_F(UpdaterRun, ConnectFailuresSayWhyAndServerTextsAreEscaped) {
  const std::string where = "h:1\\TMS";
  struct Case {
    std::vector<LinkEvent> said;
    const char* says;
  };
  const std::vector<Case> cases = {
      {{{LinkEventKind::kConnected, where, {}},
        {LinkEventKind::kLost, where, "a malformed frame: unexpected message type"}},
       "did not hold: a malformed frame: unexpected message type"},
      {{{LinkEventKind::kNameRefused, where, "go \x1b[31maway\x07"}}, "go \\x1B[31maway\\x07"},
  };
  for (const Case& c : cases) {
    said_ = {c.said};
    err_.str("");
    EXPECT_EQ(Run({"--server", "wrong", path_, "--verbose"}), kExitNoConnection);
    EXPECT_EQ(Count(err_.str(), c.says), 1u) << err_.str();  // said, and once
    EXPECT_EQ(err_.str().find('\x1b'), std::string::npos);
  }
  said_ = {{{LinkEventKind::kConnected, where, {}}},
           {{LinkEventKind::kOther, {}, "connection lost: " + where}}};
  EXPECT_EQ(Run({"--server", "srv", path_}), kExitDone);
}

TEST_F(UpdaterRun, LostLinkIsReportedOnceAndFailsASingleRun) {
  const LinkEvent connected{LinkEventKind::kConnected, "h:1\\TMS", {}};
  const LinkEvent nothing{LinkEventKind::kNothingListens, "h:1\\TMS", {}};
  // A server message in the library's words is only a message.
  const LinkEvent mimic{LinkEventKind::kOther, {}, "connection lost: h:1\\TMS"};
  const std::vector<std::vector<LinkEvent>> said = {
      {connected, mimic},
      {{LinkEventKind::kLost, "h:1\\TMS", {}}, nothing},
      {nothing},
      {connected},
  };
  said_ = said;
  EXPECT_EQ(Run({"--server", "srv", path_}), kExitNoConnection);
  EXPECT_EQ(Saved(path_, 1, 4).number, 115.5);  // saved before giving up

  said_ = said;
  err_.str("");
  out_.str("");
  EXPECT_EQ(Run({"--server", "srv", path_, "--cycle", "1"}, 3), kExitDone);
  EXPECT_EQ(Count(err_.str(), "was lost"), 1u) << err_.str();
  EXPECT_EQ(Count(err_.str(), "is back"), 1u) << err_.str();
  // In a cycle run every summary line starts with the local time.
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d rows examined: .*)");
  std::istringstream lines(out_.str());
  int passes = 0;
  for (std::string line; std::getline(lines, line); ++passes) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  }
  EXPECT_EQ(passes, 3);
}

TEST_F(UpdaterRun, ProgressShowsRowsAndTimeAtMostTenTimesASecondAndClearsItself) {
  MemoryWorkbookData data;
  MemorySheetData sheet;
  sheet.name = "ВЕЛТ";
  for (int32_t r = 1; r <= 5000; ++r) {
    sheet.cells[{r, 1}] = MemoryCell{MemoryCell::Kind::Text, 0, "#TT1:2:3", false};
  }
  data.sheets.push_back(sheet);
  office_.PutFile(path_, data);
  terminal_ = true;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({"--server", "srv", path_}), kExitDone);
  const auto tenths = (std::chrono::steady_clock::now() - started) / std::chrono::milliseconds(100);
  const std::string drawn = err_.str();
  const size_t draws = Count(drawn, "\rrows examined: ");
  EXPECT_GE(draws, 1u);
  EXPECT_LE(draws, static_cast<size_t>(tenths) + 1);
  EXPECT_EQ(drawn.find('%'), std::string::npos);
  EXPECT_EQ(drawn.back(), '\r') << "the last line is left on the terminal";
  EXPECT_NE(drawn.find(std::string(24, ' ') + "\r"), std::string::npos) << "not cleared";
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
