// The main window's widgets on the offscreen platform, with fakes behind the logic.
#include "MainWindow.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <thread>

#include "FakeTm.h"
#include "HelpWindow.h"
#include "MemorySpreadsheet.h"
#include "ShellFakes.h"
#include "TemporaryDirectory.h"
#include "TrayIcon.h"

namespace velt {
namespace {

const std::string kBook = "/data/book.xls";

QApplication& App() {
  static int argc = 1;
  static char name[] = "main_window_widget_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

struct Fixture {
  explicit Fixture(int rows = 1) {
    office.PutFile(kBook, BookWithDataSheet(rows));
    tm.SetAnalog(1, 2, 3, 1.5f);
    window = std::make_unique<MainWindow>(MainWindowParts{
        .tm = connection,
        .spreadsheet = office,
        .browser = browser,
        .help = help,
        .settings = {dir.File("VeltExcel.ini"), false},
        .userLcid = 0x0419,
        .places = {},
        .dialogs = &dialogs,
    });
    window->show();
    QApplication::processEvents();
  }
  ~Fixture() { window.reset(); }
  template <typename T>
  T* Find(const char* name) {
    return window->findChild<T*>(QString::fromUtf8(name));
  }
  bool Enabled(const char* name) {
    if (auto* w = Find<QWidget>(name)) return w->isEnabled();
    if (auto* a = Find<QAction>(name)) return a->isEnabled();
    ADD_FAILURE() << "no control " << name;
    return false;
  }

  QApplication& app = App();  // before any widget
  testsupport::TemporaryDirectory dir{"velt_gui_test"};
  Clock clock;  // unused: the requests take real time here
  ClockedTm tm{clock};
  FakeConnection connection{tm};
  MemoryOffice office;
  FakeBrowser browser;
  FakeDialogs dialogs{kBook};
  HelpWindow help;
  std::unique_ptr<MainWindow> window;
};

// The enabling rules are the logic's (its tests hold the table); the widgets show its state.
TEST(MainWindowWidgets, ControlsMirrorTheLogicsState) {
  Fixture f;
  using S = MainViewState;
  const std::pair<const char*, bool S::*> controls[] = {{"SpeedButton2", &S::speedButton2Enabled},
                                                        {"BitBtn2", &S::bitBtn2Enabled},
                                                        {"Button2", &S::button2Enabled},
                                                        {"RxSpinEdit1", &S::rxSpinEdit1Enabled},
                                                        {"Edit1", &S::edit1Enabled},
                                                        {"N14", &S::n14Enabled},
                                                        {"RecentItm", &S::recentItmEnabled},
                                                        {"N17", &S::n17Enabled},
                                                        {"N11", &S::n11Enabled},
                                                        {"N5", &S::n5Enabled},
                                                        {"N6", &S::n6Enabled}};
  const auto connectButton = [&] {
    QTest::mouseClick(f.Find<QToolButton>("Button1"), Qt::LeftButton);
  };
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"start", [] {}},
      {"connect", connectButton},
      {"open", [&] { f.Find<QAction>("N14")->trigger(); }},
      {"close", [&] { f.Find<QAction>("N11")->trigger(); }},
      {"disconnect", connectButton},
  };
  for (const auto& [name, run] : steps) {
    SCOPED_TRACE(name);
    const S before = f.window->Logic().State();
    run();
    const S& state = f.window->Logic().State();
    if (std::string(name) != "start") {
      EXPECT_NE(state, before) << "the widget did not reach the logic";
    }
    for (const auto& [control, enabled] : controls) EXPECT_EQ(f.Enabled(control), state.*enabled);
  }
}

TEST(MainWindowWidgets, SpinFieldChangesOnlyByItsArrows) {
  Fixture f;
  f.Find<QAction>("N14")->trigger();
  auto* spin = f.Find<QSpinBox>("RxSpinEdit1");
  ASSERT_TRUE(spin->isEnabled());
  spin->setFocus();
  QTest::keyClicks(spin, QStringLiteral("5"));
  QTest::keyClick(spin, Qt::Key_Backspace);
  EXPECT_EQ(spin->value(), 10);
  QTest::keyClick(spin, Qt::Key_Up);
  EXPECT_EQ(spin->value(), 11);
  EXPECT_EQ(f.window->Logic().State().rxSpinEdit1Value, 11);
}

TEST(MainWindowWidgets, F1ShowsHelpWithoutBlocking) {
  Fixture f;
  QApplication::setActiveWindow(f.window.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(f.window.get()));
  QTest::keyClick(f.window.get(), Qt::Key_F1);
  EXPECT_TRUE(f.help.isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(f.help.Text().split(QLatin1Char('\n')).size(), 43);
  f.help.close();
  EXPECT_FALSE(f.help.isVisible());

  // Pictures of both windows for a person to look at.
  QTest::mouseClick(f.Find<QToolButton>("Button1"), Qt::LeftButton);
  f.Find<QAction>("N14")->trigger();
  QDir().mkpath(QStringLiteral(VELT_SCREENSHOT_DIR));
  f.help.show();
  QApplication::processEvents();
  EXPECT_TRUE(f.window->grab().save(QStringLiteral(VELT_SCREENSHOT_DIR "/main-window.png")));
  EXPECT_TRUE(f.help.grab().save(QStringLiteral(VELT_SCREENSHOT_DIR "/help-window.png")));
  EXPECT_EQ(f.window->centralWidget()->size(),
            QSize(MainWindow::kClientWidth, MainWindow::kClientHeight));
  EXPECT_EQ(f.help.size(), QSize(HelpWindow::kClientWidth, HelpWindow::kClientHeight));
}

TEST(MainWindowWidgets, LongPassRepaintsProgressAndTurnsTheTrayIcon) {
  Fixture f(3000);
  // The server's answers and the office's calls take a little time, so that the pass can be
  // watched: the bar moves while rows are written, the loop runs while answers are awaited.
  f.tm.onAnalog = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  f.office.SetCallCost(std::chrono::microseconds(50));
  QTest::mouseClick(f.Find<QToolButton>("Button1"), Qt::LeftButton);
  f.Find<QAction>("N14")->trigger();
  testsupport::PaintCounter counter;
  f.Find<QProgressBar>("PB")->installEventFilter(&counter);
  // The event loop runs all through the pass, also while it waits for the server's answers.
  int ticks = 0;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&ticks] { ++ticks; });
  beat.start(20);
  f.window->StartTrayAnimation();
  f.window->Tray().Menu()->findChild<QAction*>(QStringLiteral("N20"))->trigger();
  const int frames = f.window->Tray().FramesShown();
  f.window->StopTrayAnimation();
  EXPECT_TRUE(f.dialogs.shown.empty());
  beat.stop();
  EXPECT_GE(counter.paints, 3);
  EXPECT_GE(ticks, 10);
  EXPECT_GE(frames, 3);  // 80 ms each
}

}  // namespace
}  // namespace velt
