#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <iostream>

#include "HelpWindow.h"
#include "TrayIcon.h"

// Resources of the static library are registered by name, outside any namespace.
static void InitGuiResources() {
  Q_INIT_RESOURCE(veltexcel);
}

namespace velt {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Message boxes with the standard captions and buttons of their kind; the file dialog of the
// Open command.
class QtDialogs : public ShellDialogs {
 public:
  explicit QtDialogs(QWidget* parent) : parent_(parent) {}

  bool AskYesNo(const std::string& text) override {
    return QMessageBox::question(Parent(), QStringLiteral("Подтверждение"), Q(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  void ShowError(const std::string& text, const std::string& reason) override {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), Q(text), QMessageBox::Ok,
                    Parent());
    if (!reason.empty()) box.setInformativeText(Q(reason));
    box.exec();
  }
  void ShowNotice(const std::string& text) override {
    // Not modal: the cycle, close notifications and the end of a command-line run go on.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Ошибка"), Q(text),
                                QMessageBox::Ok, Parent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }
  void ShowInformation(const std::string& text) override {
    QMessageBox::information(Parent(), QStringLiteral("Информация"), Q(text));
  }
  std::optional<std::string> ChooseWorkbook(const std::string& current) override {
    QFileDialog dialog(Parent(), QStringLiteral("Открыть"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist yet is allowed: the open operation offers to create it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Книга Excel (*.xls)"));
    if (!current.empty()) dialog.selectFile(Q(current));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst().toStdString();
  }

 private:
  // A hidden main window would leave the box without a place on the screen.
  QWidget* Parent() const { return parent_->isVisible() ? parent_ : nullptr; }
  QWidget* parent_;
};

QToolButton* MakeButton(QWidget* parent, const char* name, const char* icon, const char* hint,
                        bool latching) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromUtf8(icon))));
  button->setIconSize(QSize(24, 24));
  button->setToolTip(QString::fromUtf8(hint));
  button->setCheckable(latching);
  button->setAutoRaise(false);
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

}  // namespace

QtTimer::QtTimer(std::function<void()> tick) {
  QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(tick)] { tick(); });
}

void QtTimer::SetEnabled(bool enabled) {
  if (enabled)
    timer_.start();
  else
    timer_.stop();
}

MainWindow::MainWindow(MainWindowParts parts) : parts_(std::move(parts)) {
  InitGuiResources();
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QString::fromUtf8(kMainCaption));
  setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
  // System menu and minimise box only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  BuildControls();
  BuildMenus();

  if (!parts_.dialogs) {
    ownDialogs_ = std::make_unique<QtDialogs>(this);
    parts_.dialogs = ownDialogs_.get();
  }
  timer1_ = std::make_unique<QtTimer>([this] { logic_->Timer1Timer(); });
  timer2_ = std::make_unique<QtTimer>([this] { logic_->Timer2Timer(); });
  tray_ = new TrayIcon({.refresh = [this] { logic_->N20Click(); },
                        .mainWindow = [this] { logic_->N7Click(); },
                        .browser = [this] { logic_->N13Click(); },
                        .exit = [this] { close(); }},
                       this);

  logic_ = std::make_unique<MainWindowLogic>(
      MainWindowSeams{*this, *timer1_, *timer2_, *parts_.dialogs, parts_.tm, parts_.spreadsheet,
                      parts_.browser},
      parts_.settings, parts_.userLcid, parts_.places);
  Show(logic_->State());

  // The client area is fixed; the menu bar comes on top of it.
  adjustSize();
  setFixedSize(sizeHint());
}

MainWindow::~MainWindow() {
  // The logic ends before the timers and the tray it refers to.
  logic_.reset();
}

void MainWindow::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Client"));
  client->setFixedSize(kClientWidth, kClientHeight);

  button1_ = MakeButton(client, "Button1", "connect", kHintConnect, true);
  speedButton2_ = MakeButton(client, "SpeedButton2", "telemetry-list", "Список телеметрии", false);
  bitBtn2_ = MakeButton(client, "BitBtn2", "data-sheet", "Показать(Создать) лист ВЕЛТ", false);
  button2_ = MakeButton(client, "Button2", "refresh", "Обновить телеметрию", true);
  int x = 4;
  for (QToolButton* b : {button1_, speedButton2_, bitBtn2_, button2_}) {
    b->setGeometry(x, 5, 36, 36);
    x += b == speedButton2_ ? 42 : 38;
  }

  image1_ = new QLabel(client);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setToolTip(QStringLiteral("Нет доступа к EXCEL"));
  image1_->setPixmap(QIcon(QStringLiteral(":/icons/no-spreadsheet.svg")).pixmap(20, 20));
  image1_->setGeometry(162, 13, 20, 20);
  image1_->hide();

  auto* cycleLabel = new QLabel(QStringLiteral("Цикл"), client);
  cycleLabel->setGeometry(186, 1, 58, 16);
  rxSpinEdit1_ = new QSpinBox(client);
  rxSpinEdit1_->setObjectName(QStringLiteral("RxSpinEdit1"));
  rxSpinEdit1_->setToolTip(QStringLiteral("Время цикла (в сек)"));
  rxSpinEdit1_->setRange(kCycleMinSeconds, kCycleMaxSeconds);
  rxSpinEdit1_->setGeometry(186, 17, 58, 25);
  // Only the arrows change the value.
  if (auto* line = rxSpinEdit1_->findChild<QLineEdit*>()) line->setReadOnly(true);
  cycleLabel->setBuddy(rxSpinEdit1_);

  auto* serverLabel = new QLabel(QStringLiteral("Сервер"), client);
  serverLabel->setGeometry(250, 1, 90, 16);
  edit1_ = new QLineEdit(client);
  edit1_->setObjectName(QStringLiteral("Edit1"));
  edit1_->setToolTip(QStringLiteral("Имя сервера телемеханики"));
  edit1_->setGeometry(250, 17, 90, 25);
  serverLabel->setBuddy(edit1_);

  pb_ = new QProgressBar(client);
  pb_->setObjectName(QStringLiteral("PB"));
  pb_->setRange(0, 100);
  pb_->setValue(0);
  pb_->setTextVisible(false);
  pb_->setGeometry(0, kClientHeight - 10, kClientWidth, 10);

  setCentralWidget(client);

  // A latching button changes itself on a click; the logic decides what it really shows.
  connect(button1_, &QToolButton::clicked, this, [this] {
    logic_->Button1Click();
    button1_->setChecked(logic_->State().button1Down);
  });
  connect(speedButton2_, &QToolButton::clicked, this, [this] { logic_->SpeedButton2Click(); });
  connect(bitBtn2_, &QToolButton::clicked, this, [this] { logic_->BitBtn2Click(); });
  connect(button2_, &QToolButton::clicked, this, [this](bool checked) {
    logic_->Button2Click(checked);
    button2_->setChecked(logic_->State().button2Down);
  });
  connect(rxSpinEdit1_, &QSpinBox::valueChanged, this,
          [this](int value) { logic_->RxSpinEdit1Change(value); });
  connect(edit1_, &QLineEdit::textEdited, this,
          [this](const QString& text) { logic_->Edit1Change(text.toStdString()); });
}

void MainWindow::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, const char* text, std::function<void()> run) {
    QAction* a = menu->addAction(QString::fromUtf8(text));
    a->setObjectName(QString::fromUtf8(name));
    connect(a, &QAction::triggered, this, [run = std::move(run)] { run(); });
    return a;
  };

  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  n14_ = action(file, "N14", "Открыть...", [this] { logic_->N14Click(); });
  n14_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  recentItm_ = file->addMenu(QStringLiteral("Список"));
  recentItm_->setObjectName(QStringLiteral("RecentItm"));
  n17_ = action(file, "N17", "Создать иконку на столе", [this] { logic_->N17Click(); });
  n11_ = action(file, "N11", "Закрыть", [this] { logic_->N11Click(); });
  file->addSeparator();
  n4_ = action(file, "N4", "Выход", [this] { close(); });
  n4_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

  QMenu* server = menuBar()->addMenu(QStringLiteral("&Сервер"));
  n5_ = action(server, "N5", "Соединение", [this] { logic_->N5Click(); });
  n6_ = action(server, "N6", "Разрыв", [this] { logic_->N6Click(); });

  QMenu* options = menuBar()->addMenu(QStringLiteral("&Настройка"));
  n8_ = action(options, "N8", "Обновление по циклу", [this] { logic_->N8Click(); });
  n9_ = action(options, "N9", "Автосохранение при выходе", [this] { logic_->N9Click(); });
  n21_ = action(options, "N21", "Сохранение после обновления", [this] { logic_->N21Click(); });
  for (QAction* a : {n8_, n9_, n21_}) a->setCheckable(true);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
  n10_ = action(help, "N10", "О программе", [this] { parts_.help.Present(); });
  n10_->setShortcut(QKeySequence(Qt::Key_F1));
  // Short-cuts work while the window is active, menus closed or not.
  for (QAction* a : {n14_, n4_, n10_}) addAction(a);
}

void MainWindow::Show(const MainViewState& s) {
  if (s.caption != shown_.caption) setWindowTitle(Q(s.caption));
  if (tray_) {
    tray_->SetHint(Q(s.trayHint));
    tray_->SetLinkLost(s.linkLost);
  }
  if (s.linkLost != shown_.linkLost || button1_->icon().isNull())
    button1_->setIcon(QIcon(s.linkLost ? QStringLiteral(":/icons/connect-lost.svg")
                                       : QStringLiteral(":/icons/connect.svg")));
  if (s.busy != busyCursor_) {
    busyCursor_ = s.busy;
    if (busyCursor_)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  }
  // The window's hint says what long work runs.
  centralWidget()->setToolTip(Q(s.status));
  button1_->setChecked(s.button1Down);
  button1_->setToolTip(Q(s.button1Hint));
  speedButton2_->setEnabled(s.speedButton2Enabled);
  bitBtn2_->setEnabled(s.bitBtn2Enabled);
  button2_->setEnabled(s.button2Enabled);
  button2_->setChecked(s.button2Down);
  image1_->setVisible(s.image1Visible);
  {
    const QSignalBlocker block(rxSpinEdit1_);
    rxSpinEdit1_->setEnabled(s.rxSpinEdit1Enabled);
    rxSpinEdit1_->setValue(s.rxSpinEdit1Value);
  }
  edit1_->setEnabled(s.edit1Enabled);
  if (edit1_->text().toStdString() != s.edit1Text) edit1_->setText(Q(s.edit1Text));
  n14_->setEnabled(s.n14Enabled);
  recentItm_->setEnabled(s.recentItmEnabled);
  if (s.recent != shown_.recent) {
    recentItm_->clear();
    for (std::size_t i = 0; i < s.recent.size(); ++i) {
      QAction* entry = recentItm_->addAction(Q(s.recent[i]));
      connect(entry, &QAction::triggered, this, [this, i] { logic_->RecentClick(i); });
    }
  }
  n17_->setEnabled(s.n17Enabled);
  n11_->setEnabled(s.n11Enabled);
  n5_->setEnabled(s.n5Enabled);
  n6_->setEnabled(s.n6Enabled);
  n8_->setChecked(s.n8Checked);
  n9_->setChecked(s.n9Checked);
  n21_->setChecked(s.n21Checked);
  shown_ = s;
}

void MainWindow::RepaintNow() {
  if (!isVisible()) return;
  repaint();
  // What the window manager asked for (a first expose, a menu closing) is drawn too; input
  // waits until the work is done.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::ShowProgress(int32_t position, int32_t maximum) {
  // A pass moves the bar once per row; the bar is drawn a few times a second, and always when
  // it returns to 0 at the end of the pass.
  if (position != 0 && sinceFlush_.isValid() && sinceFlush_.elapsed() < 40) return;
  sinceFlush_.start();
  pb_->setMaximum(maximum);
  pb_->setValue(position);
  if (position == 0) return;
  KeepPainted();
}

void MainWindow::KeepPainted() {
  // The pass holds the event loop: let paints and the tray frames through now and then.
  // Input waits until the pass ends, and the logic holds back ticks and notifications.
  tray_->Flush();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::StartTrayAnimation() {
  tray_->StartAnimation();
}

void MainWindow::StopTrayAnimation() {
  tray_->StopAnimation();
}

bool MainWindow::WindowVisible() const {
  return isVisible() && !isMinimized();
}

void MainWindow::HideToTray() {
  if (isVisible()) lastFrame_ = frameGeometry();
  if (tray_->Available())
    hide();
  else
    showMinimized();
}

void MainWindow::ShowWindow() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::CloseWindow() {
  close();
}

WindowPlacement MainWindow::Placement() const {
  WindowPlacement p;
  p.flags = 0;
  p.showCmd = isMinimized() || !isVisible() ? 2 : 1;
  p.pixelsPerInch = logicalDpiY();
  // The frame's rectangle, title bar included; a hidden window keeps where it was last seen.
  const QRect r = isVisible() ? frameGeometry() : lastFrame_;
  if (r.isValid())
    p.normPos = std::array<int32_t, 4>{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
  p.minMaxPos = std::array<int32_t, 4>{-1, -1, -1, -1};
  return p;
}

void MainWindow::ApplyPlacement(const WindowPlacement& placement) {
  if (!placement.normPos) return;
  const QPoint topLeft((*placement.normPos)[0], (*placement.normPos)[1]);
  // Only onto a screen that is there now.
  if (!QGuiApplication::screenAt(topLeft + QPoint(20, 20))) return;
  // The stored corner is the frame's. The window manager places the frame there itself
  // (north-west gravity), also while it has not yet told the frame's size.
  if (QWindow* window = windowHandle())
    window->setFramePosition(topLeft);
  else
    move(topLeft);
  lastFrame_ = QRect(topLeft, frameGeometry().size());
}

ScreenSize MainWindow::Screen() const {
  const QScreen* where = screen();
  if (!where) return {};
  return {where->size().width(), where->size().height()};
}

void MainWindow::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(
      this, [this, work = std::move(work)] { logic_->Deliver(work); }, Qt::QueuedConnection);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (event->spontaneous()) return;
  TellOnceWhyNoTray();
  // After the window is on the screen: the show handling may block on connect.
  QMetaObject::invokeMethod(
      this, [this] { logic_->OnShow(); }, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (logic_->InPass() || logic_->State().busy) {
    // Not in the middle of a pass, an office start or a connect (the window manager's close
    // comes through while the window keeps painting): close when it is done.
    event->ignore();
    logic_->Deliver([this] { close(); });
    return;
  }
  if (!closing_) {
    if (!logic_->OnClose()) {
      // The user cancelled the question about their changes: nothing closes.
      event->ignore();
      return;
    }
    closing_ = true;
    parts_.browser.Hide();
    parts_.help.hide();
  }
  event->accept();
  QCoreApplication::quit();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // Minimised windows go to the tray, when there is one.
  if (tray_->Available())
    QMetaObject::invokeMethod(
        this,
        [this] {
          setWindowState(windowState() & ~Qt::WindowMinimized);
          lastFrame_ = frameGeometry();
          hide();
        },
        Qt::QueuedConnection);
}

void MainWindow::TellOnceWhyNoTray() {
  if (toldNoTray_ || tray_->Available()) return;
  toldNoTray_ = true;
  std::cerr << "veltexcel: the desktop has no notification area (system tray); the window "
               "minimises to the task bar instead\n";
}

void BrowserWindowControl::Show() {
  window_.show();
  window_.raise();
  window_.activateWindow();
}

}  // namespace velt
