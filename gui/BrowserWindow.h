// The telemetry browser's window "Список телеметрии". It shows what TfrmTMSBrowse decides and
// forwards the user's clicks, mouse moves and drops to it.
#pragma once

#include <QFont>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "BrowserLive.h"
#include "BrowserView.h"
#include "TMSBrowse.h"

class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QTableWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace velt {

class TrendPane;

class BrowserWindow : public QMainWindow, public BrowserView, public LiveView {
  Q_OBJECT

 public:
  BrowserWindow(TmOperations& tm, BrowserSettingsStore& settings, QWidget* parent = nullptr);
  ~BrowserWindow() override;

  TfrmTMSBrowse& Logic() { return logic_; }
  BrowserLive& Live() { return live_; }
  // Whether the link to the server is up; without it nothing is asked. Up when not set.
  void SetLinkCheck(std::function<bool()> linkUp) { linkUp_ = std::move(linkUp); }
  // The main window's two uses besides showing: after every connection, and on disconnection
  // (hidden without writing the settings; the tree stays).
  void ReloadClick() { logic_.ReloadClick(); }
  void HideForDisconnection() { hide(); }

  // BrowserView.
  void BeginTreeUpdate() override;
  void EndTreeUpdate() override;
  void ClearTree() override;
  void AddTreeNode(NodeId id, NodeId parent, const std::string& caption) override;
  NodeId SelectedTreeNode() const override;
  void SelectTreeNode(NodeId id) override;
  void MakeTreeNodeVisible(NodeId id) override;
  void ExpandTreeNode(NodeId id) override;
  void BeginListUpdate() override;
  void EndListUpdate() override;
  void ClearList() override;
  void AddListItem(const std::string& caption) override;
  std::vector<int> SelectedListItems() const override;
  void SelectOnlyListItem(int row) override;
  void FocusList() override;
  void ArrangeList() override;
  void SetListToolTip(const std::string& text) override;
  void SetBusy(bool busy) override;
  void SetProgress(int position) override;
  void PostReload() override;
  void ShowOptions(bool address, bool name) override;
  void SetStayOnTop(bool on) override;
  void SetPanelFont(const PanelFont& font) override;
  std::optional<PanelFont> ChooseFont(const PanelFont& current) override;
  int TreeWidth() const override;
  void SetTreeWidth(int width) override;
  BrowserPlacement Placement() const override;
  void SetPlacement(const BrowserPlacement& placement) override;
  ScreenInfo Screen() const override;
  void SetSearchText(const std::string& text) override;
  void PutOnClipboard(const std::string& text) override;
  void RunTextDrag(const std::string& text) override;

  // LiveView.
  bool WindowVisible() const override;
  bool LinkUp() const override;
  std::vector<int> RowsInView() const override;
  void SetRowValue(int row, const std::string& text) override;
  void SetRowShown(int row, bool shown) override;
  void SetRequestBusy(bool busy) override;
  void ShowTrend(const TrendSeries& series, const std::string& title) override;
  void ShowTrendMessage(const std::string& text) override;
  void ShowTrendOptions(bool paneVisible, TrendSpan span, int archive) override;
  ListColumns Columns() const override;
  void SetColumns(const ListColumns& columns) override;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildActions();
  void BuildLayout();
  QTreeWidgetItem* Item(NodeId id) const;
  bool ListMouseEvent(QEvent* event);
  bool SearchBoxDragEvent(QEvent* event);
  QWidget* BuildListPanel(QWidget* parent);
  void WriteLiveSettings();

  TfrmTMSBrowse logic_;
  BrowserLive live_;
  std::function<bool()> linkUp_;
  bool liveShown_ = false;
  int valueWidth_ = ListColumns{}.valueWidth;
  QAction* reloadAction_ = nullptr;
  QAction* exitAction_ = nullptr;
  QAction* fontAction_ = nullptr;
  QAction* addressAction_ = nullptr;
  QAction* nameAction_ = nullptr;
  QAction* stayOnTopAction_ = nullptr;
  QAction* copyAction_ = nullptr;
  QAction* findAction_ = nullptr;
  QAction* valuesAction_ = nullptr;
  QAction* trendAction_ = nullptr;
  QLineEdit* Edit1 = nullptr;
  QWidget* Panel1 = nullptr;
  QSplitter* splitter_ = nullptr;
  QTreeWidget* HETreeView1 = nullptr;
  QTableWidget* ListView1 = nullptr;
  QLineEdit* filter_ = nullptr;
  QSplitter* listSplitter_ = nullptr;
  TrendPane* trend_ = nullptr;
  QLabel* busyPanel_ = nullptr;
  QTimer* refreshTimer_ = nullptr;
  QTimer* scrollTimer_ = nullptr;
  QLabel* hintPanel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  std::vector<QTreeWidgetItem*> nodes_;
  std::vector<QTreeWidgetItem*> pendingTopLevel_;
  QStringList pendingItems_;
  QString listToolTip_;
  // A press on a selected row, held back from the list until it is a click or a drag.
  int heldPressRow_ = -1;
};

// Conversions between the stored font properties and Qt's font. An empty name is the
// application's default family.
QFont ToQFont(const PanelFont& font);
PanelFont FromQFont(const QFont& font, PanelFont previous);

}  // namespace velt
