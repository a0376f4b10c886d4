#include "MainWindowLogic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DesktopLauncher.h"
#include "FakeTm.h"
#include "MemorySpreadsheet.h"
#include "ShellFakes.h"
#include "TemporaryDirectory.h"

namespace velt {
namespace {

const std::string kBook = "/data/book.xls";

// The window's world. Settings live in a fresh file; `ini` lines are written there first.
struct World {
  explicit World(bool commandLine = false, const std::string& ini = {}) {
    settingsPath = (dir / "VeltExcel.ini").string();
    if (!ini.empty()) std::ofstream(settingsPath) << ini;
    office.PutFile(kBook, BookWithDataSheet());
    tm.SetAnalog(1, 2, 3, 42.5f);
    logic = std::make_unique<MainWindowLogic>(
        MainWindowSeams{view, timer1, timer2, dialogs, connection, office, browser},
        SettingsLocation{settingsPath, commandLine}, 0x0419);
  }
  ~World() { logic.reset(); }

  // Runs the timers up to `until` ms, firing each one when it is due.
  void RunUntil(int64_t until) {
    for (;;) {
      FakeTimer* next = nullptr;
      for (FakeTimer* t : {&timer1, &timer2})
        if (t->enabled && t->due <= until && (!next || t->due < next->due)) next = t;
      if (!next) break;
      clock.now = std::max(clock.now, next->due);
      if (next == &timer1)
        logic->Timer1Timer();
      else
        logic->Timer2Timer();
    }
    clock.now = std::max(clock.now, until);
  }
  void Open() {
    dialogs.chosen = kBook;
    logic->N14Click();
  }
  std::string SavedValue() const {
    const auto& cells = office.File(kBook).sheets[0].cells;
    const auto cell = cells.find({1, 4});
    return cell == cells.end() ? "" : cell->second.text;
  }
  std::string Settings() const { return testsupport::ReadFile(settingsPath); }
  MemoryWorkbook* Linked() const {
    auto* app = office.LastApplication();
    return app && !app->Workbooks().empty() ? app->Workbooks().back().get() : nullptr;
  }

  testsupport::TemporaryDirectory temporary{"velt_shell_test"};
  std::filesystem::path dir = temporary.path();
  std::string settingsPath;
  Clock clock;
  FakeTimer timer1{clock}, timer2{clock};
  FakeView view;
  FakeDialogs dialogs;
  ClockedTm tm{clock};
  FakeConnection connection{tm};
  FakeBrowser browser;
  MemoryOffice office;
  std::unique_ptr<MainWindowLogic> logic;
};

TEST(MainWindowLogic, EnablingFollowsConnectOpenCloseDisconnect) {
  using S = MainViewState;
  const bool S::*controls[] = {&S::speedButton2Enabled, &S::bitBtn2Enabled, &S::button2Enabled,
                               &S::rxSpinEdit1Enabled,  &S::edit1Enabled,   &S::n14Enabled,
                               &S::recentItmEnabled,    &S::n17Enabled,     &S::n11Enabled,
                               &S::n5Enabled,           &S::n6Enabled};
  World w;
  w.logic->OnShow();
  struct Step {
    const char* name;
    std::function<void()> run;
    std::vector<bool> enabled;
  };
  const Step steps[] = {
      {"start", [] {}, {0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0}},
      {"connect", [&] { w.logic->Button1Click(); }, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
      {"open", [&] { w.Open(); }, {1, 1, 1, 1, 0, 0, 0, 1, 1, 0, 1}},
      {"close", [&] { w.logic->N11Click(); }, {1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1}},
      {"disconnect", [&] { w.logic->Button1Click(); }, {0, 0, 0, 0, 1, 1, 1, 0, 0, 1, 0}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    step.run();
    std::vector<bool> enabled;
    for (const auto control : controls) enabled.push_back(w.logic->State().*control);
    EXPECT_EQ(enabled, step.enabled);
  }
}

TEST(MainWindowLogic, RefreshClick) {
  struct Case {
    const char* name;
    bool connectedFirst;
    bool openFirst;
    bool cycleMode;
    std::deque<bool> answers;
    int clicks;
    std::vector<bool> downAfterEachClick;
    size_t passes;
    int connects;
  };
  const Case cases[] = {
      {"not connected, answered No", false, true, false, {false}, 1, {true}, 0, 0},
      {"not connected, answered Yes, single", false, true, false, {true}, 1, {false}, 1, 1},
      {"single mode releases after one pass", true, true, false, {}, 2, {false, false}, 2, 1},
      {"cycle mode latches, no pass on click", true, true, true, {}, 3, {true, false, true}, 0, 1},
      {"no workbook: button keeps the click's state", true, false, true, {}, 1, {true}, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    World w;
    w.logic->OnShow();
    if (w.logic->State().n8Checked != c.cycleMode) w.logic->N8Click();
    if (c.connectedFirst) w.logic->Button1Click();
    if (c.openFirst) w.Open();
    w.dialogs.answers = c.answers;
    for (int i = 0; i < c.clicks; ++i) {
      w.logic->Button2Click(!w.logic->State().button2Down);
      EXPECT_EQ(w.view.shown.button2Down, c.downAfterEachClick[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(w.tm.passStarts.size(), c.passes);
    EXPECT_EQ(w.connection.connects.size(), static_cast<size_t>(c.connects));
  }
}

TEST(MainWindowLogic, CycleRunsOnTicksFromTheEndOfEachPass) {
  World w;
  w.logic->OnShow();
  w.connection.reachable = false;
  w.logic->Button1Click();
  EXPECT_EQ(w.dialogs.shown.back(), std::string("error: ") + kTextNoServer +
                                        " (h:1\\TMS: nothing listens)");  // the reason under it
  EXPECT_FALSE(w.timer1.enabled);  // a failed connect leaves the cycle stopped
  EXPECT_FALSE(w.logic->State().button1Down);

  w.connection.reachable = true;
  w.Open();
  w.logic->RxSpinEdit1Change(1);
  w.logic->Button1Click();
  EXPECT_TRUE(w.timer1.enabled);
  w.logic->Button2Click(true);  // cycle mode: down, no pass yet
  EXPECT_TRUE(w.tm.passStarts.empty());

  // Each pass takes 1.5 s; the next starts 1 s after the last ended.
  const int64_t t0 = w.clock.now;
  w.tm.cost = 1500;
  w.RunUntil(t0 + 6100);
  EXPECT_EQ(w.tm.passStarts, (std::vector<int64_t>{t0 + 1000, t0 + 3500, t0 + 6000}));
  EXPECT_EQ(w.view.animations, 3);
  EXPECT_EQ(w.SavedValue(), "");  // "Сохранение после обновления" is off

  // A failing save after a pass is shown, and the cycle goes on.
  w.logic->N21Click();
  w.office.FailOperation("save");
  w.RunUntil(w.clock.now + 2600);
  EXPECT_EQ(w.tm.passStarts.size(), 4u);
  EXPECT_TRUE(w.dialogs.shown.back().starts_with("error: "));
  EXPECT_TRUE(w.timer1.enabled);
  w.office.ClearFaults();
  w.RunUntil(w.clock.now + 2600);
  EXPECT_EQ(w.SavedValue(), "42.5");

  // Lost connection: the tick releases the button and runs nothing.
  w.logic->N6Click();
  const auto passes = w.tm.passStarts.size();
  w.RunUntil(w.clock.now + 3000);
  EXPECT_FALSE(w.logic->State().button2Down);
  EXPECT_EQ(w.tm.passStarts.size(), passes);
}

TEST(MainWindowLogic, ServerLostDuringTheCycleShowsOnTheButtonAndTheTray) {
  World w;
  w.logic->OnShow();
  w.Open();
  w.logic->RxSpinEdit1Change(1);
  w.logic->Button1Click();
  w.logic->Button2Click(true);
  const std::string lost = std::string(kTextLinkLost) + kDefaultServerText + " с ";
  struct Step {
    const char* clock;
    bool serverAnswers;
    bool lost;
    std::string trayHint;
  };
  const Step steps[] = {
      {"10:00:01", true, false, "book.xls\nПоследнее обновление: 10:00:01"},
      {"10:00:02", false, true, "book.xls\n" + lost + "10:00:02\nПоследнее обновление: 10:00:01"},
      {"10:00:03", false, true, "book.xls\n" + lost + "10:00:02\nПоследнее обновление: 10:00:01"},
      {"10:00:04", true, false, "book.xls\nПоследнее обновление: 10:00:04"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.clock);
    w.view.clockText = step.clock;
    w.tm.SetConnected(step.serverAnswers);
    w.RunUntil(w.clock.now + 1000);
    EXPECT_EQ(w.view.shown.linkLost, step.lost);
    EXPECT_EQ(w.view.shown.trayHint, step.trayHint);
    EXPECT_EQ(w.view.shown.button1Hint.find(lost) != std::string::npos, step.lost);
    EXPECT_TRUE(w.view.shown.button1Down);
  }
  w.logic->N6Click();
  EXPECT_FALSE(w.view.shown.linkLost);
  EXPECT_EQ(w.view.shown.trayHint, "book.xls");
}

TEST(MainWindowLogic, CommandLineStart) {
  const std::string ini = "[TForm1]\nOpenDialog1_FileName=" + kBook + "\nN8_Checked=True\n";
  World w(true, ini);
  w.connection.reachable = false;
  w.logic->OnShow();
  // The stored workbook opens although the server is unreachable, and the window goes to
  // the tray half a second later.
  EXPECT_TRUE(w.view.shown.n11Enabled);
  EXPECT_EQ(w.connection.connects.size(), 1u);
  EXPECT_TRUE(w.view.shown.button2Down);
  w.RunUntil(w.clock.now + 500);
  EXPECT_FALSE(w.view.visible);

  // Shown again from the tray while still unconnected: connect and open again.
  w.connection.reachable = true;
  w.logic->N7Click();
  w.logic->OnShow();
  EXPECT_EQ(w.connection.connects.size(), 2u);
  EXPECT_TRUE(w.logic->Connected());
  EXPECT_TRUE(w.logic->SheetReady());
  EXPECT_EQ(w.office.Running(), 1);
  w.RunUntil(w.clock.now + 500);
  EXPECT_FALSE(w.view.visible);

  // Shown once more while connected: nothing is repeated.
  w.view.visible = true;
  w.logic->OnShow();
  EXPECT_EQ(w.connection.connects.size(), 2u);
}

TEST(MainWindowLogic, WorkbookClosedInTheSpreadsheet) {
  struct Case {
    bool commandLine;
    int closesAfterASecond;
  };
  for (const Case c : {Case{true, 1}, Case{false, 0}}) {
    SCOPED_TRACE(c.commandLine);
    World w(c.commandLine, "[TForm1]\nOpenDialog1_FileName=" + kBook + "\n");
    w.logic->OnShow();
    if (!c.commandLine) w.Open();
    w.RunUntil(w.clock.now + 600);
    ASSERT_NE(w.Linked(), nullptr);
    w.Linked()->CloseByUser();
    EXPECT_FALSE(w.logic->State().n11Enabled);
    EXPECT_EQ(w.office.Running(), 0);
    w.RunUntil(w.clock.now + 900);
    EXPECT_EQ(w.view.closes, 0);
    w.RunUntil(w.clock.now + 200);
    EXPECT_EQ(w.view.closes, c.closesAfterASecond);
  }
}

TEST(MainWindowLogic, CloseNotificationDuringAPassWaitsForItsEnd) {
  World w;
  w.logic->OnShow();
  w.logic->N5Click();
  w.Open();
  MemoryWorkbook* book = w.Linked();
  w.tm.onAnalog = [&] { w.logic->Deliver([book] { book->CloseByUser(); }); };
  w.logic->N20Click();
  EXPECT_EQ(w.SavedValue(), "42.5");  // the pass ended, then Close saved it
  EXPECT_EQ(w.office.Running(), 0);
}

TEST(MainWindowLogic, TrayRefreshNeedsSheetAndConnection) {
  struct Case {
    bool connect;
    bool open;
    bool passRuns;
  };
  for (const Case c : {Case{false, false, false}, Case{true, false, false},
                       Case{false, true, false}, Case{true, true, true}}) {
    World w;
    w.logic->OnShow();
    if (c.connect) w.logic->N5Click();
    if (c.open) w.Open();
    w.logic->N20Click();
    EXPECT_EQ(w.tm.passStarts.size(), c.passRuns ? 1u : 0u);
    EXPECT_EQ(!w.dialogs.shown.empty() &&
                  w.dialogs.shown.back() == std::string("error: ") + kTextNoConnection,
              !c.passRuns);
  }
}

TEST(MainWindowLogic, ExitDisconnectsClosesWithAutosaveAndWritesSettings) {
  World w;
  w.logic->OnShow();
  w.logic->N5Click();
  w.Open();
  w.logic->N20Click();
  w.logic->RxSpinEdit1Change(7);
  w.logic->OnClose();
  EXPECT_EQ(w.connection.disconnects, 1);
  EXPECT_EQ(w.SavedValue(), "42.5");
  EXPECT_EQ(w.office.Running(), 0);
  const std::string ini = w.Settings();
  for (const char* line : {"RxSpinEdit1_Value=7", "Timer1_Interval=7000", "Item_0=/data/book.xls",
                           "openfilename=/data/book.xls"})
    EXPECT_NE(ini.find(line), std::string::npos) << line;
}

TEST(MainWindowLogic, EnablingRules) {
  World w;
  w.logic->OnShow();
  using Flags = std::vector<bool>;
  // speedButton2, bitBtn2, button2, spin, edit1, n14, recent, n17, n11, n5, n6
  auto flags = [&] {
    const auto& s = w.view.shown;
    return Flags{s.speedButton2Enabled, s.bitBtn2Enabled, s.button2Enabled,   s.rxSpinEdit1Enabled,
                 s.edit1Enabled,        s.n14Enabled,     s.recentItmEnabled, s.n17Enabled,
                 s.n11Enabled,          s.n5Enabled,      s.n6Enabled};
  };
  struct Step {
    const char* name;
    std::function<void()> run;
    Flags expected;
    const char* hint;
  };
  const Step steps[] = {
      {"start", [] {}, {0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0}, kHintConnect},
      {"connect",
       [&] { w.logic->Button1Click(); },
       {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1},
       kHintDisconnect},
      {"open", [&] { w.Open(); }, {1, 1, 1, 1, 0, 0, 0, 1, 1, 0, 1}, kHintDisconnect},
      {"close", [&] { w.logic->N11Click(); }, {1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1}, kHintDisconnect},
      {"disconnect",
       [&] { w.logic->Button1Click(); },
       {0, 0, 0, 0, 1, 1, 1, 0, 0, 1, 0},
       kHintConnect},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    step.run();
    EXPECT_EQ(flags(), step.expected);
    EXPECT_EQ(w.view.shown.button1Hint, step.hint);
  }
  EXPECT_EQ(w.browser.calls, "reload hide ");
}

TEST(MainWindowLogic, CyclePassWaitsWhileTheUserIsBusyInTheSpreadsheet) {
  World w;
  w.logic->OnShow();
  w.logic->RxSpinEdit1Change(1);
  w.logic->N5Click();
  w.Open();
  w.logic->Button2Click(true);
  // Typing into a cell (or a dialog open) from 0.5 s to 2.2 s: the tick at 1 s waits, the
  // retries every half second find the user done at 2.5 s, and the cycle counts from there.
  const int64_t t0 = w.clock.now;
  w.office.SetUserBusy([&] { return w.clock.now >= t0 + 500 && w.clock.now < t0 + 2200; });
  w.RunUntil(t0 + 4600);
  EXPECT_EQ(w.tm.passStarts, (std::vector<int64_t>{t0 + 2500, t0 + 3500, t0 + 4500}));
  EXPECT_EQ(w.timer1.interval, 1000);
}

TEST(MainWindowLogic, CommandLineTimer2TicksQueuedDuringALongPassAreOne) {
  const std::string ini = "[TForm1]\nOpenDialog1_FileName=" + kBook +
                          "\nN8_Checked=True\nRxSpinEdit1_Value=1\nTimer1_Interval=1000\n";
  World w(true, ini);
  w.logic->OnShow();
  // The first pass takes 10 s; its progress repaints let Timer2's ticks through again and again.
  w.tm.cost = 10000;
  w.tm.onAnalog = [&] {
    for (int i = 0; i < 3; ++i) w.logic->Timer2Timer();
  };
  w.RunUntil(w.clock.now + 11500);
  EXPECT_EQ(w.tm.passStarts.size(), 1u);
  EXPECT_FALSE(w.view.visible);  // hidden to the tray once
  EXPECT_EQ(w.view.closes, 0);   // and still running
  EXPECT_FALSE(w.timer2.enabled);
}

TEST(MainWindowLogic, WithoutAutosaveOnlyTheUsersOwnChangesAreAskedAbout) {
  struct Case {
    const char* name;
    bool userEdit;
    bool exitFromProgram;  // otherwise the workbook is closed in the spreadsheet
    MemoryOffice::CloseAnswer answer;
    bool asked;
    bool closed;
    std::string savedB2;
  };
  using A = MemoryOffice::CloseAnswer;
  const Case cases[] = {
      {"passes only, closed in Calc", false, false, A::Cancel, false, true, ""},
      {"passes only, exit", false, true, A::Cancel, false, true, ""},
      {"user edit, exit, save", true, true, A::Save, true, true, "note"},
      {"user edit, exit, don't save", true, true, A::DontSave, true, true, ""},
      {"user edit, exit, cancel", true, true, A::Cancel, true, false, ""},
      {"user edit, closed in Calc, cancel", true, false, A::Cancel, true, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    World w(false, "[TForm1]\nN9_Checked=False\n");
    w.logic->OnShow();
    w.logic->N5Click();
    w.Open();
    w.logic->N20Click();
    w.logic->N20Click();
    if (c.userEdit) w.Linked()->Sheet("ВЕЛТ")->SetCellText(2, 2, "note");
    w.office.SetUserCloseAnswer(c.answer);
    w.office.ClearLog();
    bool ended = true;
    if (c.exitFromProgram)
      ended = w.logic->OnClose();
    else
      w.Linked()->CloseByUser();
    int asked = 0;
    for (const auto& call : w.office.Log())
      asked += call.op == "confirmclose" && call.detail == "asked";
    EXPECT_EQ(asked, c.asked ? 1 : 0);
    EXPECT_EQ(w.office.Running(), c.closed ? 0 : 1);
    if (c.exitFromProgram) {
      EXPECT_EQ(ended, c.closed);
    }
    const auto& cells = w.office.File(kBook).sheets[0].cells;
    EXPECT_EQ(cells.count({2, 2}) ? cells.at({2, 2}).text : "", c.savedB2);
  }
}

TEST(MainWindowLogic, ShowingTheWindowKeepsThisSessionsSettings) {
  World w(false, "[TForm1]\nN8_Checked=True\n");
  w.logic->OnShow();
  w.Open();
  w.logic->N11Click();
  w.logic->N21Click();
  // Hidden to the tray and shown again: the recent entry and the check mark stay.
  w.logic->OnShow();
  EXPECT_EQ(w.view.shown.recent, std::vector<std::string>{kBook});
  EXPECT_TRUE(w.view.shown.n21Checked);
  // A file that someone else changed is read again.
  std::ofstream(w.settingsPath) << "[TForm1]\nN21_Checked=False\nRxSpinEdit1_Value=9\n";
  w.logic->OnShow();
  EXPECT_FALSE(w.view.shown.n21Checked);
  EXPECT_EQ(w.view.shown.rxSpinEdit1Value, 9);
}

TEST(MainWindowLogic, SaveFailureAfterPassesIsSaidOnceAndTheNextPassSavesAgain) {
  World w(false, "[TForm1]\nN8_Checked=False\nN21_Checked=True\n");
  w.logic->OnShow();
  w.logic->N5Click();
  w.Open();
  auto failures = [&] {
    return std::count_if(w.dialogs.shown.begin(), w.dialogs.shown.end(), [](const auto& m) {
      return m.starts_with(std::string("error: ") + kTextSaveFailed);
    });
  };
  w.office.FailOperation("save");  // the file read-only, or the disk full
  for (int i = 0; i < 3; ++i) w.logic->N20Click();
  EXPECT_EQ(failures(), 1);
  EXPECT_EQ(w.dialogs.shown.size(), 1u);
  w.office.ClearFaults();
  w.logic->N20Click();
  EXPECT_EQ(w.SavedValue(), "42.5");
  w.office.FailOperation("save");  // a new failure after the recovery is said again
  w.logic->N20Click();
  EXPECT_EQ(failures(), 2);
}

TEST(MainWindowLogic, OfficeEndedUnderTheProgramIsSaidOnce) {
  struct Case {
    const char* name;
    bool commandLine;
    bool reopen;
    int closes;
    int running;
  };
  const Case cases[] = {
      {"command line ends as if the workbook were closed", true, false, 1, 0},
      {"normal run, reopened", false, true, 0, 1},
      {"normal run, not reopened", false, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    World w(c.commandLine, "[TForm1]\nOpenDialog1_FileName=" + kBook +
                               "\nN8_Checked=True\nN21_Checked=True\nRxSpinEdit1_Value=1\n"
                               "Timer1_Interval=1000\n");
    w.logic->OnShow();
    if (!c.commandLine) {
      w.logic->N5Click();
      w.Open();
      w.logic->Button2Click(true);
    }
    w.RunUntil(w.clock.now + 1500);
    ASSERT_EQ(w.tm.passStarts.size(), 1u);
    w.office.Kill();
    w.dialogs.shown.clear();
    w.dialogs.answers = {c.reopen};
    w.RunUntil(w.clock.now + 5000);
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0], c.commandLine ? std::string("error: ") + kTextOfficeEnded
                                                : std::string("ask: ") + kTextOfficeEndedReopen);
    EXPECT_EQ(w.view.closes, c.closes);
    EXPECT_EQ(w.office.Running(), c.running);
  }
}

TEST(MainWindowLogic, DesktopLauncher) {
  struct Case {
    const char* program;
    const char* argument;
    const char* exec;
  };
  const Case cases[] = {
      {"/usr/bin/veltexcel", "/home/a/b.ini", R"("/usr/bin/veltexcel" "/home/a/b.ini")"},
      {"/opt/v e/veltexcel", R"(/h/$x "q" 100%\n.ini)",
       R"("/opt/v e/veltexcel" "/h/\\$x \\"q\\" 100%%\\\\n.ini")"},
  };
  for (const auto& c : cases) EXPECT_EQ(DesktopExecLine(c.program, c.argument), c.exec);

  // The launcher starts command-line mode on a settings file that opens this workbook.
  World w;
  const LauncherPlaces places{(w.dir / "Desktop").string(), (w.dir / "config").string(),
                              "/usr/bin/veltexcel"};
  MainWindowSettings current;
  current.edit1Text = "host\\TMS";
  LauncherFiles made;
  EXPECT_TRUE(CreateDesktopLauncher(places, "/data/отчёт 1.xls", current, &made).ok());
  // One message names both files it wrote.
  const std::string told = LauncherCreatedText(made, "/data/отчёт 1.xls");
  EXPECT_NE(told.find(places.desktopDir + "/veltexcel-отчёт 1.desktop"), std::string::npos);
  EXPECT_NE(told.find(places.settingsDir + "/отчёт 1.ini"), std::string::npos);
  const std::string entry = testsupport::ReadFile(w.dir / "Desktop" / "veltexcel-отчёт 1.desktop");
  EXPECT_NE(entry.find(R"(Exec="/usr/bin/veltexcel" ")" + (w.dir / "config").string() +
                       "/отчёт 1.ini\"\n"),
            std::string::npos)
      << entry;
  MainWindowSettings stored;
  RecentList recent;
  SettingsStorage((w.dir / "config" / "отчёт 1.ini").string()).Load(stored, recent);
  EXPECT_EQ(stored.openDialog1FileName, "/data/отчёт 1.xls");
  EXPECT_EQ(stored.edit1Text, "host\\TMS");
}

}  // namespace
}  // namespace velt
