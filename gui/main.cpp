// veltexcel [SETTINGS.ini]: the main window. With an argument the settings come from that file
// and the program runs in command-line mode (connect, open the stored workbook, wait in the
// tray, end when the workbook is closed).

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>

#include <atomic>
#include <exception>
#include <memory>

#include "BrowserQSettings.h"
#include "BrowserWindow.h"
#include "HelpWindow.h"
#include "LibreOfficeSpreadsheet.h"
#include "MainWindow.h"
#include "ProgramInfo.h"
#include "QtTranslations.h"
#include "TmAccessConnection.h"
#include "Translation.h"
#include "UserLocale.h"
#include "tmaccess.h"

namespace {

// The general error handler: an error that no command caught is shown with its own text, and
// the program goes on.
class VeltApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      QMessageBox::critical(nullptr, QStringLiteral("Ошибка"), QString::fromUtf8(error.what()));
    } catch (...) {
      QMessageBox::critical(nullptr, QStringLiteral("Ошибка"),
                            QStringLiteral("Неизвестная ошибка"));
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (const auto code = velt::AnswerProgramInfo(argc, argv)) return *code;
  VeltApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("veltexcel"));
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt's own texts and the program's messages in the user's language.
  velt::InstallQtTranslations(app);
  const char* const localeDirs[] = {VELT_BUILD_LOCALE_DIR, VELT_SYSTEM_LOCALE_DIR};
  velt::InitTranslation(VELT_TEXT_DOMAIN, localeDirs, 2);

  std::atomic<velt::MainWindow*> window{nullptr};
  velt::LibreOfficeOptions office;
  office.headless = false;
  // Close notifications come on the office's threads; the window takes them on its own.
  office.poster = [&window](std::function<void()> work) {
    if (velt::MainWindow* w = window.load()) w->Post(std::move(work));
  };
  // While the office starts or loads a workbook, the windows stay painted; input waits.
  office.whileWaiting = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
  velt::LibreOfficeLauncher launcher(office);
  velt::TmAccessConnection tm;
  velt::BrowserQSettings browserSettings;
  velt::BrowserWindow browserWindow(tm.Operations(), browserSettings);
  velt::BrowserWindowControl browser(browserWindow);
  // The browser's values and trend ask the server only while the main window has the link and
  // no pass or connect of its own is using it.
  browserWindow.SetLinkCheck([&window] {
    velt::MainWindow* w = window.load();
    return w != nullptr && w->Logic().Connected() && !w->Logic().Busy();
  });
  velt::HelpWindow help;

  velt::LauncherPlaces places;
  places.desktopDir =
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation).toStdString();
  places.settingsDir =
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
  places.executable = QCoreApplication::applicationFilePath().toStdString();

  auto main = std::make_unique<velt::MainWindow>(velt::MainWindowParts{
      .tm = tm,
      .spreadsheet = launcher,
      .browser = browser,
      .help = help,
      .settings = velt::SettingsLocationFromCommandLine(argc, argv),
      .userLcid = velt::UserLocaleId(),
      .places = places,
  });
  window = main.get();
  main->show();
  const int code = QApplication::exec();
  window = nullptr;
  main.reset();
  return code;
}
