// The main window "ВЕЛТ-Excel": its controls, menus and timers, the tray icon, and the
// message boxes and file dialog of its commands. It only shows the state MainWindowLogic
// decides and forwards every event there.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QRect>
#include <QTimer>

#include <memory>

#include "BrowserWindow.h"
#include "MainWindowLogic.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSpinBox;
class QToolButton;

namespace velt {

class HelpWindow;
class TrayIcon;

// What the window works with. `dialogs` replaces the message boxes (tests); null: real ones.
struct MainWindowParts {
  TmConnection& tm;
  SpreadsheetLauncher& spreadsheet;
  BrowserControl& browser;
  HelpWindow& help;
  SettingsLocation settings;
  int32_t userLcid = 0x0409;
  LauncherPlaces places;
  ShellDialogs* dialogs = nullptr;
};

// A window-system timer for the logic.
class QtTimer : public Timer {
 public:
  explicit QtTimer(std::function<void()> tick);
  void SetInterval(int milliseconds) override { timer_.setInterval(milliseconds); }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
};

class MainWindow : public QMainWindow, public MainView {
 public:
  static constexpr int kClientWidth = 344;
  static constexpr int kClientHeight = 56;

  explicit MainWindow(MainWindowParts parts);
  ~MainWindow() override;

  MainWindowLogic& Logic() { return *logic_; }
  TrayIcon& Tray() { return *tray_; }
  // Runs work on this window's thread from any thread, through the logic.
  void Post(std::function<void()> work);

  // MainView
  void Show(const MainViewState& state) override;
  void RepaintNow() override;
  void ShowProgress(int32_t position, int32_t maximum) override;
  void KeepPainted() override;
  void StartTrayAnimation() override;
  void StopTrayAnimation() override;
  bool WindowVisible() const override;
  void HideToTray() override;
  void ShowWindow() override;
  void CloseWindow() override;
  WindowPlacement Placement() const override;
  void ApplyPlacement(const WindowPlacement& placement) override;
  ScreenSize Screen() const override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void TellOnceWhyNoTray();

  MainWindowParts parts_;
  std::unique_ptr<ShellDialogs> ownDialogs_;
  std::unique_ptr<QtTimer> timer1_;
  std::unique_ptr<QtTimer> timer2_;
  TrayIcon* tray_ = nullptr;
  std::unique_ptr<MainWindowLogic> logic_;
  MainViewState shown_;
  bool closing_ = false;
  bool toldNoTray_ = false;
  bool busyCursor_ = false;
  QRect lastFrame_;
  QElapsedTimer sinceFlush_;

  QToolButton* button1_ = nullptr;
  QToolButton* speedButton2_ = nullptr;
  QToolButton* bitBtn2_ = nullptr;
  QToolButton* button2_ = nullptr;
  QLabel* image1_ = nullptr;
  QSpinBox* rxSpinEdit1_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QProgressBar* pb_ = nullptr;
  QAction* n14_ = nullptr;
  QMenu* recentItm_ = nullptr;
  QAction* n17_ = nullptr;
  QAction* n11_ = nullptr;
  QAction* n4_ = nullptr;
  QAction* n5_ = nullptr;
  QAction* n6_ = nullptr;
  QAction* n8_ = nullptr;
  QAction* n9_ = nullptr;
  QAction* n21_ = nullptr;
  QAction* n10_ = nullptr;
};

// The telemetry browser window as the main window drives it: rebuilt after each connect,
// hidden on disconnect, shown from the button and the tray menu.
class BrowserWindowControl : public BrowserControl {
 public:
  explicit BrowserWindowControl(BrowserWindow& window) : window_(window) {}
  void Reload() override { window_.ReloadClick(); }
  void Hide() override { window_.HideForDisconnection(); }
  void Show() override;

 private:
  BrowserWindow& window_;
};

}  // namespace velt
