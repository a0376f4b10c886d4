// The browser's logic over the real connection module and a tmsim serving the demo database.
#include <gtest/gtest.h>

#include "BrowserFakes.h"
#include "TMSBrowse.h"
#include "TmsimProcess.h"
#include "tmaccess.h"

namespace velt {
namespace {

TEST(TMSBrowseWithTmsim, ReloadListAndFind) {
  TmsimProcess sim;
  TmAccess tm;
  ASSERT_EQ(tm.tmaConnect(sim.Address(), "$Excel$"), 1);
  RecordingView view;
  MemorySettings settings;
  TfrmTMSBrowse form(tm, view, settings);

  form.ReloadClick();
  ASSERT_FALSE(form.Nodes().empty());
  EXPECT_EQ(form.Nodes()[0].caption, "Северные электрические сети");

  form.FindButtonClick("#TT1:2:3\tТок ввода Т1 110 кВ, А");
  const NodeId listed = form.LastListedNode();
  ASSERT_NE(listed, kNoNode);
  EXPECT_EQ(form.Nodes()[static_cast<size_t>(listed)].caption, "ТИТ");
  EXPECT_EQ(view.list.size(), 6u);  // the analog points of RTU 1:2
  ASSERT_EQ(view.selectedRows.size(), 1u);
  const ListItem& item = form.Items()[static_cast<size_t>(view.selectedRows[0])];
  EXPECT_EQ(item.caption, "Ток ввода Т1 110 кВ, А");
  form.SetAppendName(true);
  EXPECT_EQ(form.BuildSelectionText(), "#TT1:2:3\tТок ввода Т1 110 кВ, А");
  tm.tmaDisconnect();
}

}  // namespace
}  // namespace velt
