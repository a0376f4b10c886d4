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
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <ctime>

#include "TrendPane.h"
#include "UserLocale.h"

// Resources of a static library are registered by hand.
static void InitBrowserResources() {
  Q_INIT_RESOURCE(browser);
}

namespace velt {

namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

constexpr int kAddressColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kValueColumn = 2;

// The wall clock as civil seconds: the clock the server's slice times are read on.
int64_t CivilNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int64_t>(now) + local.tm_gmtoff;
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
      logic_(tm, *this, settings, DefaultPanelFont()),
      live_(tm, *this, settings, logic_.Items(), CivilNow, UserLocaleId()) {
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
  WriteLiveSettings();
  logic_.FormDestroy();
}

void BrowserWindow::WriteLiveSettings() {
  if (!liveShown_) return;
  live_.WriteSettings();
  liveShown_ = false;
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
  valuesAction_ = action(nullptr, QStringLiteral("&Значения"),
                         QStringLiteral("Показывать текущие значения телепараметров"));
  valuesAction_->setCheckable(true);
  valuesAction_->setChecked(true);
  trendAction_ = action(nullptr, QStringLiteral("&График"),
                        QStringLiteral("Показывать график архива выбранного телепараметра"));
  trendAction_->setCheckable(true);
  trendAction_->setChecked(true);

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
  view->addSeparator();
  view->addAction(valuesAction_);
  view->addAction(trendAction_);
  connect(valuesAction_, &QAction::toggled, this, [this](bool on) {
    if (ListView1->isColumnHidden(kValueColumn) != on) return;
    if (!on) valueWidth_ = ListView1->columnWidth(kValueColumn);
    ListView1->setColumnHidden(kValueColumn, !on);
    if (on) ListView1->setColumnWidth(kValueColumn, valueWidth_);
    live_.RefreshValues();
  });
  connect(trendAction_, &QAction::toggled, this,
          [this](bool on) { live_.SetTrendPaneVisible(on); });
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

  listSplitter_ = new QSplitter(Qt::Vertical, splitter_);
  listSplitter_->setObjectName(QStringLiteral("ListSplitter"));
  listSplitter_->setHandleWidth(3);
  listSplitter_->setChildrenCollapsible(false);
  BuildListPanel(listSplitter_);
  trend_ = new TrendPane(listSplitter_);
  listSplitter_->setStretchFactor(0, 1);
  listSplitter_->setStretchFactor(1, 1);
  connect(trend_, &TrendPane::SpanChosen, this,
          [this](TrendSpan span) { live_.SetTrendSpan(span); });
  connect(trend_, &TrendPane::ArchiveChosen, this,
          [this](int archive) { live_.SetTrendArchive(archive); });

  // Tab goes from the tree to the points it lists, then to their filter.
  setTabOrder(HETreeView1, ListView1);
  setTabOrder(ListView1, filter_);

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
  // The third panel says that the server is being asked, should it be slow to answer.
  auto* third = new QLabel(this);
  third->setObjectName(QStringLiteral("BusyPanel"));
  third->setMinimumWidth(50);
  busyPanel_ = third;
  statusBar()->addWidget(hintPanel_, 1);
  statusBar()->addWidget(progressBar_);
  statusBar()->addWidget(third);
  statusBar()->setSizeGripEnabled(true);

  refreshTimer_ = new QTimer(this);
  refreshTimer_->setInterval(kValueRefreshMs);
  connect(refreshTimer_, &QTimer::timeout, this, [this] { live_.RefreshValues(); });
  refreshTimer_->start();
  // Rows scrolled into view get their values once the scrolling rests.
  scrollTimer_ = new QTimer(this);
  scrollTimer_->setSingleShot(true);
  scrollTimer_->setInterval(150);
  connect(scrollTimer_, &QTimer::timeout, this, [this] { live_.RefreshValues(); });
  connect(ListView1->verticalScrollBar(), &QScrollBar::valueChanged, scrollTimer_,
          qOverload<>(&QTimer::start));
}

QWidget* BrowserWindow::BuildListPanel(QWidget* parent) {
  auto* panel = new QWidget(parent);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  filter_ = new QLineEdit(panel);
  filter_->setObjectName(QStringLiteral("ListFilter"));
  filter_->setPlaceholderText(QStringLiteral("Фильтр по наименованию"));
  filter_->setStatusTip(
      QStringLiteral("Показывать телепараметры, в наименовании которых есть этот текст"));
  filter_->setClearButtonEnabled(true);
  connect(filter_, &QLineEdit::textChanged, this,
          [this](const QString& text) { live_.FilterChanged(text.toStdString()); });
  layout->addWidget(filter_);

  ListView1 = new QTableWidget(panel);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setColumnCount(3);
  ListView1->setHorizontalHeaderLabels(
      {QStringLiteral("Адрес"), QStringLiteral("Наименование"), QStringLiteral("Значение")});
  ListView1->verticalHeader()->hide();
  ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  ListView1->horizontalHeader()->setHighlightSections(false);
  ListView1->horizontalHeader()->setStretchLastSection(true);
  ListView1->setShowGrid(false);
  ListView1->setWordWrap(false);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setDragDropMode(QAbstractItemView::NoDragDrop);
  ListView1->setStatusTip(QStringLiteral("Телепараметры выбранного вида"));
  ListView1->setContextMenuPolicy(Qt::ActionsContextMenu);
  ListView1->addAction(copyAction_);
  ListView1->viewport()->setMouseTracking(true);
  ListView1->viewport()->installEventFilter(this);
  SetColumns(ListColumns{});
  connect(ListView1, &QTableWidget::currentCellChanged, this,
          [this](int row) { live_.CurrentRowChanged(row); });
  layout->addWidget(ListView1, 1);
  return panel;
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
  // The logic has its items by now; their addresses fill the first column.
  const std::vector<ListItem>& items = logic_.Items();
  const bool addressed = items.size() == static_cast<size_t>(pendingItems_.size());
  ListView1->setRowCount(static_cast<int>(pendingItems_.size()));
  for (int row = 0; row < pendingItems_.size(); ++row) {
    const QString address = addressed ? Text(items[static_cast<size_t>(row)].address) : QString();
    ListView1->setItem(row, kAddressColumn, new QTableWidgetItem(address));
    ListView1->setItem(row, kNameColumn, new QTableWidgetItem(pendingItems_[row]));
    ListView1->setItem(row, kValueColumn, new QTableWidgetItem());
  }
  pendingItems_.clear();
  ListView1->setUpdatesEnabled(true);
  ListView1->doItemsLayout();
  if (addressed) live_.ListFilled();
}

void BrowserWindow::ClearList() {
  ListView1->clearContents();
  ListView1->setRowCount(0);
  pendingItems_.clear();
}

void BrowserWindow::AddListItem(const std::string& caption) {
  pendingItems_.append(Text(caption));
}

std::vector<int> BrowserWindow::SelectedListItems() const {
  std::vector<int> rows;
  for (const QModelIndex& index : ListView1->selectionModel()->selectedRows()) {
    // A row the filter hides is not the user's choice.
    if (!ListView1->isRowHidden(index.row())) rows.push_back(index.row());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void BrowserWindow::SelectOnlyListItem(int row) {
  QTableWidgetItem* item = ListView1->item(row, kNameColumn);
  if (item == nullptr) return;
  ListView1->setCurrentCell(row, kNameColumn,
                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
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
  if (event->spontaneous()) return;
  logic_.FormShow();
  if (!liveShown_) live_.ReadSettings();
  liveShown_ = true;
  // Values shown before the window was hidden are old by now.
  QMetaObject::invokeMethod(
      this, [this] { live_.RefreshValues(); }, Qt::QueuedConnection);
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
  WriteLiveSettings();
  logic_.FormClose();
  event->accept();
}

bool BrowserWindow::WindowVisible() const {
  return isVisible() && !isMinimized();
}

bool BrowserWindow::LinkUp() const {
  return !linkUp_ || linkUp_();
}

std::vector<int> BrowserWindow::RowsInView() const {
  std::vector<int> rows;
  const int count = ListView1->rowCount();
  if (count == 0) return rows;
  int first = ListView1->rowAt(0);
  int last = ListView1->rowAt(ListView1->viewport()->height() - 1);
  if (first < 0) first = 0;
  if (last < 0) last = count - 1;
  for (int row = first; row <= last; ++row) {
    if (!ListView1->isRowHidden(row)) rows.push_back(row);
  }
  return rows;
}

void BrowserWindow::SetRowValue(int row, const std::string& text) {
  if (QTableWidgetItem* item = ListView1->item(row, kValueColumn)) item->setText(Text(text));
}

void BrowserWindow::SetRowShown(int row, bool shown) {
  ListView1->setRowHidden(row, !shown);
}

void BrowserWindow::SetRequestBusy(bool busy) {
  busyPanel_->setText(busy ? QStringLiteral("Опрос…") : QString());
  // The request holds the event loop: paint the sign now, or it never shows.
  if (busy) busyPanel_->repaint();
}

void BrowserWindow::ShowTrend(const TrendSeries& series, const std::string& title) {
  trend_->ShowSeries(series, Text(title));
}

void BrowserWindow::ShowTrendMessage(const std::string& text) {
  trend_->ShowMessage(Text(text));
}

void BrowserWindow::ShowTrendOptions(bool paneVisible, TrendSpan span, int archive) {
  trend_->setVisible(paneVisible);
  trendAction_->setChecked(paneVisible);
  trend_->ShowOptions(span, archive);
}

ListColumns BrowserWindow::Columns() const {
  ListColumns columns;
  columns.addressWidth = ListView1->columnWidth(kAddressColumn);
  columns.nameWidth = ListView1->columnWidth(kNameColumn);
  columns.valueVisible = !ListView1->isColumnHidden(kValueColumn);
  // A hidden column has no width of its own: the one it had is kept for its return.
  columns.valueWidth = columns.valueVisible ? ListView1->columnWidth(kValueColumn) : valueWidth_;
  return columns;
}

void BrowserWindow::SetColumns(const ListColumns& columns) {
  ListView1->setColumnWidth(kAddressColumn, columns.addressWidth);
  ListView1->setColumnWidth(kNameColumn, columns.nameWidth);
  ListView1->setColumnWidth(kValueColumn, columns.valueWidth);
  valueWidth_ = columns.valueWidth;
  ListView1->setColumnHidden(kValueColumn, !columns.valueVisible);
  if (valuesAction_ != nullptr) valuesAction_->setChecked(columns.valueVisible);
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
      ListView1->setCurrentCell(heldPressRow_, 0,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
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
