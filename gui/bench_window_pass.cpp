// A pass over 10 000 rows from the main window, on tmsim and a headless LibreOffice, against
// the same pass as the headless updater makes it: the window must show its progress while the
// pass runs and must not be slower for it. Prints both times; fails when the progress bar was
// not repainted during the pass or the pass reported an error.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QProgressBar>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "HelpWindow.h"
#include "LibreOfficeSpreadsheet.h"
#include "MainWindow.h"
#include "ShellFakes.h"
#include "TemporaryDirectory.h"
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

int Fail(const char* what) {
  std::fprintf(stderr, "bench_window_pass: %s\n", what);
  return 1;
}

int Run(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TmsimProcess tmsim;
  const std::string server = tmsim.Address() + "\\TMS";
  const testsupport::TemporaryDirectory temporary("velt_window_pass");
  const std::filesystem::path dir = temporary.path();
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
    if (!connection.Connect(server, kClientName).ok()) return Fail("no connection to tmsim");
    auto office = launcher.Start();
    auto workbook = office->Open(book);
    auto sheet = workbook->WorksheetByName("ВЕЛТ");
    for (int i = 0; i < 2; ++i) {
      ProgressBarModel bar;
      const auto start = std::chrono::steady_clock::now();
      if (!UpdateSheet(*office, 0x0409, *sheet, bar, connection.Operations()).ok())
        return Fail("the headless pass failed");
      headless = std::min(headless, Seconds(std::chrono::steady_clock::now() - start));
    }
    connection.Disconnect();
  }

  // The same pass from the window: connect, open, tray "Обновить телеметрию".
  double window = 1e9;
  int paints = 0;
  {
    TmAccessConnection connection;
    FakeBrowser browser;
    HelpWindow help;
    FakeDialogs dialogs(book);
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
    if (!main.Logic().SheetReady()) return Fail("the workbook did not open");
    testsupport::PaintCounter counter;
    main.findChild<QProgressBar*>(QStringLiteral("PB"))->installEventFilter(&counter);
    QAction* refresh = main.Tray().Menu()->findChild<QAction*>(QStringLiteral("N20"));
    for (int i = 0; i < 2; ++i) {
      const auto start = std::chrono::steady_clock::now();
      refresh->trigger();
      window = std::min(window, Seconds(std::chrono::steady_clock::now() - start));
    }
    paints = counter.paints;
    if (!dialogs.shown.empty()) return Fail(dialogs.shown.front().c_str());
    main.Logic().N11Click();
  }

  std::printf("10000-row pass: headless %.3f s, main window %.3f s (%d progress paints)\n",
              headless, window, paints);
  // The times are reported, not judged: a shared machine makes them noisy.
  return paints >= 2 ? 0 : Fail("the progress bar was not repainted during the pass");
}

}  // namespace
}  // namespace velt

int main(int argc, char** argv) {
  return velt::Run(argc, argv);
}
