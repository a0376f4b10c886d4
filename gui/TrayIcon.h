// The notification-area icon: its hint, its menu ("Обновить телеметрию", "Основное окно",
// "Навигатор", "Выход"), the double click, and the animation of a timed pass (8 frames, 80 ms
// each). The window listens through the callbacks. Where the desktop has no notification
// area, Available() is false and the window minimises to the task bar instead.
#pragma once

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace velt {

class TrayIcon : public QObject {
 public:
  static constexpr int kFrameCount = 8;
  static constexpr int kFrameMs = 80;

  struct Handlers {
    std::function<void()> refresh;     // N20
    std::function<void()> mainWindow;  // N7 and the double click
    std::function<void()> browser;     // N13
    std::function<void()> exit;        // Ds1
  };

  TrayIcon(Handlers handlers, QObject* parent = nullptr);
  ~TrayIcon() override;

  bool Available() const;
  void SetHint(const QString& hint);
  // The server stopped answering: another icon until it answers again.
  void SetLinkLost(bool lost);
  bool LinkLost() const { return linkLost_; }
  void StartAnimation();
  void StopAnimation();
  bool Animating() const { return animation_.isActive(); }
  // Frames shown since the animation last started.
  int FramesShown() const { return framesShown_; }
  // Draws the current frame now: the pass keeps the event loop busy between its steps.
  void Flush();
  QMenu* Menu() const { return menu_; }
  QSystemTrayIcon* Icon() const { return icon_; }

 private:
  void NextFrame();

  Handlers handlers_;
  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_ = nullptr;
  QIcon appIcon_;
  QIcon lostIcon_;
  bool linkLost_ = false;
  std::array<QIcon, kFrameCount> frames_;
  QTimer animation_;
  int frame_ = 0;
  int framesShown_ = 0;
};

}  // namespace velt
