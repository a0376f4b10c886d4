#include "WorkbookOperations.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "MemorySpreadsheet.h"
#include "WorkbookOperationsFakes.h"

namespace velt {
namespace {

// Everything one operation touches; the operations go first when it ends.
struct World {
  MemoryOffice office;
  ScriptedDialogs dialogs;
  RecordingView view;
  WorkbookOperations ops{office, dialogs, view};

  std::shared_ptr<MemoryWorkbook> Linked() const {
    auto* app = office.LastApplication();
    return app && !app->Workbooks().empty() ? app->Workbooks().back() : nullptr;
  }
  int Count(const std::string& op) const {
    const auto& log = office.Log();
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const MemoryCall& c) { return c.op == op; }));
  }
};

const std::string kBook = "/data/отчёт.xls";

MemoryWorkbookData BookWithDataSheet() {
  MemoryWorkbookData data;
  data.sheets.push_back({"Лист1", {}, {}});
  MemorySheetData sheet{"ВЕЛТ", {}, {}};
  sheet.cells[{2, 1}] = {MemoryCell::Kind::Text, 0, "#TT1:2:3", false};
  data.sheets.push_back(sheet);
  data.activeSheet = "Лист1";
  return data;
}

MemoryWorkbookData BookWithoutDataSheet() {
  MemoryWorkbookData data;
  data.sheets.push_back({"Лист1", {}, {}});
  return data;
}

const MemorySheetData* StoredSheet(const MemoryOffice& office, const std::string& path,
                                   const std::string& name) {
  if (!office.HasFile(path)) return nullptr;
  for (const auto& sheet : office.File(path).sheets) {
    if (sheet.name == name) return &sheet;
  }
  return nullptr;
}

void ExpectHeaderRow(MemoryWorksheet& sheet) {
  EXPECT_EQ(sheet.Text(1, 1), "ТМ адрес");
  EXPECT_EQ(sheet.Text(1, 2), "Наименование параметра");
  EXPECT_EQ(sheet.Text(1, 3), "№ архива");
  EXPECT_EQ(sheet.Text(1, 4), "Значение");
  EXPECT_EQ(sheet.Data().columnWidths, (std::map<int32_t, double>{{1, 12}, {2, 32}}));
}

TEST(ExOpen, BindsAnExistingDataSheetWithoutAsking) {
  World w;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  EXPECT_TRUE(w.dialogs.shown.empty());
  EXPECT_TRUE(w.ops.SheetReady());
  EXPECT_TRUE(w.ops.IsOpen());
  EXPECT_FALSE(w.ops.Closing());
  ASSERT_NE(w.ops.ExWs(), nullptr);
  EXPECT_EQ(w.ops.ExWs()->CellText(2, 1), "#TT1:2:3");
  EXPECT_EQ(w.view.caption, "отчёт.xls");
  EXPECT_EQ(w.view.openFileName, kBook);
  EXPECT_EQ(w.view.OpenState(), true);
  auto* app = w.office.LastApplication();
  EXPECT_TRUE(app->Visible());
  EXPECT_FALSE(app->DisplayAlerts());
  EXPECT_TRUE(w.Linked()->IsSaved());
}

TEST(ExOpen, ApplicationThatCannotStartIsReportedAndNothingOpens) {
  World w;
  w.office.FailOperation("start");
  w.ops.ExOpen(kBook);
  EXPECT_EQ(w.dialogs.shown, std::vector<std::string>{
                                 "error: Не могу запустить Excel! (simulated failure of start)"});
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_FALSE(w.ops.IsOpen());
  EXPECT_EQ(w.view.OpenState(), std::nullopt);
  // The caption and the stored path change before the start, as the first step.
  EXPECT_EQ(w.view.caption, "отчёт.xls");
  EXPECT_EQ(w.view.openFileName, kBook);
}

TEST(ExOpen, MissingWorkbookRefusedQuitsTheApplicationQuietly) {
  World w;
  w.dialogs.answers = {false};
  w.ops.ExOpen(kBook);
  EXPECT_EQ(w.dialogs.shown, std::vector<std::string>{"ask: Нет указанного файла - Создать?"});
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_FALSE(w.office.HasFile(kBook));
  EXPECT_FALSE(w.ops.IsOpen());
  EXPECT_EQ(w.ops.ExAp(), nullptr);
}

TEST(ExOpen, MissingWorkbookCreatedThenDataSheetCreated) {
  World w;
  w.dialogs.answers = {true, true};
  w.ops.ExOpen(kBook);
  EXPECT_EQ(w.dialogs.shown, (std::vector<std::string>{"ask: Нет указанного файла - Создать?",
                                                       "ask: Нет листа ВЕЛТ - Создать?"}));
  // Saved at the path before the data sheet exists.
  ASSERT_TRUE(w.office.HasFile(kBook));
  EXPECT_EQ(StoredSheet(w.office, kBook, "ВЕЛТ"), nullptr);
  EXPECT_TRUE(w.ops.SheetReady());
  EXPECT_TRUE(w.ops.IsOpen());
  auto sheet = w.Linked()->Sheet("ВЕЛТ");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->Data().name, "ВЕЛТ");
  ExpectHeaderRow(*sheet);

  // Autosave on: the header row reaches the file when the workbook is closed.
  w.ops.Close();
  const auto* stored = StoredSheet(w.office, kBook, "ВЕЛТ");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->cells.at({1, 1}).text, "ТМ адрес");
}

TEST(ExOpen, WorkbookWithoutDataSheetStaysOpenWhenCreationIsRefused) {
  World w;
  w.office.PutFile(kBook, BookWithoutDataSheet());
  w.dialogs.answers = {false};
  w.ops.ExOpen(kBook);
  EXPECT_EQ(w.dialogs.shown, std::vector<std::string>{"ask: Нет листа ВЕЛТ - Создать?"});
  EXPECT_TRUE(w.ops.IsOpen());
  EXPECT_FALSE(w.ops.SheetReady());
  EXPECT_EQ(w.ops.ExWs(), nullptr);  // an update pass finds nothing to work on
  EXPECT_EQ(w.view.OpenState(), true);
  EXPECT_EQ(w.office.Running(), 1);
  w.ops.Close();  // without a data sheet, not saved even with autosave
  EXPECT_EQ(w.Count("save"), 0);

  // Opened again, the data sheet is created on request, and the autosave then covers it.
  w.dialogs.answers = {false};
  w.ops.ExOpen(kBook);
  w.ops.ShowOrCreateDataSheet();
  EXPECT_TRUE(w.ops.SheetReady());
  ExpectHeaderRow(*w.Linked()->Sheet("ВЕЛТ"));
  EXPECT_EQ(w.Linked()->ActiveSheet(), "ВЕЛТ");
}

TEST(ExOpen, DataSheetThatCannotBeCreatedIsReported) {
  struct Case {
    const char* name;
    std::function<void(MemoryOffice&)> arm;
  };
  const Case cases[] = {
      {"add the sheet", [](MemoryOffice& o) { o.FailOperation("addsheet"); }},
      {"name it", [](MemoryOffice& o) { o.FailOperation("name"); }},
      {"first header cell", [](MemoryOffice& o) { o.FailCell(1, 1, MemoryOffice::Access::Write); }},
      {"column width", [](MemoryOffice& o) { o.FailOperation("width"); }},
      {"last header cell", [](MemoryOffice& o) { o.FailCell(1, 4, MemoryOffice::Access::Write); }},
  };
  for (const auto& c : cases) {
    World w;
    w.office.PutFile(kBook, BookWithoutDataSheet());
    c.arm(w.office);
    w.dialogs.answers = {true};
    w.ops.ExOpen(kBook);
    EXPECT_EQ(w.dialogs.shown, (std::vector<std::string>{"ask: Нет листа ВЕЛТ - Создать?",
                                                         "error: Ошибка создания листа ВЕЛТ"}))
        << c.name;
    EXPECT_FALSE(w.ops.SheetReady()) << c.name;
    EXPECT_EQ(w.ops.ExWs(), nullptr) << c.name;
    // The workbook itself is open all the same.
    EXPECT_TRUE(w.ops.IsOpen()) << c.name;
    EXPECT_EQ(w.view.OpenState(), true) << c.name;
  }
}

TEST(ExOpen, FailedSaveOfANewWorkbookEscapesAndLeavesNothingOpen) {
  World w;
  w.office.FailOperation("saveas");
  w.dialogs.answers = {true};
  EXPECT_THROW(w.ops.ExOpen(kBook), SpreadsheetError);
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_FALSE(w.ops.IsOpen());
  EXPECT_FALSE(w.ops.SheetReady());
  EXPECT_EQ(w.ops.ExAp(), nullptr);
  EXPECT_NE(w.view.OpenState(), true);

  // The open commands work again.
  w.office.ClearFaults();
  w.dialogs.answers = {true, true};
  w.ops.ExOpen(kBook);
  EXPECT_TRUE(w.ops.SheetReady());
  EXPECT_EQ(w.office.Running(), 1);
}

TEST(ExOpen, FailureAfterTheWorkbookIsThereEscapesAndReleasesIt) {
  for (const char* op : {"visible", "alerts", "saved"}) {
    World w;
    w.office.PutFile(kBook, BookWithDataSheet());
    w.office.FailOperation(op);
    EXPECT_THROW(w.ops.ExOpen(kBook), SpreadsheetError) << op;
    EXPECT_EQ(w.office.Running(), 0) << op;
    EXPECT_FALSE(w.ops.IsOpen()) << op;
    EXPECT_FALSE(w.ops.SheetReady()) << op;
    EXPECT_NE(w.view.OpenState(), true) << op;
  }
}

TEST(ExOpen, ExistingFileThatDoesNotOpenIsNeverOverwritten) {
  char name[] = "/tmp/velt-locked-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  { std::ofstream(name) << "someone else's workbook"; }
  World w;  // the in-memory store does not hold it: opening fails as for a locked file
  w.ops.ExOpen(name);
  EXPECT_EQ(w.dialogs.shown, std::vector<std::string>{std::string("error: cannot open ") + name});
  EXPECT_EQ(w.Count("saveas"), 0);
  EXPECT_EQ(w.office.Running(), 0);
  std::ifstream in(name);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's workbook");
  std::remove(name);
}

TEST(ExOpen, WhileAWorkbookIsOpenTheOldOneIsClosedFirst) {
  World w;
  const std::string other = "/data/second.xls";
  w.office.PutFile(kBook, BookWithDataSheet());
  w.office.PutFile(other, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.ops.ExWs()->SetCellNumber(2, 4, 42);
  w.ops.ExOpen(other);
  EXPECT_EQ(w.office.Running(), 1);
  EXPECT_EQ(w.view.caption, "second.xls");
  EXPECT_TRUE(w.ops.SheetReady());
  EXPECT_FALSE(w.ops.Closing());
  EXPECT_EQ(StoredSheet(w.office, kBook, "ВЕЛТ")->cells.at({2, 4}).text, "42");
  EXPECT_TRUE(w.view.timers.empty());
}

TEST(ExOpen, CloseDuringAQuestionAbandonsTheOpen) {
  World w;
  w.dialogs.answers = {true};
  w.dialogs.duringQuestion = [&] { w.ops.Close(); };
  w.ops.ExOpen(kBook);
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_FALSE(w.ops.IsOpen());
  EXPECT_FALSE(w.office.HasFile(kBook));
}

TEST(ExOpen, SecondOpenDuringAQuestionIsIgnored) {
  World w;
  w.dialogs.answers = {false};
  w.dialogs.duringQuestion = [&] {
    w.dialogs.duringQuestion = nullptr;
    w.ops.ExOpen("/data/other.xls");
  };
  w.ops.ExOpen(kBook);
  EXPECT_EQ(w.Count("start"), 1);
  EXPECT_EQ(w.office.Running(), 0);
}

TEST(ShowOrCreateDataSheet, ActivatesTheBoundSheet) {
  World w;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  ASSERT_EQ(w.Linked()->ActiveSheet(), "Лист1");
  w.ops.ShowOrCreateDataSheet();
  EXPECT_EQ(w.Linked()->ActiveSheet(), "ВЕЛТ");
  EXPECT_EQ(w.Linked()->Sheets().size(), 2u);
  EXPECT_TRUE(w.dialogs.shown.empty());
}

TEST(ShowOrCreateDataSheet, WithoutAWorkbookDoesNothing) {
  World w;
  w.ops.ShowOrCreateDataSheet();
  EXPECT_EQ(w.office.CallCount(), 0);
}

TEST(Close, AutosaveKeepsOrDropsTheValuesWrittenSinceTheLastSave) {
  for (bool autosave : {true, false}) {
    World w;
    w.view.autosave = autosave;
    w.office.PutFile(kBook, BookWithDataSheet());
    w.ops.ExOpen(kBook);
    w.ops.ExWs()->SetCellNumber(2, 4, 21.5);
    w.ops.Close();
    const auto& cells = StoredSheet(w.office, kBook, "ВЕЛТ")->cells;
    EXPECT_EQ(cells.count({2, 4}), autosave ? 1u : 0u) << autosave;
    EXPECT_TRUE(w.dialogs.shown.empty());
    EXPECT_EQ(w.office.Running(), 0);
    EXPECT_TRUE(w.ops.Closing());
    EXPECT_FALSE(w.ops.SheetReady());
    EXPECT_FALSE(w.ops.IsOpen());
    EXPECT_EQ(w.view.OpenState(), false);
  }
}

TEST(Close, FailedAutosaveIsReportedAndTheLinkIsReleasedAnyway) {
  World w;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.office.FailOperation("save");
  w.ops.Close();
  ASSERT_EQ(w.dialogs.shown.size(), 1u);
  EXPECT_EQ(w.dialogs.shown[0].rfind("error: simulated failure of save", 0), 0u);
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_FALSE(w.ops.IsOpen());
  EXPECT_EQ(w.view.OpenState(), false);
}

TEST(Close, AtExitWithNothingOpenOnlyResetsTheCommands) {
  World w;
  w.ops.Close();
  EXPECT_EQ(w.office.CallCount(), 0);
  EXPECT_EQ(w.view.OpenState(), false);
  EXPECT_TRUE(w.dialogs.shown.empty());
}

// As production has it: the notification arrives through the event loop while the workbook is
// still open (the user's close is held until the program closes it), so that autosave can save
// the values of the last pass.
TEST(CloseNotification, RunsCloseExactlyOnceAndStartsTimer2) {
  World w;
  std::vector<std::function<void()>> queue;  // the program's event loop
  w.office.SetPoster([&](std::function<void()> work) { queue.push_back(std::move(work)); });
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  // A pass's write.
  w.ops.ExAp()->SetScreenUpdating(false, 0);
  w.ops.ExWs()->SetCellNumber(3, 4, 7);
  w.ops.ExAp()->SetScreenUpdating(true, 0);
  auto workbook = w.Linked();
  workbook->CloseByUser();
  workbook->CloseByUser();  // the same request, before the program got to it
  EXPECT_FALSE(workbook->IsClosed());
  EXPECT_TRUE(w.view.timers.empty());
  ASSERT_EQ(queue.size(), 1u);
  queue[0]();
  EXPECT_EQ(w.view.timers, std::vector<int>{1000});
  EXPECT_EQ(w.Count("save"), 1);
  EXPECT_EQ(w.Count("confirmclose"), 0);  // autosave on: nobody is asked
  EXPECT_EQ(std::count(w.view.openStates.begin(), w.view.openStates.end(), false), 1);
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_TRUE(workbook->IsClosed());
  EXPECT_EQ(StoredSheet(w.office, kBook, "ВЕЛТ")->cells.at({3, 4}).text, "7");
  EXPECT_TRUE(w.dialogs.shown.empty());

  // Further notifications while Closing change nothing.
  w.ops.WorkbookClosing();
  workbook->CloseByUser();
  EXPECT_EQ(queue.size(), 1u);
  EXPECT_EQ(w.view.timers.size(), 1u);
  EXPECT_EQ(std::count(w.view.openStates.begin(), w.view.openStates.end(), false), 1);
}

// Autosave off: the program does not save. The values of passes go without a question; the
// user's own changes are asked about once, and the answer is obeyed.
struct UserCloseCase {
  const char* name;
  bool userChange;
  MemoryOffice::CloseAnswer answer;
  int questions;
  bool closed;
  bool saved;  // the file holds the user's change and the pass's value
};

void PrintTo(const UserCloseCase& c, std::ostream* out) {
  *out << c.name;
}

class UserCloseWithoutAutosave : public testing::TestWithParam<UserCloseCase> {};

TEST_P(UserCloseWithoutAutosave, AsksOnlyAboutTheUsersChanges) {
  const UserCloseCase& c = GetParam();
  World w;
  std::vector<std::function<void()>> queue;
  w.office.SetPoster([&](std::function<void()> work) { queue.push_back(std::move(work)); });
  w.office.SetUserCloseAnswer(c.answer);
  w.view.autosave = false;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.ops.ExAp()->SetScreenUpdating(false, 0);
  w.ops.ExWs()->SetCellNumber(2, 4, 7);
  w.ops.ExAp()->SetScreenUpdating(true, 0);
  if (c.userChange) w.Linked()->Sheet("ВЕЛТ")->Put(5, 2, "заметка");
  if (c.userChange) w.ops.ExWb()->SetSaved(false);  // as the user's typing leaves it
  auto workbook = w.Linked();
  workbook->CloseByUser();
  ASSERT_EQ(queue.size(), 1u);
  queue[0]();
  const auto& log = w.office.Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const MemoryCall& call) {
                            return call.op == "confirmclose" && call.detail == "asked";
                          }),
            c.questions);
  EXPECT_EQ(w.Count("save"), c.saved ? 1 : 0);
  EXPECT_EQ(workbook->IsClosed(), c.closed);
  EXPECT_EQ(w.ops.IsOpen(), !c.closed);
  EXPECT_EQ(w.view.timers, c.closed ? std::vector<int>{1000} : std::vector<int>{});
  const auto* stored = StoredSheet(w.office, kBook, "ВЕЛТ");
  EXPECT_EQ(stored->cells.count({2, 4}), c.saved ? 1u : 0u);
  EXPECT_TRUE(w.dialogs.shown.empty());
  if (!c.closed) {
    // A later close asks again.
    workbook->CloseByUser();
    ASSERT_EQ(queue.size(), 2u);
    w.office.SetUserCloseAnswer(MemoryOffice::CloseAnswer::DontSave);
    queue[1]();
    EXPECT_TRUE(workbook->IsClosed());
    EXPECT_EQ(w.view.timers, std::vector<int>{1000});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UserCloseWithoutAutosave,
    testing::Values(
        UserCloseCase{"OnlyPassValues", false, MemoryOffice::CloseAnswer::Cancel, 0, true, false},
        UserCloseCase{"UserSaves", true, MemoryOffice::CloseAnswer::Save, 1, true, true},
        UserCloseCase{"UserDoesNotSave", true, MemoryOffice::CloseAnswer::DontSave, 1, true, false},
        UserCloseCase{"UserCancels", true, MemoryOffice::CloseAnswer::Cancel, 1, false, false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(CloseNotification, IgnoredAfterTheCloseCommand) {
  World w;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.ops.Close();
  w.ops.WorkbookClosing();
  EXPECT_TRUE(w.view.timers.empty());
  EXPECT_EQ(w.Count("save"), 1);
}

TEST(CloseNotification, StaleOneDoesNotCloseTheNextWorkbook) {
  World w;
  std::vector<std::function<void()>> queue;  // the program's event loop
  w.office.SetPoster([&](std::function<void()> work) { queue.push_back(std::move(work)); });
  w.view.autosave = false;
  const std::string other = "/data/second.xls";
  w.office.PutFile(kBook, BookWithDataSheet());
  w.office.PutFile(other, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.Linked()->CloseByUser();  // delivered later
  w.ops.Close();
  w.ops.ExOpen(other);
  for (auto& work : queue) work();
  EXPECT_TRUE(w.ops.IsOpen());
  EXPECT_TRUE(w.ops.SheetReady());
  EXPECT_TRUE(w.view.timers.empty());
}

TEST(CloseNotification, DeliveredThroughTheEventLoopClosesOnce) {
  World w;
  std::vector<std::function<void()>> queue;
  w.office.SetPoster([&](std::function<void()> work) { queue.push_back(std::move(work)); });
  w.view.autosave = false;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.Linked()->CloseByUser();
  ASSERT_EQ(queue.size(), 1u);
  queue[0]();
  EXPECT_FALSE(w.ops.IsOpen());
  EXPECT_EQ(w.office.Running(), 0);
  EXPECT_EQ(w.view.timers, std::vector<int>{1000});
  EXPECT_TRUE(w.dialogs.shown.empty());
}

TEST(SaveWorkbook, SavesAfterAPassAndLetsFailuresEscape) {
  World w;
  w.office.PutFile(kBook, BookWithDataSheet());
  w.ops.ExOpen(kBook);
  w.ops.ExWs()->SetCellNumber(2, 4, 3.25);
  w.ops.SaveWorkbook();
  EXPECT_EQ(StoredSheet(w.office, kBook, "ВЕЛТ")->cells.at({2, 4}).text, "3.25");
  w.office.FailOperation("save");
  EXPECT_THROW(w.ops.SaveWorkbook(), SpreadsheetError);
  EXPECT_TRUE(w.ops.IsOpen());
}

}  // namespace
}  // namespace velt
