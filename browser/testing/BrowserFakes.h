// A browser view that records what the logic shows, and settings kept in memory, for tests.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BrowserView.h"

namespace velt {

class RecordingView : public BrowserView {
 public:
  void BeginTreeUpdate() override { treeSuspended = true; }
  void EndTreeUpdate() override { treeSuspended = false; }
  void ClearTree() override { treeSize = 0; }
  void AddTreeNode(NodeId, NodeId, const std::string&) override {
    EXPECT_TRUE(treeSuspended);
    ++treeSize;
  }
  NodeId SelectedTreeNode() const override { return selectedNode; }
  void SelectTreeNode(NodeId id) override { selectedNode = id; }
  void MakeTreeNodeVisible(NodeId id) override { shownNode = id; }
  void ExpandTreeNode(NodeId) override {}
  void BeginListUpdate() override { listSuspended = true; }
  void EndListUpdate() override { listSuspended = false; }
  void ClearList() override {
    list.clear();
    selectedRows.clear();
  }
  void AddListItem(const std::string& caption) override {
    EXPECT_TRUE(listSuspended);
    list.push_back(caption);
  }
  std::vector<int> SelectedListItems() const override { return selectedRows; }
  void SelectOnlyListItem(int row) override { selectedRows = {row}; }
  void FocusList() override { listFocused = true; }
  void ArrangeList() override {}
  void SetListToolTip(const std::string& text) override { toolTip = text; }
  void SetBusy(bool on) override { busy = on; }
  void SetProgress(int position) override { progress.push_back(position); }
  void PostReload() override { ++postedReloads; }
  void ShowOptions(bool, bool) override {}
  void SetPanelFont(const PanelFont& f) override { font = f; }
  std::optional<PanelFont> ChooseFont(const PanelFont&) override { return fontChoice; }
  int TreeWidth() const override { return treeWidth; }
  void SetTreeWidth(int width) override { treeWidth = width; }
  WindowPlacement Placement() const override { return placement; }
  void SetPlacement(const WindowPlacement& p) override { placement = p; }
  ScreenInfo Screen() const override { return screen; }
  void SetSearchText(const std::string& text) override { searchText = text; }
  void PutOnClipboard(const std::string& text) override { clipboard.push_back(text); }
  void RunTextDrag(const std::string& text) override { drags.push_back(text); }

  bool treeSuspended = false;
  bool listSuspended = false;
  int treeSize = 0;
  NodeId selectedNode = kNoNode;
  NodeId shownNode = kNoNode;
  std::vector<std::string> list;
  std::vector<int> selectedRows;
  bool listFocused = false;
  std::string toolTip;
  bool busy = false;
  std::vector<int> progress;
  int postedReloads = 0;
  PanelFont font;
  std::optional<PanelFont> fontChoice;
  int treeWidth = 169;
  WindowPlacement placement{287, 174, 890, 617, WindowPlacement::kNormal};
  ScreenInfo screen{1280, 1024, 96};
  std::string searchText;
  std::vector<std::string> clipboard;
  std::vector<std::string> drags;
};

class MemorySettings : public BrowserSettingsStore {
 public:
  std::optional<std::string> Read(const std::string& name) const override {
    const auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional(it->second);
  }
  void Write(const std::string& name, const std::string& value) override {
    values[name] = value;
    ++writes;
  }
  std::map<std::string, std::string> values;
  int writes = 0;
};

}  // namespace velt
