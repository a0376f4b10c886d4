// What the telemetry browser's logic needs from its window and from the user's settings store.
// The Qt window implements BrowserView; tests give fakes. Texts are UTF-8.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velt {

// Tree nodes are numbered in the order the reload creates them; a reload starts again at 0.
using NodeId = int;
inline constexpr NodeId kNoNode = -1;

struct Point {
  int x = 0;
  int y = 0;
};

// The buttons and keys held during a mouse move.
struct MouseState {
  bool left = false;
  bool right = false;
  bool middle = false;
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
};

// The font of the tree and the list, by the properties the settings keep. An empty name is
// the desktop's default family.
struct PanelFont {
  int charset = 204;  // Cyrillic
  std::string color = "clWindowText";
  std::string name;
  std::string pitch = "fpDefault";
  int size = 8;  // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  bool operator==(const PanelFont&) const = default;
};

// The window's normal-state rectangle (right and bottom exclusive) and its state.
struct BrowserPlacement {
  static constexpr int kNormal = 1;
  static constexpr int kMinimized = 2;
  static constexpr int kMaximized = 3;
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int showCmd = kNormal;
  bool operator==(const BrowserPlacement&) const = default;
};

struct ScreenInfo {
  int width = 0;
  int height = 0;
  int pixelsPerInch = 96;
};

class BrowserView {
 public:
  virtual ~BrowserView() = default;

  // Tree. Begin/End suspend and resume repainting around a fill.
  virtual void BeginTreeUpdate() = 0;
  virtual void EndTreeUpdate() = 0;
  virtual void ClearTree() = 0;
  // New nodes are collapsed; parent kNoNode makes a first-level node.
  virtual void AddTreeNode(NodeId id, NodeId parent, const std::string& caption) = 0;
  virtual NodeId SelectedTreeNode() const = 0;
  virtual void SelectTreeNode(NodeId id) = 0;
  // Expands the node's ancestors and scrolls the tree to it.
  virtual void MakeTreeNodeVisible(NodeId id) = 0;
  virtual void ExpandTreeNode(NodeId id) = 0;

  // List. EndListUpdate resumes repainting and re-arranges the items.
  virtual void BeginListUpdate() = 0;
  virtual void EndListUpdate() = 0;
  virtual void ClearList() = 0;
  virtual void AddListItem(const std::string& caption) = 0;
  // Rows of the selected items, ascending.
  virtual std::vector<int> SelectedListItems() const = 0;
  // Clears the selection, selects the row and scrolls until it is wholly visible.
  virtual void SelectOnlyListItem(int row) = 0;
  virtual void FocusList() = 0;
  virtual void ArrangeList() = 0;
  virtual void SetListToolTip(const std::string& text) = 0;

  // Window.
  virtual void SetBusy(bool busy) = 0;  // the hourglass cursor
  virtual void SetProgress(int position) = 0;
  // Runs ReloadClick later from the event loop, not inside the caller.
  virtual void PostReload() = 0;
  virtual void ShowOptions(bool address, bool name) = 0;
  // Keeps the window above the others, or lets other windows (the spreadsheet's dialogs)
  // come over it; also shows the view menu's check mark.
  virtual void SetStayOnTop(bool on) { (void)on; }
  virtual void SetPanelFont(const PanelFont& font) = 0;
  // The font dialog, set up with the current font; nullopt when the user cancels.
  virtual std::optional<PanelFont> ChooseFont(const PanelFont& current) = 0;
  virtual int TreeWidth() const = 0;
  virtual void SetTreeWidth(int width) = 0;
  virtual BrowserPlacement Placement() const = 0;
  virtual void SetPlacement(const BrowserPlacement& placement) = 0;
  virtual ScreenInfo Screen() const = 0;
  virtual void SetSearchText(const std::string& text) = 0;

  // Transfer: replace the clipboard's content with the text; run a copy-only drag of the text
  // until the user drops or cancels.
  virtual void PutOnClipboard(const std::string& text) = 0;
  virtual void RunTextDrag(const std::string& text) = 0;
};

// The user's settings for the browser: string values by name, inside the browser's own group.
class BrowserSettingsStore {
 public:
  virtual ~BrowserSettingsStore() = default;
  virtual std::optional<std::string> Read(const std::string& name) const = 0;
  virtual void Write(const std::string& name, const std::string& value) = 0;
};

}  // namespace velt
