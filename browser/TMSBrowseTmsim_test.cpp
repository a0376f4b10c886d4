// The browser's logic over the real connection module and a tmsim serving the demo database.
#include <gtest/gtest.h>

#include "TMSBrowse.h"
#include "TmsimProcess.h"
#include "tmaccess.h"

namespace velt {
namespace {

class ListOnlyView : public BrowserView {
 public:
  void BeginTreeUpdate() override {}
  void EndTreeUpdate() override {}
  void ClearTree() override {}
  void AddTreeNode(NodeId, NodeId, const std::string&) override {}
  NodeId SelectedTreeNode() const override { return selected; }
  void SelectTreeNode(NodeId id) override { selected = id; }
  void MakeTreeNodeVisible(NodeId) override {}
  void ExpandTreeNode(NodeId) override {}
  void BeginListUpdate() override {}
  void EndListUpdate() override {}
  void ClearList() override {}
  void AddListItem(const std::string&) override {}
  std::vector<int> SelectedListItems() const override { return rows; }
  void SelectOnlyListItem(int row) override { rows = {row}; }
  void FocusList() override {}
  void ArrangeList() override {}
  void SetListToolTip(const std::string&) override {}
  void SetBusy(bool) override {}
  void SetProgress(int) override {}
  void PostReload() override {}
  void ShowOptions(bool, bool) override {}
  void SetPanelFont(const PanelFont&) override {}
  std::optional<PanelFont> ChooseFont(const PanelFont&) override { return std::nullopt; }
  int TreeWidth() const override { return 0; }
  void SetTreeWidth(int) override {}
  WindowPlacement Placement() const override { return {}; }
  void SetPlacement(const WindowPlacement&) override {}
  ScreenInfo Screen() const override { return {}; }
  void SetSearchText(const std::string&) override {}
  void PutOnClipboard(const std::string&) override {}
  void RunTextDrag(const std::string&) override {}

  NodeId selected = kNoNode;
  std::vector<int> rows;
};

class NoSettings : public BrowserSettingsStore {
 public:
  std::optional<std::string> Read(const std::string&) const override { return std::nullopt; }
  void Write(const std::string&, const std::string&) override {}
};

TEST(TMSBrowseWithTmsim, ReloadListAndFind) {
  TmsimProcess sim;
  TmAccess tm;
  ASSERT_EQ(tm.tmaConnect(sim.Address(), "$Excel$"), 1);
  ListOnlyView view;
  NoSettings settings;
  TfrmTMSBrowse form(tm, view, settings);

  form.ReloadClick();
  ASSERT_FALSE(form.Nodes().empty());
  EXPECT_EQ(form.Nodes()[0].caption, "Северные электрические сети");

  form.FindButtonClick("#TT1:2:3\tТок ввода Т1 110 кВ, А");
  const NodeId listed = form.LastListedNode();
  ASSERT_NE(listed, kNoNode);
  EXPECT_EQ(form.Nodes()[static_cast<size_t>(listed)].caption, "ТИТ");
  ASSERT_EQ(view.rows.size(), 1u);
  const ListItem& item = form.Items()[static_cast<size_t>(view.rows[0])];
  EXPECT_EQ(item.caption, "Ток ввода Т1 110 кВ, А");
  form.SetAppendName(true);
  EXPECT_EQ(form.BuildSelectionText(), "#TT1:2:3\tТок ввода Т1 110 кВ, А");
  tm.tmaDisconnect();
}

}  // namespace
}  // namespace velt
