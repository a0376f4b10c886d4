// The telemetry browser's logic: the tree of channels, RTUs and point kinds, the list of one
// kind's points, find by address, the selection text, the drag decision and the settings.
// The window (BrowserView) only shows what this decides and forwards the user's events here.
#pragma once

#include "EnumerationBudget.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "BrowserView.h"
#include "TmAddress.h"
#include "TmOperations.h"

namespace velt {

struct TreeNode {
  std::string caption;
  uint16_t number = 0;  // none for kind nodes
  NodeId parent = kNoNode;
  int level = 1;
  std::vector<NodeId> children;
};

struct ListItem {
  std::string caption;
  uint16_t number = 0;
  std::string address;  // the hidden sub-item
};

inline constexpr const char* kStatusCaption = "ТС";
inline constexpr const char* kAnalogCaption = "ТИТ";
inline constexpr const char* kAccumCaption = "ТИИ";

// One line per selected row in list order, joined by CR LF.
std::string BuildSelectionText(const std::vector<ListItem>& items, std::vector<int> selectedRows,
                               bool appendAddress, bool appendName);
// Only the left button with no key, more than 10 pixels away in either direction.
bool DragWanted(const MouseState& mouse, Point start, Point now);
// A plain left press on a row that is already selected may begin a drag of the whole
// selection: the list must not reselect or sweep until the press turns out to be a click.
bool PressMayDragSelection(const MouseState& mouse, bool onSelectedRow);
// The single-line search box shows the first line of a dropped text.
std::string SearchTextFromDrop(const std::string& dropped);

class TfrmTMSBrowse {
 public:
  static constexpr uint8_t kBatch = 255;
  static constexpr uint32_t kNameSize = 260;
  static constexpr int kProgressMax = 99;

  const std::string StatusFormat = kPatternStatusLat;
  const std::string AnalogFormat = kPatternAnalogLat;
  const std::string AccumFormat = kPatternAccumLat;

  TfrmTMSBrowse(TmOperations& tm, BrowserView& view, BrowserSettingsStore& settings,
                PanelFont defaultFont = {});

  // Commands.
  void ReloadClick();
  void HETreeView1Click();
  void FindButtonClick(const std::string& searchText);
  void ChangeFontClick();
  void ListView1DblClick();  // also the copy button and the list's pop-up item
  void SetAppendAddress(bool on) { appendAddress_ = on; }
  void SetAppendName(bool on) { appendName_ = on; }
  // "Поверх других окон": the window stays above the others (on at first start).
  void SetStayOnTop(bool on);
  bool StayOnTop() const { return stayOnTop_; }

  // Mouse over the list: row under the pointer (-1: none). True when a drag ran, which took
  // the mouse: the list must not act on the move itself.
  void ListView1MouseDown(Point position) { DragStartPoint = position; }
  bool ListView1MouseMove(Point position, int row, const MouseState& mouse);
  // Drops onto the search box: accepted only when the data offers plain text.
  bool DropTextTarget1GetDropEffect(bool offersText) const { return offersText; }
  void DropTextTarget1Drop(const std::string& text);

  // Lifecycle: every show; a close by the user; the window's destruction.
  void FormShow();
  void FormClose();
  void FormDestroy();

  std::string BuildSelectionText() const;
  bool TreeEmpty() const { return nodes_.empty(); }
  const std::vector<TreeNode>& Nodes() const { return nodes_; }
  const std::vector<ListItem>& Items() const { return items_; }
  NodeId LastListedNode() const { return lastListedNode_; }
  bool AppendAddress() const { return appendAddress_; }
  bool AppendName() const { return appendName_; }
  const PanelFont& Font() const { return font_; }
  // The last reload or listing stopped short of the server's lists (too many objects, or too
  // long); a reload's tree then ends with a root node kCutCaption.
  bool ListsCut() const { return listsCut_; }
  static constexpr const char* kCutCaption = "… (списки сервера сокращены)";

  Point DragStartPoint;

 private:
  bool listsCut_ = false;
  NodeId AddNode(NodeId parent, const std::string& caption, uint16_t number);
  std::optional<PointKind> KindOf(NodeId node) const;
  // The owner of an enumerated list: a channel (for its RTUs) or an RTU (for its points).
  struct Owner {
    uint16_t ch = 0;
    uint16_t rtu = 0;
  };
  // Every owner's numbers of class cls, each list in batches from 1 on; every round asks all
  // the lists that are still open in one batch.
  std::vector<std::vector<uint16_t>> EnumerateAll(uint16_t cls, std::span<const Owner> owners,
                                                  EnumerationBudget* budget = nullptr);
  std::vector<TmBatchAnswer> Fetch(std::span<const TmBatchRequest> requests);
  void StepProgress();
  void ResetProgress();
  void ReadSettings();
  void WriteSettings(bool destroying);

  TmOperations& tm_;
  BrowserView& view_;
  BrowserSettingsStore& settings_;
  std::vector<TreeNode> nodes_;
  std::vector<NodeId> roots_;
  std::vector<ListItem> items_;
  NodeId lastListedNode_ = kNoNode;
  int progress_ = 0;
  bool appendAddress_ = true;
  bool appendName_ = false;
  bool stayOnTop_ = true;
  PanelFont font_;
  bool shownSinceClose_ = false;
};

}  // namespace velt
