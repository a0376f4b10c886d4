// A pass over 10 000 rows from the main window, on tmsim and a headless LibreOffice, against
// the same pass as the headless updater makes it: the window must show its progress while the
// pass runs and must not be slower for it. Prints both times.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QProgressBar>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "HelpWindow.h"
#include "LibreOfficeSpreadsheet.h"
#include "MainWindow.h"
#include "TmAccessConnection.h"
#include "TmsimProcess.h"
#include "TrayIcon.h"
#include "UpdateSheet.h"
#include "WindowTestSupport.h"
#include "tmaccess.h"

namespace velt {
namespace {

constexpr int kRows = 10000;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

TEST(MainWindowPass, TenThousandRowsAsFastAsTheHeadlessPassWithVisibleProgress) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "main_window_pass_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  TmsimProcess tmsim;
  const std::string server = tmsim.Address() + "\\TMS";
  const auto dir =
      std::filesystem::temp_directory_path() / ("velt_window_pass_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string book = (dir / "big.xls").string();

  LibreOfficeLauncher launcher;
  {
    auto office = launcher.Start();
    auto workbook = office->Add();
    auto sheet = workbook->AddWorksheet();
    sheet->SetName("ВЕЛТ");
    const char* addresses[] = {"#TT1:1:1", "#TT1:1:2", "#TC1:1:1", "#TI1:3:1", "#TT1:2:1"};
    office->SetScreenUpdating(false, 0x0409);
    for (int r = 1; r <= kRows; ++r) sheet->SetCellText(r, 1, addresses[r % 5]);
    office->SetScreenUpdating(true, 0x0409);
    workbook->SaveAs(book);
  }

  // The headless updater's pass: the same call with a bar nobody looks at.
  double headless = 1e9;
  {
    TmAccessConnection connection;
    ASSERT_TRUE(connection.Connect(server, kClientName).ok());
    auto office = launcher.Start();
    auto workbook = office->Open(book);
    auto sheet = workbook->WorksheetByName("ВЕЛТ");
    for (int i = 0; i < 2; ++i) {
      ProgressBarModel bar;
      const auto start = std::chrono::steady_clock::now();
      EXPECT_TRUE(UpdateSheet(*office, 0x0409, *sheet, bar, connection.Operations()).ok());
      headless = std::min(headless, Seconds(std::chrono::steady_clock::now() - start));
    }
    connection.Disconnect();
  }

  // The same pass from the window: connect, open, tray "Обновить телеметрию".
  double window = 1e9;
  int paints = 0;
  {
    TmAccessConnection connection;
    testsupport::QuietBrowser browser;
    HelpWindow help;
    testsupport::NoSayingDialogs dialogs(book);
    const std::string ini = (dir / "VeltExcel.ini").string();
    std::FILE* f = std::fopen(ini.c_str(), "w");
    std::fprintf(f, "[TForm1]\nEdit1_Text=%s\n", server.c_str());
    std::fclose(f);
    MainWindow main(MainWindowParts{.tm = connection,
                                    .spreadsheet = launcher,
                                    .browser = browser,
                                    .help = help,
                                    .settings = {ini, false},
                                    .userLcid = 0x0409,
                                    .places = {},
                                    .dialogs = &dialogs});
    main.show();
    QApplication::processEvents();
    main.Logic().N5Click();
    main.findChild<QAction*>(QStringLiteral("N14"))->trigger();
    ASSERT_TRUE(main.Logic().SheetReady());
    testsupport::PaintCounter counter;
    main.findChild<QProgressBar*>(QStringLiteral("PB"))->installEventFilter(&counter);
    QAction* refresh = main.Tray().Menu()->findChild<QAction*>(QStringLiteral("N20"));
    for (int i = 0; i < 2; ++i) {
      const auto start = std::chrono::steady_clock::now();
      refresh->trigger();
      window = std::min(window, Seconds(std::chrono::steady_clock::now() - start));
    }
    paints = counter.paints;
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    main.Logic().N11Click();
  }
  std::filesystem::remove_all(dir);

  std::printf("10000-row pass: headless %.3f s, main window %.3f s (%d progress paints)\n",
              headless, window, paints);
  // The times are reported, not judged: a shared machine makes them noisy.
  EXPECT_GE(paints, 2);
}

}  // namespace
}  // namespace velt
