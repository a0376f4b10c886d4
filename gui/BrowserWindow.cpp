#include "BrowserWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDialog>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

// Resources of a static library are registered by hand.
static void InitBrowserResources() {
  Q_INIT_RESOURCE(browser);
}

namespace velt {

namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

PanelFont DefaultPanelFont() {
  PanelFont font;
  const int points = QApplication::font().pointSize();
  if (points > 0) font.size = points;
  return font;
}

}  // namespace

QFont ToQFont(const PanelFont& font) {
  QFont qfont = QApplication::font();
  if (!font.name.empty()) qfont.setFamily(Text(font.name));
  qfont.setPointSize(font.size);
  qfont.setBold(font.bold);
  qfont.setItalic(font.italic);
  qfont.setUnderline(font.underline);
  qfont.setStrikeOut(font.strikeOut);
  return qfont;
}

PanelFont FromQFont(const QFont& qfont, PanelFont previous) {
  previous.name = qfont.family().toStdString();
  if (qfont.pointSize() > 0) previous.size = qfont.pointSize();
  previous.bold = qfont.bold();
  previous.italic = qfont.italic();
  previous.underline = qfont.underline();
  previous.strikeOut = qfont.strikeOut();
  return previous;
}

BrowserWindow::BrowserWindow(TmOperations& tm, BrowserSettingsStore& settings, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      logic_(tm, *this, settings, DefaultPanelFont()) {
  InitBrowserResources();
  setObjectName(QStringLiteral("TfrmTMSBrowse"));
  setWindowTitle(QStringLiteral("Список телеметрии"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/browser-window.svg")));
  BuildActions();
  BuildLayout();
  setGeometry(287, 174, 603, 443);
  ShowOptions(logic_.AppendAddress(), logic_.AppendName());
}

BrowserWindow::~BrowserWindow() {
  logic_.FormDestroy();
}

void BrowserWindow::BuildActions() {
  const auto action = [this](const char* icon, const QString& text, const QString& hint) {
    auto* a = new QAction(text, this);
    if (icon != nullptr) a->setIcon(QIcon(QLatin1String(":/icons/") + QLatin1String(icon)));
    a->setStatusTip(hint);
    return a;
  };
  reloadAction_ = action("browser-reload.svg", QStringLiteral("&Обновить список имен"),
                         QStringLiteral("Перечитать каналы и КП с сервера"));
  reloadAction_->setToolTip(QStringLiteral("Обновить список имен"));
  reloadAction_->setShortcut(QKeySequence(Qt::Key_F5));
  exitAction_ =
      action(nullptr, QStringLiteral("В&ыход"), QStringLiteral("Закрыть список телеметрии"));
  exitAction_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  fontAction_ = action("browser-font.svg", QStringLiteral("Изменить &шрифт"),
                       QStringLiteral("Шрифт дерева и списка"));
  fontAction_->setToolTip(QStringLiteral("Изменить шрифт"));
  addressAction_ = action(nullptr, QStringLiteral("&Телемеханический адрес"),
                          QStringLiteral("Передавать адреса телепараметров"));
  addressAction_->setCheckable(true);
  nameAction_ = action(nullptr, QStringLiteral("&Наименование телепараметра"),
                       QStringLiteral("Передавать наименования телепараметров"));
  nameAction_->setCheckable(true);
  stayOnTopAction_ = action(nullptr, QStringLiteral("&Поверх других окон"),
                            QStringLiteral("Держать список телеметрии над другими окнами"));
  stayOnTopAction_->setCheckable(true);
  stayOnTopAction_->setChecked(true);
  copyAction_ = action("browser-copy.svg", QStringLiteral("Поместить в буфер обмена"),
                       QStringLiteral("Копировать выбранные телепараметры"));
  findAction_ = action("browser-find.svg", QStringLiteral("Найти по адресу"),
                       QStringLiteral("Найти телепараметр по адресу"));

  connect(reloadAction_, &QAction::triggered, this, [this] { logic_.ReloadClick(); });
  connect(exitAction_, &QAction::triggered, this, [this] { close(); });
  connect(fontAction_, &QAction::triggered, this, [this] { logic_.ChangeFontClick(); });
  connect(addressAction_, &QAction::toggled, this,
          [this](bool on) { logic_.SetAppendAddress(on); });
  connect(nameAction_, &QAction::toggled, this, [this](bool on) { logic_.SetAppendName(on); });
  connect(stayOnTopAction_, &QAction::toggled, this, [this](bool on) { logic_.SetStayOnTop(on); });
  connect(copyAction_, &QAction::triggered, this, [this] { logic_.ListView1DblClick(); });
  connect(findAction_, &QAction::triggered, this,
          [this] { logic_.FindButtonClick(Edit1->text().toStdString()); });

  QMenu* server = menuBar()->addMenu(QStringLiteral("&Сервер"));
  server->addAction(reloadAction_);
  server->addSeparator();
  server->addAction(exitAction_);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&Вид"));
  view->addAction(fontAction_);
  view->addSeparator();
  view->addAction(addressAction_);
  view->addAction(nameAction_);
  view->addSeparator();
  view->addAction(stayOnTopAction_);
}

void BrowserWindow::BuildLayout() {
  auto* commands = new QToolBar(QStringLiteral("Команды"), this);
  commands->setObjectName(QStringLiteral("ToolBar1"));
  commands->setAllowedAreas(Qt::TopToolBarArea);
  commands->setIconSize(QSize(16, 16));
  commands->addAction(reloadAction_);
  commands->addSeparator();
  commands->addAction(fontAction_);
  commands->addSeparator();
  commands->addAction(copyAction_);
  addToolBar(Qt::TopToolBarArea, commands);

  auto* search = new QToolBar(QStringLiteral("Поиск"), this);
  search->setObjectName(QStringLiteral("ToolBar2"));
  search->setAllowedAreas(Qt::TopToolBarArea);
  search->setIconSize(QSize(16, 16));
  Edit1 = new QLineEdit(search);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setFixedWidth(258);
  Edit1->setStatusTip(QStringLiteral("Адрес телепараметра, например #TT1:2:3"));
  Edit1->setClearButtonEnabled(false);
  Edit1->installEventFilter(this);
  search->addWidget(Edit1);
  search->addAction(findAction_);
  addToolBar(Qt::TopToolBarArea, search);
  connect(Edit1, &QLineEdit::returnPressed, this,
          [this] { logic_.FindButtonClick(Edit1->text().toStdString()); });

  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto* layout = new QVBoxLayout(Panel1);
  layout->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Horizontal, Panel1);
  splitter_->setHandleWidth(3);
  splitter_->setChildrenCollapsible(false);
  layout->addWidget(splitter_);

  HETreeView1 = new QTreeWidget(splitter_);
  HETreeView1->setObjectName(QStringLiteral("HETreeView1"));
  HETreeView1->setHeaderHidden(true);
  HETreeView1->setColumnCount(1);
  HETreeView1->setIndentation(19);
  HETreeView1->setUniformRowHeights(true);
  // Long names scroll sideways instead of being cut short.
  HETreeView1->header()->setStretchLastSection(false);
  HETreeView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  HETreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  HETreeView1->setStatusTip(QStringLiteral("Каналы и КП сервера"));
  connect(HETreeView1, &QTreeWidget::itemClicked, this, [this] { logic_.HETreeView1Click(); });
  // The keyboard lists a kind node as a click does; an unchanged selection lists nothing anew.
  connect(HETreeView1, &QTreeWidget::currentItemChanged, this,
          [this] { logic_.HETreeView1Click(); });

  ListView1 = new QListWidget(splitter_);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setViewMode(QListView::ListMode);
  ListView1->setFlow(QListView::TopToBottom);
  ListView1->setWrapping(true);
  ListView1->setResizeMode(QListView::Adjust);
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setDragDropMode(QAbstractItemView::NoDragDrop);
  ListView1->setStatusTip(QStringLiteral("Телепараметры выбранного вида"));
  ListView1->setContextMenuPolicy(Qt::ActionsContextMenu);
  ListView1->addAction(copyAction_);
  ListView1->viewport()->setMouseTracking(true);
  ListView1->viewport()->installEventFilter(this);

  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({169, 431});
  setCentralWidget(Panel1);

  hintPanel_ = new QLabel(this);
  hintPanel_->setMinimumWidth(100);
  progressBar_ = new QProgressBar(this);
  progressBar_->setRange(0, TfrmTMSBrowse::kProgressMax);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setFixedWidth(200);
  progressBar_->setMaximumHeight(fontMetrics().height());
  auto* third = new QLabel(this);
  third->setFixedWidth(50);
  statusBar()->addWidget(hintPanel_, 1);
  statusBar()->addWidget(progressBar_);
  statusBar()->addWidget(third);
  statusBar()->setSizeGripEnabled(true);
}

QTreeWidgetItem* BrowserWindow::Item(NodeId id) const {
  if (id < 0 || static_cast<size_t>(id) >= nodes_.size()) return nullptr;
  return nodes_[static_cast<size_t>(id)];
}

void BrowserWindow::BeginTreeUpdate() {
  HETreeView1->setUpdatesEnabled(false);
}

void BrowserWindow::EndTreeUpdate() {
  // First-level nodes are built off the tree and handed over at once: far cheaper than
  // inserting thousands of items one by one into a live model.
  QList<QTreeWidgetItem*> items(pendingTopLevel_.begin(), pendingTopLevel_.end());
  pendingTopLevel_.clear();
  HETreeView1->addTopLevelItems(items);
  HETreeView1->setUpdatesEnabled(true);
}

void BrowserWindow::ClearTree() {
  HETreeView1->clear();
  for (QTreeWidgetItem* item : pendingTopLevel_) delete item;
  pendingTopLevel_.clear();
  nodes_.clear();
}

void BrowserWindow::AddTreeNode(NodeId id, NodeId parent, const std::string& caption) {
  QTreeWidgetItem* parentItem = Item(parent);
  auto* item = parentItem != nullptr ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem();
  item->setText(0, Text(caption));
  item->setData(0, Qt::UserRole, id);
  if (parentItem == nullptr) pendingTopLevel_.push_back(item);
  if (static_cast<size_t>(id) >= nodes_.size()) nodes_.resize(static_cast<size_t>(id) + 1);
  nodes_[static_cast<size_t>(id)] = item;
}

NodeId BrowserWindow::SelectedTreeNode() const {
  const QTreeWidgetItem* item = HETreeView1->currentItem();
  if (item == nullptr || !item->isSelected()) return kNoNode;
  return item->data(0, Qt::UserRole).toInt();
}

void BrowserWindow::SelectTreeNode(NodeId id) {
  if (QTreeWidgetItem* item = Item(id)) HETreeView1->setCurrentItem(item);
}

void BrowserWindow::MakeTreeNodeVisible(NodeId id) {
  QTreeWidgetItem* item = Item(id);
  if (item == nullptr) return;
  for (QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent()) {
    up->setExpanded(true);
  }
  HETreeView1->scrollToItem(item);
}

void BrowserWindow::ExpandTreeNode(NodeId id) {
  if (QTreeWidgetItem* item = Item(id)) item->setExpanded(true);
}

void BrowserWindow::BeginListUpdate() {
  ListView1->setUpdatesEnabled(false);
}

void BrowserWindow::EndListUpdate() {
  ListView1->addItems(pendingItems_);
  pendingItems_.clear();
  ListView1->setUpdatesEnabled(true);
  ListView1->doItemsLayout();
}

void BrowserWindow::ClearList() {
  ListView1->clear();
  pendingItems_.clear();
}

void BrowserWindow::AddListItem(const std::string& caption) {
  pendingItems_.append(Text(caption));
}

std::vector<int> BrowserWindow::SelectedListItems() const {
  std::vector<int> rows;
  for (const QModelIndex& index : ListView1->selectionModel()->selectedIndexes()) {
    rows.push_back(index.row());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void BrowserWindow::SelectOnlyListItem(int row) {
  QListWidgetItem* item = ListView1->item(row);
  if (item == nullptr) return;
  ListView1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  ListView1->scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void BrowserWindow::FocusList() {
  ListView1->setFocus(Qt::OtherFocusReason);
}

void BrowserWindow::ArrangeList() {
  ListView1->doItemsLayout();
}

void BrowserWindow::SetListToolTip(const std::string& text) {
  const QString tip = Text(text);
  if (tip == listToolTip_) return;
  listToolTip_ = tip;
  // A tooltip on show follows the pointer from item to item.
  if (QToolTip::isVisible()) {
    if (tip.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(QCursor::pos(), tip, ListView1->viewport());
    }
  }
}

void BrowserWindow::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void BrowserWindow::SetProgress(int position) {
  progressBar_->setValue(position);
}

void BrowserWindow::PostReload() {
  QMetaObject::invokeMethod(
      this, [this] { logic_.ReloadClick(); }, Qt::QueuedConnection);
}

void BrowserWindow::ShowOptions(bool address, bool name) {
  addressAction_->setChecked(address);
  nameAction_->setChecked(name);
}

void BrowserWindow::SetStayOnTop(bool on) {
  {
    const QSignalBlocker block(stayOnTopAction_);
    stayOnTopAction_->setChecked(on);
  }
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
  if (QWindow* window = windowHandle()) {
    // The window system's flag alone: setWindowFlag would hide the window and show it again.
    window->setFlag(Qt::WindowStaysOnTopHint, on);
    overrideWindowFlags(window->flags());
  } else {
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
  }
}

void BrowserWindow::SetPanelFont(const PanelFont& font) {
  const QFont qfont = ToQFont(font);
  HETreeView1->setFont(qfont);
  ListView1->setFont(qfont);
}

std::optional<PanelFont> BrowserWindow::ChooseFont(const PanelFont& current) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, ToQFont(current), this);
  if (!ok) return std::nullopt;
  return FromQFont(chosen, current);
}

int BrowserWindow::TreeWidth() const {
  return splitter_->sizes().value(0, HETreeView1->width());
}

void BrowserWindow::SetTreeWidth(int width) {
  const int total = std::max(splitter_->width() - splitter_->handleWidth(), width + 1);
  splitter_->setSizes({width, total - width});
}

BrowserPlacement BrowserWindow::Placement() const {
  const QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  BrowserPlacement placement;
  placement.left = normal.left();
  placement.top = normal.top();
  placement.right = normal.left() + normal.width();
  placement.bottom = normal.top() + normal.height();
  placement.showCmd = isMaximized()   ? BrowserPlacement::kMaximized
                      : isMinimized() ? BrowserPlacement::kMinimized
                                      : BrowserPlacement::kNormal;
  return placement;
}

void BrowserWindow::SetPlacement(const BrowserPlacement& placement) {
  setGeometry(placement.left, placement.top, placement.right - placement.left,
              placement.bottom - placement.top);
  if (placement.showCmd == BrowserPlacement::kMaximized) {
    setWindowState(windowState() | Qt::WindowMaximized);
  } else {
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
  }
}

ScreenInfo BrowserWindow::Screen() const {
  const QScreen* where = screen();
  if (where == nullptr) return {};
  return {where->size().width(), where->size().height(),
          static_cast<int>(std::lround(where->logicalDotsPerInch()))};
}

void BrowserWindow::SetSearchText(const std::string& text) {
  Edit1->setText(Text(text));
}

void BrowserWindow::PutOnClipboard(const std::string& text) {
  QGuiApplication::clipboard()->setText(Text(text));
}

void BrowserWindow::RunTextDrag(const std::string& text) {
  auto* drag = new QDrag(ListView1);
  auto* mime = new QMimeData;
  mime->setText(Text(text));
  drag->setMimeData(mime);
  drag->exec(Qt::CopyAction, Qt::CopyAction);
}

bool BrowserWindow::event(QEvent* event) {
  // The first status panel shows the long hint of what is under the mouse.
  if (event->type() == QEvent::StatusTip) {
    hintPanel_->setText(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void BrowserWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) logic_.FormShow();
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
  logic_.FormClose();
  event->accept();
}

bool BrowserWindow::eventFilter(QObject* watched, QEvent* event) {
  // Events come while the constructor is still building the window.
  if (ListView1 != nullptr && watched == ListView1->viewport()) return ListMouseEvent(event);
  if (Edit1 != nullptr && watched == Edit1) return SearchBoxDragEvent(event);
  return QMainWindow::eventFilter(watched, event);
}

namespace {

MouseState StateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  MouseState state;
  state.left = buttons.testFlag(Qt::LeftButton);
  state.right = buttons.testFlag(Qt::RightButton);
  state.middle = (buttons & ~(Qt::LeftButton | Qt::RightButton)) != Qt::NoButton;
  state.shift = modifiers.testFlag(Qt::ShiftModifier);
  state.ctrl = modifiers.testFlag(Qt::ControlModifier);
  state.alt = modifiers.testFlag(Qt::AltModifier);
  return state;
}

}  // namespace

bool BrowserWindow::ListMouseEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint at = mouse->position().toPoint();
      logic_.ListView1MouseDown({at.x(), at.y()});
      const QModelIndex index = ListView1->indexAt(at);
      const bool onSelected = index.isValid() && ListView1->selectionModel()->isSelected(index);
      heldPressRow_ = -1;
      if (mouse->button() == Qt::LeftButton &&
          PressMayDragSelection(StateOf(mouse->buttons(), mouse->modifiers()), onSelected)) {
        // The whole selection may be dragged: the list neither reselects nor sweeps yet.
        heldPressRow_ = index.row();
        ListView1->setFocus(Qt::MouseFocusReason);
        return true;
      }
      return false;
    }
    case QEvent::MouseMove: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint at = mouse->position().toPoint();
      const QModelIndex index = ListView1->indexAt(at);
      const MouseState state = StateOf(mouse->buttons(), mouse->modifiers());
      // After a drag the list would take the move for a selecting sweep.
      const bool dragged =
          logic_.ListView1MouseMove({at.x(), at.y()}, index.isValid() ? index.row() : -1, state);
      if (dragged) heldPressRow_ = -1;
      return dragged || (heldPressRow_ >= 0 && state.left);
    }
    case QEvent::MouseButtonRelease: {
      if (heldPressRow_ < 0) return false;
      // No drag came of the press: it was a click on that row.
      ListView1->setCurrentRow(heldPressRow_, QItemSelectionModel::ClearAndSelect);
      heldPressRow_ = -1;
      return true;
    }
    case QEvent::MouseButtonDblClick:
      // The press before it has already selected the item.
      logic_.ListView1DblClick();
      return false;
    case QEvent::ToolTip: {
      const auto* help = static_cast<QHelpEvent*>(event);
      if (listToolTip_.isEmpty()) {
        QToolTip::hideText();
      } else {
        QToolTip::showText(help->globalPos(), listToolTip_, ListView1->viewport());
      }
      return true;
    }
    default:
      return false;
  }
}

bool BrowserWindow::SearchBoxDragEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (logic_.DropTextTarget1GetDropEffect(drag->mimeData()->hasText())) {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
      } else {
        drag->ignore();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!drop->mimeData()->hasText()) {
        drop->ignore();
        return true;
      }
      logic_.DropTextTarget1Drop(drop->mimeData()->text().toStdString());
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace velt
