// The main window's decisions, without widgets: the state flags, what every control and menu
// item shows and whether it is enabled, connect and disconnect, the refresh button in single
// and cycle mode, the cycle timer, the one-shot timer of command-line mode, the tray commands,
// the Open command and the recent list, and exit. The window (gui/) forwards its events here
// and shows the MainViewState it is given; timers, dialogs, the TM connection, the spreadsheet
// application and the browser window are seams that tests replace.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DesktopLauncher.h"
#include "Dialogs.h"
#include "LinkState.h"
#include "Progress.h"
#include "RecentList.h"
#include "Result.h"
#include "Settings.h"
#include "TmOperations.h"
#include "WorkbookOperations.h"

namespace velt {

inline constexpr char kMainCaption[] = "ВЕЛТ-Excel";
inline constexpr char kHintConnect[] = "Подключение к серверу";
inline constexpr char kHintDisconnect[] = "Отключение от сервера";
inline constexpr char kTextAskConnect[] = "Соединиться с сервером ТМ?";
inline constexpr char kTextNoServer[] = "Нет связи с сервером!";
inline constexpr char kTextNoConnection[] = "Нет соединения!";
// Short words of long work in progress, for the window's hint and the tray's tooltip.
inline constexpr char kStatusConnecting[] = "Соединение с сервером ";
inline constexpr char kStatusOpening[] = "Запуск LibreOffice и открытие книги...";

inline constexpr int kTimer2OpenMs = 500;
// While the user types into a cell or has a dialog of the spreadsheet open, the cycle's pass
// waits and is tried again this much later.
inline constexpr int kPassRetryMs = 500;
inline constexpr char kTextSaveFailed[] = "Не удалось сохранить книгу после обновления: ";
inline constexpr char kTextSaveRetried[] =
    ". Книга будет сохранена после следующего обновления, когда файл снова станет доступен для "
    "записи.";
inline constexpr char kTextOfficeEnded[] = "LibreOffice завершил работу, книга закрыта.";
inline constexpr char kTextOfficeEndedReopen[] =
    "LibreOffice завершил работу, книга закрыта. Открыть её снова?";

// Everything the window shows that the logic decides.
struct MainViewState {
  std::string caption = kMainCaption;  // the window's caption; the tray hint is the same
  bool button1Down = false;
  std::string button1Hint = kHintConnect;
  bool speedButton2Enabled = false;  // "Список телеметрии"
  bool bitBtn2Enabled = false;       // "Показать(Создать) лист ВЕЛТ"
  bool button2Enabled = false;       // refresh
  bool button2Down = false;
  bool image1Visible = false;  // "Нет доступа к EXCEL"
  bool rxSpinEdit1Enabled = false;
  int32_t rxSpinEdit1Value = 10;
  bool edit1Enabled = true;
  std::string edit1Text = kDefaultServerText;
  bool n14Enabled = true;         // "Открыть..."
  bool recentItmEnabled = false;  // "Список"
  std::vector<std::string> recent;
  bool n17Enabled = false;  // "Создать иконку на столе"
  bool n11Enabled = false;  // "Закрыть"
  bool n5Enabled = true;    // "Соединение"
  bool n6Enabled = false;   // "Разрыв"
  bool n8Checked = true;
  bool n9Checked = true;
  bool n21Checked = false;
  // The server stopped answering during the cycle: the connect button and the tray say so.
  bool linkLost = false;
  std::string trayHint = kMainCaption;  // the tray icon's tooltip
  // Long work runs (office start, open, connect): the busy cursor and a short word of it.
  bool busy = false;
  std::string status;

  bool operator==(const MainViewState&) const = default;
};

// The window as the logic sees it.
class MainView {
 public:
  virtual ~MainView() = default;
  virtual void Show(const MainViewState& state) = 0;
  // Paints what changed at once: the window is about to block (connect, a pass step).
  virtual void RepaintNow() = 0;
  virtual void ShowProgress(int32_t position, int32_t maximum) = 0;
  // The pass waits for the server: paints and the tray's frames go on, input waits.
  virtual void KeepPainted() {}
  virtual void StartTrayAnimation() = 0;
  virtual void StopTrayAnimation() = 0;
  virtual bool WindowVisible() const = 0;
  virtual void HideToTray() = 0;
  // Restores the window from the tray (its show handling follows).
  virtual void ShowWindow() = 0;
  // Closes the window; OnClose follows and the program ends.
  virtual void CloseWindow() = 0;
  virtual WindowPlacement Placement() const = 0;
  virtual void ApplyPlacement(const WindowPlacement& placement) = 0;
  // The size of the screen the window is on (0 x 0: unknown), which selects the placement
  // stored for it.
  virtual ScreenSize Screen() const { return {}; }
  // The local time as the hints show it ("14:05:09").
  virtual std::string ClockText() const;
};

// A timer of the window system: enabling it starts a full interval.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetInterval(int milliseconds) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

// Dialogs of the main window: the messages plus the file-open dialog.
class ShellDialogs : public Dialogs {
 public:
  // A message that does not wait for its OK: the program goes on (and may end) meanwhile.
  virtual void ShowNotice(const std::string& text) { ShowError(text); }
  // "Книга Excel|*.xls"; nullopt when cancelled.
  virtual std::optional<std::string> ChooseWorkbook(const std::string& current) = 0;
  // A message with an OK button that reports what a command did.
  virtual void ShowInformation(const std::string& text) { (void)text; }
};

// The TM server connection (tmaccess): connect, disconnect, and the operations.
class TmConnection {
 public:
  virtual ~TmConnection() = default;
  // The failure's text says which server and why (TmAccess::Connect).
  virtual Result<> Connect(const std::string& serverText, const std::string& clientName) = 0;
  virtual void Disconnect() = 0;
  virtual TmOperations& Operations() = 0;
};

// What the main window does with the telemetry browser window.
class BrowserControl {
 public:
  virtual ~BrowserControl() = default;
  virtual void Reload() = 0;  // after each successful connect
  virtual void Hide() = 0;    // on disconnect
  virtual void Show() = 0;
};

struct MainWindowSeams {
  MainView& view;
  Timer& timer1;
  Timer& timer2;
  ShellDialogs& dialogs;
  TmConnection& tm;
  SpreadsheetLauncher& spreadsheet;
  BrowserControl& browser;
};

class MainWindowLogic : private WorkbookView {
 public:
  MainWindowLogic(const MainWindowSeams& seams, SettingsLocation settings, int32_t userLcid,
                  LauncherPlaces places = {});
  ~MainWindowLogic() override;
  MainWindowLogic(const MainWindowLogic&) = delete;
  MainWindowLogic& operator=(const MainWindowLogic&) = delete;

  // Events of the window. Each one runs to its end before the next: while a pass or a
  // connect runs, ticks and close notifications are held back and run after it. An error
  // that no command catches is shown with its own text, and the program goes on.
  void OnShow();                           // every time the window becomes visible
  void Button1Click();                     // connect / disconnect
  void Button2Click(bool downAfterClick);  // refresh
  void BitBtn2Click();                     // show or create the data sheet
  void SpeedButton2Click();                // browser
  void RxSpinEdit1Change(int32_t seconds);
  void Edit1Change(const std::string& text);
  void N14Click();                      // "Открыть..."
  void RecentClick(std::size_t index);  // an entry of "Список"
  void N17Click();                      // "Создать иконку на столе"
  void N11Click();                      // "Закрыть"
  void N5Click();                       // "Соединение"
  void N6Click();                       // "Разрыв"
  void N8Click();                       // check marks
  void N9Click();
  void N21Click();
  void N20Click();  // tray "Обновить телеметрию"
  void N7Click();   // tray "Основное окно", tray double click
  void N13Click();  // tray "Навигатор"
  void Timer1Timer();
  void Timer2Timer();
  // The window is closing (close box, "Выход", Timer2): disconnect, Close, save settings.
  // When Close will not save the workbook, the user is first asked about changes of their own;
  // false: they cancelled, and everything stays open and running.
  bool OnClose();
  // Runs work handed over from another thread (the workbook's close notification): now, or
  // after the pass or connect in progress.
  void Deliver(std::function<void()> work);

  const MainViewState& State() const { return state_; }
  bool Connected() const { return connected_; }
  // A command or a pass is under way (its waits let timers through).
  bool Busy() const { return busy_; }
  // An update pass is running: the window lets paints through, and nothing else may run.
  bool InPass() const { return inPass_; }
  bool SheetReady() const { return workbook_.SheetReady(); }
  bool CommandLineMode() const { return settingsLocation_.commandLineMode; }
  const std::string& SettingsPath() const { return settingsLocation_.path; }
  ProgressIndicator& Progress() { return pb_; }
  // The last settings save (a failure is also shown).
  const Result<std::string>& LastSave() const { return lastSave_; }

 private:
  // WorkbookView
  void SetOpenState(bool open) override;
  void SetCaption(const std::string& caption) override;
  void SetOpenFileName(const std::string& path) override;
  void StartCloseTimer(int milliseconds) override;
  bool AutosaveOnExit() const override { return form_.n9Checked; }

  void Connect();
  void Disconnect();
  // Shows the busy cursor and a status for the length of a scope.
  class BusyStatus;
  void TMChanges();
  void OpenPath(const std::string& path);
  void LoadSettings();
  void Render();
  // Runs a command: errors go to the general handler; work that arrives meanwhile waits.
  void Guarded(const std::function<void()>& command);
  void RunDeferred();
  // The user is busy in the spreadsheet: the cycle's pass waits (Timer1 retries soon).
  bool PassMustWait();
  bool ConfirmCloseWorkbook();
  // The save after a pass; a failure is said once and the next pass saves again.
  void SaveAfterPass();
  // The spreadsheet application ended under the program: said once; a command-line run ends as
  // if the workbook were closed, a normal run offers to open it again. true: it had ended.
  bool OfficeEnded();
  std::optional<std::string> ReadSettingsFile() const;

  MainView& view_;
  Timer& timer1_;
  Timer& timer2_;
  ShellDialogs& dialogs_;
  TmConnection& tm_;
  BrowserControl& browser_;
  SettingsLocation settingsLocation_;
  int32_t userLcid_;
  LauncherPlaces places_;

  SettingsStorage storage_;
  MainWindowSettings form_;
  RecentList recent_;
  Result<std::string> lastSave_ = std::string();
  // The settings file as last read or written here.
  std::optional<std::string> settingsSeen_;
  ProgressBarModel pb_;
  MainViewState state_;
  std::optional<MainViewState> shown_;  // what the view shows
  WorkbookOperations workbook_;
  LinkState link_;

  bool connected_ = false;
  bool cycleToggle_ = false;
  bool open_ = false;
  bool busy_ = false;
  bool draining_ = false;
  bool inPass_ = false;
  bool closed_ = false;
  bool saveFailureShown_ = false;
  std::vector<std::function<void()>> deferred_;
};

}  // namespace velt
