#include "TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace velt {

TrayIcon::TrayIcon(Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
  appIcon_ = QIcon(QStringLiteral(":/icons/app.svg"));
  lostIcon_ = QIcon(QStringLiteral(":/icons/app-link-lost.svg"));
  for (int i = 0; i < kFrameCount; ++i)
    frames_[static_cast<std::size_t>(i)] =
        QIcon(QStringLiteral(":/icons/tray-frame-%1.svg").arg(i));

  menu_ = new QMenu();
  menu_->setObjectName(QStringLiteral("PopupMenu1"));
  auto add = [this](const char* name, const char* text, const std::function<void()>& handler) {
    QAction* action = menu_->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::fromUtf8(name));
    connect(action, &QAction::triggered, this, [handler] {
      if (handler) handler();
    });
    return action;
  };
  add("N20", "Обновить телеметрию", handlers_.refresh);
  menu_->addSeparator();
  QAction* mainWindow = add("N7", "Основное окно", handlers_.mainWindow);
  menu_->setDefaultAction(mainWindow);
  add("N13", "Навигатор", handlers_.browser);
  menu_->addSeparator();
  add("Ds1", "Выход", handlers_.exit);

  icon_ = new QSystemTrayIcon(appIcon_, this);
  icon_->setObjectName(QStringLiteral("RxTrayIcon1"));
  icon_->setToolTip(QStringLiteral("ВЕЛТ-Excel"));
  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::DoubleClick && handlers_.mainWindow) handlers_.mainWindow();
  });
  icon_->show();

  animation_.setInterval(kFrameMs);
  connect(&animation_, &QTimer::timeout, this, &TrayIcon::NextFrame);
}

TrayIcon::~TrayIcon() {
  icon_->hide();
  delete menu_;
}

bool TrayIcon::Available() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::SetHint(const QString& hint) {
  if (icon_->toolTip() != hint) icon_->setToolTip(hint);
}

void TrayIcon::SetLinkLost(bool lost) {
  if (lost == linkLost_) return;
  linkLost_ = lost;
  if (!animation_.isActive()) icon_->setIcon(linkLost_ ? lostIcon_ : appIcon_);
}

void TrayIcon::StartAnimation() {
  frame_ = 0;
  framesShown_ = 1;
  icon_->setIcon(frames_[0]);
  animation_.start();
}

void TrayIcon::StopAnimation() {
  animation_.stop();
  icon_->setIcon(linkLost_ ? lostIcon_ : appIcon_);
}

void TrayIcon::Flush() {
  // The timer cannot fire while a pass holds the loop; step the frames by the clock instead.
  if (animation_.isActive() && animation_.remainingTime() == 0) {
    NextFrame();
    animation_.start();
  }
}

void TrayIcon::NextFrame() {
  frame_ = (frame_ + 1) % kFrameCount;
  ++framesShown_;
  icon_->setIcon(frames_[static_cast<std::size_t>(frame_)]);
}

}  // namespace velt
