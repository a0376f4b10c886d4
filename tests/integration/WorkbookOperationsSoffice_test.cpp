// The workbook operations on a real headless LibreOffice.
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "LibreOfficeSpreadsheet.h"
#include "OfficeConnection.h"
#include "PostQueue.h"
#include "TemporaryDirectory.h"
#include "VirtualDisplay.h"
#include "WorkbookOperations.h"
#include "WorkbookOperationsFakes.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

using testsupport::TemporaryDirectory;

TEST(WorkbookOperationsOnLibreOffice, NewWorkbookWithDataSheetReopensFromItsFile) {
  TemporaryDirectory dir("velt-ops-soffice");
  ASSERT_FALSE(dir.path().empty());
  const std::string path = (dir.path() / "новая книга.xls").string();

  LibreOfficeOptions options;
  options.headless = true;
  LibreOfficeLauncher launcher(options);
  ScriptedDialogs dialogs;
  dialogs.answers = {true, true};
  RecordingView view;  // autosave on, as at first start
  {
    WorkbookOperations ops(launcher, dialogs, view);
    ops.ExOpen(path);
    ASSERT_EQ(dialogs.shown, (std::vector<std::string>{"ask: Нет указанного файла - Создать?",
                                                       "ask: Нет листа ВЕЛТ - Создать?"}));
    ASSERT_TRUE(ops.SheetReady());
    ASSERT_TRUE(fs::exists(path));
    ASSERT_NE(ops.ExAp(), nullptr);
    const auto instance = LibreOfficeInstanceOf(*ops.ExAp());
    ASSERT_TRUE(instance);

    ops.Close();
    // Zombies awaiting init do not count.
    EXPECT_FALSE(LibreOfficeInstanceRunning(*instance));
    EXPECT_EQ(view.OpenState(), false);
  }
  EXPECT_EQ(dialogs.shown.size(), 2u) << dialogs.shown.back();

  // An Excel 97 workbook: the compound-file signature.
  std::ifstream file(path, std::ios::binary);
  std::string signature(8, '\0');
  file.read(signature.data(), 8);
  EXPECT_EQ(signature, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");

  auto app = launcher.Start();
  auto workbook = app->Open(path);
  auto sheet = workbook->WorksheetByName("ВЕЛТ");
  EXPECT_EQ(sheet->Name(), "ВЕЛТ");
  EXPECT_EQ(sheet->CellText(1, 1), "ТМ адрес");
  EXPECT_EQ(sheet->CellText(1, 2), "Наименование параметра");
  EXPECT_EQ(sheet->CellText(1, 3), "№ архива");
  EXPECT_EQ(sheet->CellText(1, 4), "Значение");
  EXPECT_EQ(sheet->CellText(2, 1), "");
}

namespace css = ::com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

rtl::OUString U(const std::string& text) {
  return testsupport::ToOUString(text);
}

// Sends a command to the frame of the document at `path`, from a connection of its own, as the
// document's menu or keys would.
void DispatchLikeUser(const std::string& pipe, const std::string& path, const char* command) {
  testsupport::OfficeConnection office(pipe);
  Reference<css::frame::XModel> model = office.Model(path);
  ASSERT_TRUE(model.is()) << path;
  Reference<css::frame::XDispatchProvider> frame(model->getCurrentController()->getFrame(),
                                                 UNO_QUERY_THROW);
  css::frame::DispatchHelper::create(office.Context())
      ->executeDispatch(frame, rtl::OUString::createFromAscii(command), "", 0, {});
}

// The program's event loop: close notifications are posted to it.
using EventLoop = testsupport::PostQueue;

struct UserCloseCase {
  const char* command;
  bool autosave;
};

class UserClosesInCalc : public testing::TestWithParam<UserCloseCase> {};

// The user closes the workbook in Calc. The program's Close runs once while the
// workbook is still there: with autosave on the file then holds the last pass's value, and
// nobody is asked anything; with autosave off the program does not save (a pass's value is no
// change of the user's, so Calc asks nothing either). No error is shown.
TEST_P(UserClosesInCalc, CloseRunsOnceWhileTheWorkbookIsThere) {
  const UserCloseCase& c = GetParam();
  TemporaryDirectory dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = (dir.path() / "книга.xls").string();

  EventLoop loop;
  LibreOfficeOptions options;
  options.headless = true;
  options.poster = loop.MakePoster();
  LibreOfficeLauncher launcher(options);
  ScriptedDialogs dialogs;
  dialogs.answers = {true, true};
  RecordingView view;
  view.autosave = c.autosave;
  WorkbookOperations ops(launcher, dialogs, view);
  ops.ExOpen(path);
  ASSERT_TRUE(ops.SheetReady()) << testing::PrintToString(dialogs.shown);
  const auto instance = LibreOfficeInstanceOf(*ops.ExAp());
  ASSERT_TRUE(instance);

  // The workbook as saved before the pass (the header row came after the file was made).
  ops.SaveWorkbook();
  // A pass writes a value.
  ops.ExAp()->SetCalculation(xlCalculationManual, 0);
  ops.ExAp()->SetScreenUpdating(false, 0);
  ops.ExWs()->SetCellNumber(2, 4, 36.5);
  ops.ExAp()->SetScreenUpdating(true, 0);
  ops.ExAp()->SetCalculation(xlCalculationAutomatic, 0);

  try {
    DispatchLikeUser(instance->pipeName, path, c.command);
  } catch (const css::uno::Exception& e) {
    std::cerr << "dispatch: " << rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr()
              << std::endl;
  }
  ASSERT_TRUE(loop.RunUntil([&] { return !ops.IsOpen(); }));
  EXPECT_EQ(view.timers, std::vector<int>{kCloseTimerMs});
  EXPECT_EQ(view.OpenState(), false);
  EXPECT_TRUE(ops.Closing());
  EXPECT_FALSE(LibreOfficeInstanceRunning(*instance));
  // Only the two questions of the open; no error box.
  EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"ask: Нет указанного файла - Создать?",
                                                     "ask: Нет листа ВЕЛТ - Создать?"}));
  // Later notifications change nothing.
  ops.WorkbookClosing();
  EXPECT_EQ(view.timers.size(), 1u);

  auto app = LibreOfficeLauncher().Start();
  auto sheet = app->Open(path)->WorksheetByName("ВЕЛТ");
  EXPECT_EQ(sheet->CellText(1, 1), "ТМ адрес");
  EXPECT_EQ(sheet->CellText(2, 4), c.autosave ? "36.5" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, UserClosesInCalc,
    testing::Values(UserCloseCase{".uno:CloseDoc", true}, UserCloseCase{".uno:CloseDoc", false},
                    UserCloseCase{".uno:CloseWin", true}, UserCloseCase{".uno:CloseFrame", true},
                    UserCloseCase{".uno:Quit", true}, UserCloseCase{".uno:Quit", false}),
    [](const auto& test) {
      return std::string(test.param.command + 5) +
             (test.param.autosave ? "_autosave" : "_noautosave");
    });

// ---------------------------------------------------------------------------------------------
// A visible Calc under Xvfb: without autosave, changes of the user's own are asked about with
// Calc's own question, once, and the answer is obeyed; xdotool answers as the user would.

using testsupport::VirtualDisplay;

std::string Shell(const std::string& command) {
  return testsupport::RunShell(command).out;
}

// Types a text into a cell of the document at `path` as the user would (not in a pass).
void TypeIntoCell(const std::string& pipe, const std::string& path, int row, int column,
                  const std::string& text) {
  testsupport::OfficeConnection office(pipe);
  Reference<css::frame::XModel> model = office.Model(path);
  if (!model.is()) return;
  Reference<css::sheet::XSpreadsheet> sheet(
      Reference<css::sheet::XSpreadsheetDocument>(model, UNO_QUERY_THROW)
          ->getSheets()
          ->getByName(U("ВЕЛТ")),
      UNO_QUERY_THROW);
  sheet->getCellByPosition(column - 1, row - 1)->setFormula(U(text));
}

struct QuestionCase {
  const char* name;
  const char* key;  // the answer: Return saves, Escape cancels
  bool closed;
  bool saved;
};

void PrintTo(const QuestionCase& c, std::ostream* out) {
  *out << c.name;
}

class UserChangesWithoutAutosave : public testing::TestWithParam<QuestionCase> {};

TEST_P(UserChangesWithoutAutosave, CalcAsksOnceAndTheAnswerIsObeyed) {
  const QuestionCase& c = GetParam();
  if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
  VirtualDisplay x;
  ASSERT_FALSE(x.Display().empty()) << "Xvfb did not come up";
  TemporaryDirectory dir;
  const std::string path = (dir.path() / "book.xls").string();

  EventLoop loop;
  LibreOfficeOptions options;
  options.headless = false;
  options.poster = loop.MakePoster();
  LibreOfficeLauncher launcher(options);
  ScriptedDialogs dialogs;
  dialogs.answers = {true, true};
  RecordingView view;
  view.autosave = false;
  WorkbookOperations ops(launcher, dialogs, view);
  ops.ExOpen(path);
  ASSERT_TRUE(ops.SheetReady()) << testing::PrintToString(dialogs.shown);
  const auto instance = LibreOfficeInstanceOf(*ops.ExAp());
  ASSERT_TRUE(instance && instance->canShow);
  ops.SaveWorkbook();
  ops.ExAp()->SetScreenUpdating(false, 0);
  ops.ExWs()->SetCellNumber(2, 4, 36.5);  // a pass's value
  ops.ExAp()->SetScreenUpdating(true, 0);
  TypeIntoCell(instance->pipeName, path, 3, 2, "заметка");  // the user's own change

  // The user: answers every question Calc shows within the next seconds, counting them.
  std::atomic<int> questions{0};
  std::atomic<bool> stop{false};
  std::thread user([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop && std::chrono::steady_clock::now() < end) {
      std::string id = Shell("xdotool search --onlyvisible --name 'Save Document' 2>/dev/null");
      if (!id.empty()) {
        id = id.substr(0, id.find('\n'));
        ++questions;
        Shell("xdotool windowfocus --sync " + id + " key --clearmodifiers " + c.key);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Join() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } join{stop, user};
  try {
    DispatchLikeUser(instance->pipeName, path, ".uno:CloseDoc");
    loop.RunUntil([&] { return questions > 0 && loop.Size() == 0; });
    // Time for a second question, if there were one.
    loop.RunUntil([] { return false; }, std::chrono::seconds(2));
  } catch (const css::uno::Exception& e) {
    FAIL() << rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr();
  }
  stop = true;
  user.join();
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(ops.IsOpen(), !c.closed);
  EXPECT_EQ(view.timers, c.closed ? std::vector<int>{kCloseTimerMs} : std::vector<int>{});
  if (!c.closed) ops.Close();  // the program's own Close command, at exit
  EXPECT_FALSE(LibreOfficeInstanceRunning(*instance));
  EXPECT_EQ(dialogs.shown.size(), 2u);  // the two questions of the open, no error

  auto app = LibreOfficeLauncher().Start();
  auto sheet = app->Open(path)->WorksheetByName("ВЕЛТ");
  EXPECT_EQ(sheet->CellText(3, 2), c.saved ? "заметка" : "");
  EXPECT_EQ(sheet->CellText(2, 4), c.saved ? "36.5" : "");
}

INSTANTIATE_TEST_SUITE_P(Answers, UserChangesWithoutAutosave,
                         testing::Values(QuestionCase{"Save", "Return", true, true},
                                         QuestionCase{"Cancel", "Escape", false, false}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace velt
