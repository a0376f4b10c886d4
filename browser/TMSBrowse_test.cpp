#include "TMSBrowse.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "BrowserFakes.h"
#include "BrowserSettings.h"
#include "FakeTm.h"

namespace velt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

struct Browser {
  FakeTm tm;
  RecordingBrowserView view;
  MemorySettings settings;
  TfrmTMSBrowse form{tm, view, settings};

  NodeId Find(const std::string& path) const {  // "1", "1/2", "1/2/ТИТ"
    NodeId found = kNoNode;
    size_t begin = 0;
    while (begin <= path.size()) {
      const size_t end = std::min(path.find('/', begin), path.size());
      const std::string part = path.substr(begin, end - begin);
      const auto& nodes = form.Nodes();
      NodeId next = kNoNode;
      for (size_t id = 0; id < nodes.size(); ++id) {
        const TreeNode& node = nodes[id];
        const bool match =
            node.level == 3 ? node.caption == part : std::to_string(node.number) == part;
        if (node.parent == found && match) {
          next = static_cast<NodeId>(id);
          break;
        }
      }
      if (next == kNoNode) return kNoNode;
      found = next;
      begin = end + 1;
    }
    return found;
  }
  void Click(const std::string& path) {
    view.selectedNode = Find(path);
    form.HETreeView1Click();
  }
  std::vector<std::string> EnumRequests() const {
    std::vector<std::string> lines;
    for (const auto& line : tm.Described()) {
      if (line.rfind("enum", 0) == 0) lines.push_back(line);
    }
    return lines;
  }
};

// Channel 1 "North" with RTU 2 "Zarechnaya": analog points 3, 4, 5 and 7 (7's name fails),
// status point 10.
void SmallServer(FakeTm& tm) {
  tm.AddChannel(1, "Север");
  tm.AddRtu(1, 2, "ПС Заречная");
  tm.AddPoint(kClassAnalog, 1, 2, 3, "Ток Т1");
  tm.AddPoint(kClassAnalog, 1, 2, 4, "Ток Т2");
  tm.AddPoint(kClassAnalog, 1, 2, 5, "Напряжение");
  tm.AddPoint(kClassAnalog, 1, 2, 7, "без имени");
  tm.FailName(kClassAnalog, 1, 2, 7);
  tm.AddPoint(kClassStatus, 1, 2, 10, "Выключатель");
}

TEST(TfrmTMSBrowse, ReloadBuildsTheTreeFromBatches) {
  struct Case {
    const char* name;
    std::function<void(FakeTm&)> server;
    size_t channels;
    size_t nodes;
    std::vector<std::string> enums;
  };
  const auto rtus = [](uint16_t first, int count) {
    return [=](FakeTm& tm) {
      tm.AddChannel(1, "К");
      for (int i = 0; i < count; ++i) tm.AddRtu(1, static_cast<uint16_t>(first + i), "КП");
    };
  };
  const std::vector<Case> cases = {
      {"no channels", [](FakeTm&) {}, 0, 0, {"enum 0x9000 0:0:0 255"}},
      {"exactly 255 RTUs",
       rtus(1, 255),
       1,
       1 + 255 * 4,
       {"enum 0x9000 0:0:0 255", "enum 0x9001 1:1:0 255", "enum 0x9001 1:256:0 255"}},
      {"256 RTUs",
       rtus(1, 256),
       1,
       1 + 256 * 4,
       {"enum 0x9000 0:0:0 255", "enum 0x9001 1:1:0 255", "enum 0x9001 1:256:0 255"}},
      {"a full batch ending at 65535",
       rtus(65281, 255),
       1,
       1 + 255 * 4,
       {"enum 0x9000 0:0:0 255", "enum 0x9001 1:1:0 255"}},
      {"more than 255 channels: one request, 255 shown",
       [](FakeTm& tm) {
         for (uint16_t ch = 1; ch <= 300; ++ch) tm.AddChannel(ch, "К");
       },
       255, 255,
       [] {
         std::vector<std::string> enums = {"enum 0x9000 0:0:0 255"};
         for (int ch = 1; ch <= 255; ++ch)
           enums.push_back("enum 0x9001 " + std::to_string(ch) + ":1:0 255");
         return enums;
       }()},
      {"a channel whose name fails is left out with its RTUs",
       [](FakeTm& tm) {
         tm.AddChannel(1, "К1");
         tm.AddRtu(1, 1, "КП");
         tm.FailName(kClassChannel, 1, 0, 0);
         tm.AddChannel(2, "К2");
       },
       1,
       1,
       {"enum 0x9000 0:0:0 255", "enum 0x9001 2:1:0 255"}},
      {"an RTU whose name fails is left out with its kind nodes",
       [](FakeTm& tm) {
         tm.AddChannel(1, "К1");
         tm.AddRtu(1, 1, "КП1");
         tm.AddRtu(1, 2, "КП2");
         tm.FailName(kClassRtu, 1, 1, 0);
       },
       1,
       5,
       {"enum 0x9000 0:0:0 255", "enum 0x9001 1:1:0 255"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Browser b;
    c.server(b.tm);
    b.tm.SetLogging(true);
    b.form.ReloadClick();
    size_t roots = 0;
    for (const auto& node : b.form.Nodes()) roots += node.level == 1 ? 1 : 0;
    EXPECT_EQ(roots, c.channels);
    EXPECT_EQ(b.form.Nodes().size(), c.nodes);
    EXPECT_EQ(static_cast<size_t>(b.view.treeSize), c.nodes);
    EXPECT_THAT(b.EnumRequests(), ElementsAreArray(c.enums));
    EXPECT_FALSE(b.view.treeSuspended);
    EXPECT_FALSE(b.view.busy);
    EXPECT_EQ(b.view.progress.back(), 0);
  }
}

TEST(TfrmTMSBrowse, KindNodesAndTheProgressBarWrapAfter99) {
  Browser b;
  b.tm.AddChannel(1, "К");
  for (uint16_t r = 1; r <= 120; ++r) b.tm.AddRtu(1, r, "КП");
  b.form.ReloadClick();
  const auto& kinds = b.form.Nodes()[static_cast<size_t>(b.Find("1/1"))].children;
  ASSERT_EQ(kinds.size(), 3u);
  EXPECT_EQ(b.form.Nodes()[static_cast<size_t>(kinds[0])].caption, "ТС");
  EXPECT_EQ(b.form.Nodes()[static_cast<size_t>(kinds[1])].caption, "ТИТ");
  EXPECT_EQ(b.form.Nodes()[static_cast<size_t>(kinds[2])].caption, "ТИИ");
  // 121 nodes stepped: 1..99, 0, 1..21, then the reset.
  ASSERT_EQ(b.view.progress.size(), 122u);
  EXPECT_EQ(b.view.progress[98], 99);
  EXPECT_EQ(b.view.progress[99], 0);
  EXPECT_EQ(b.view.progress[120], 21);
}

TEST(TfrmTMSBrowse, ListingRunsOnlyWhenTheClickChangesTheListedNode) {
  struct Case {
    const char* name;
    std::vector<std::string> clicks;
    int pointEnums;  // requests for point numbers over all clicks
    std::vector<std::string> list;
  };
  const std::vector<Case> cases = {
      {"a kind node lists its named points", {"1/2/ТИТ"}, 1, {"Ток Т1", "Ток Т2", "Напряжение"}},
      {"the listed node again does nothing",
       {"1/2/ТИТ", "1/2/ТИТ"},
       1,
       {"Ток Т1", "Ток Т2", "Напряжение"}},
      {"a channel node empties the list", {"1/2/ТИТ", "1"}, 1, {}},
      {"an RTU node empties the list", {"1/2/ТИТ", "1/2"}, 1, {}},
      {"after a channel node the same kind node lists again",
       {"1/2/ТИТ", "1", "1/2/ТИТ"},
       2,
       {"Ток Т1", "Ток Т2", "Напряжение"}},
      {"another kind node", {"1/2/ТИТ", "1/2/ТС"}, 2, {"Выключатель"}},
      {"an empty kind", {"1/2/ТИИ"}, 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Browser b;
    SmallServer(b.tm);
    b.form.ReloadClick();
    b.tm.ClearRequests();
    for (const auto& path : c.clicks) b.Click(path);
    int pointEnums = 0;
    for (const auto& line : b.EnumRequests()) pointEnums += line.rfind("enum 0x9", 0) != 0;
    EXPECT_EQ(pointEnums, c.pointEnums);
    EXPECT_THAT(b.view.list, ElementsAreArray(c.list));
    EXPECT_FALSE(b.view.listSuspended);
    EXPECT_FALSE(b.view.busy);
  }
}

TEST(TfrmTMSBrowse, ListingBatchesPointsAndKeepsAddresses) {
  Browser b;
  b.tm.AddChannel(3, "К");
  b.tm.AddRtu(3, 4, "КП");
  for (uint16_t p = 1; p <= 256; ++p) b.tm.AddPoint(kClassAccum, 3, 4, p, "Счётчик");
  b.form.ReloadClick();
  b.Click("3/4/ТИИ");
  EXPECT_THAT(b.EnumRequests(), testing::Contains("enum 0x8002 3:4:1 255"));
  EXPECT_THAT(b.EnumRequests(), testing::Contains("enum 0x8002 3:4:256 255"));
  ASSERT_EQ(b.form.Items().size(), 256u);
  EXPECT_EQ(b.form.Items()[255].address, "#TI3:4:256");
  EXPECT_EQ(b.form.LastListedNode(), b.Find("3/4/ТИИ"));

  // A reload forgets the listed node and empties the list; the first click lists again.
  b.form.ReloadClick();
  EXPECT_EQ(b.form.LastListedNode(), kNoNode);
  EXPECT_THAT(b.view.list, IsEmpty());
  b.Click("3/4/ТИИ");
  EXPECT_EQ(b.view.list.size(), 256u);
}

// Answers whole batches, as the connection module does over a library with the batch call,
// and counts the batches and any single request made outside them.
class BatchingFakeTm : public FakeTm {
 public:
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override {
    ++batches;
    inBatch_ = true;
    AnswerOneByOne(*this, requests, answers);
    inBatch_ = false;
  }
  uint32_t tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch, uint16_t rtu,
                          uint16_t point) override {
    single += inBatch_ ? 0 : 1;
    return FakeTm::tmaEnumObjects(cls, max, buffer, ch, rtu, point);
  }
  int16_t tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                           std::string& name, uint32_t size) override {
    single += inBatch_ ? 0 : 1;
    return FakeTm::tmaGetObjectName(cls, ch, rtu, point, name, size);
  }

  int batches = 0;
  int single = 0;

 private:
  bool inBatch_ = false;
};

TEST(TfrmTMSBrowse, BatchedFetchBuildsTheSameTreeAndListInFewRounds) {
  // Channel 1: 256 RTUs, RTU 7 unnamed, RTU 1 with 256 analog points, point 9 unnamed;
  // channel 2 unnamed; channel 3: a full list ending at 65535; channel 4: no RTUs.
  const auto server = [](FakeTm& tm) {
    tm.AddChannel(1, "К1");
    for (uint16_t r = 1; r <= 256; ++r) tm.AddRtu(1, r, "КП" + std::to_string(r));
    tm.FailName(kClassRtu, 1, 7, 0);
    for (uint16_t p = 1; p <= 256; ++p) tm.AddPoint(kClassAnalog, 1, 1, p, std::to_string(p));
    tm.FailName(kClassAnalog, 1, 1, 9);
    tm.AddChannel(2, "К2");
    tm.AddRtu(2, 1, "КП");
    tm.FailName(kClassChannel, 2, 0, 0);
    tm.AddChannel(3, "К3");
    for (uint16_t r = 65281; r != 0; ++r) tm.AddRtu(3, r, "КП");
    tm.AddChannel(4, "К4");
  };
  struct Outcome {
    std::vector<std::string> tree, list, addresses, requests;
    std::vector<int> progress;
  };
  const auto run = [&](FakeTm& tm) {
    server(tm);
    RecordingBrowserView view;
    MemorySettings settings;
    TfrmTMSBrowse form(tm, view, settings);
    form.ReloadClick();
    view.selectedNode = 3;  // channel 1, RTU 1, "ТИТ"
    form.HETreeView1Click();
    Outcome out;
    for (const TreeNode& node : form.Nodes()) {
      out.tree.push_back(std::to_string(node.parent) + " " + node.caption + " " +
                         std::to_string(node.number));
    }
    out.list = view.list;
    for (const ListItem& item : form.Items()) out.addresses.push_back(item.address);
    out.requests = tm.Described();
    std::sort(out.requests.begin(), out.requests.end());
    out.progress = view.progress;
    return out;
  };
  FakeTm oneByOne;
  BatchingFakeTm batching;
  const Outcome expected = run(oneByOne);
  const Outcome got = run(batching);
  EXPECT_EQ(expected.tree.size(), 1 + 255 * 4 + 1 + 255 * 4 + 1);
  EXPECT_EQ(expected.tree[3], "1 ТИТ 0");
  EXPECT_EQ(expected.tree[25], "0 КП8 8");  // after the unnamed RTU 7
  EXPECT_EQ(expected.list.size(), 255u);
  EXPECT_EQ(expected.list[8], "10");  // after the unnamed point 9
  EXPECT_EQ(expected.addresses[8], "#TT1:1:10");
  EXPECT_EQ(got.tree, expected.tree);
  EXPECT_EQ(got.list, expected.list);
  EXPECT_EQ(got.addresses, expected.addresses);
  EXPECT_EQ(got.requests, expected.requests);
  EXPECT_EQ(got.progress, expected.progress);
  // Reload: channel list, channel names, two rounds of RTU lists, RTU names. Listing: two
  // rounds of point lists, point names.
  EXPECT_EQ(batching.batches, 8);
  EXPECT_EQ(batching.single, 0);
}

TEST(TfrmTMSBrowse, FindByAddress) {
  struct Case {
    const char* text;
    const char* kindNode;  // nullptr: nothing happens
    int row;               // -1: no item selected
  };
  const std::vector<Case> cases = {
      {"#TT1:2:3", "1/2/ТИТ", 0},
      {"#TT1:2:5", "1/2/ТИТ", 2},
      {"#TC1:2:10", "1/2/ТС", 0},
      {"#TT1:2:4\tТок Т2", "1/2/ТИТ", 1},
      {"#TT1: 2: 3", "1/2/ТИТ", 0},
      {"#TT1:2:7", "1/2/ТИТ", -1},  // the point's name failed
      {"#TT1:2:99", "1/2/ТИТ", -1},
      {"#ТТ1:2:3", "1/2/ТИТ", 0},  // Cyrillic letters, as the sheet takes them
      {"#ТС1:2:10", "1/2/ТС", 0},
      {"#ТT1:2:3", nullptr, -1},  // mixed
      {"#tt1:2:3", nullptr, -1},
      {" #TT1:2:3", nullptr, -1},
      {"#TT9:2:3", nullptr, -1},
      {"#TT1:9:3", nullptr, -1},
      {"", nullptr, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Browser b;
    SmallServer(b.tm);
    b.form.ReloadClick();
    b.form.FindButtonClick(c.text);
    if (c.kindNode == nullptr) {
      EXPECT_EQ(b.view.selectedNode, kNoNode);
      EXPECT_FALSE(b.view.listFocused);
      EXPECT_THAT(b.view.list, IsEmpty());
      continue;
    }
    EXPECT_EQ(b.view.shownNode, b.Find("1/2"));
    EXPECT_EQ(b.view.selectedNode, b.Find(c.kindNode));
    EXPECT_EQ(b.form.LastListedNode(), b.Find(c.kindNode));
    EXPECT_THAT(b.view.selectedRows, c.row < 0 ? std::vector<int>{} : std::vector<int>{c.row});
    EXPECT_TRUE(b.view.listFocused);
  }
}

TEST(TfrmTMSBrowse, FindInAnEmptyTreeOrARtuWithoutNodesDoesNothing) {
  for (bool withChannel : {false, true}) {
    Browser b;
    if (withChannel) b.tm.AddChannel(1, "К");
    b.form.ReloadClick();
    b.form.FindButtonClick("#TT1:2:3");
    EXPECT_EQ(b.view.selectedNode, kNoNode);
    EXPECT_FALSE(b.view.listFocused);
  }
}

TEST(TfrmTMSBrowse, SelectionText) {
  const std::vector<ListItem> items = {
      {"Ток Т1", 3, "#TT1:2:3"}, {"", 4, "#TT1:2:4"}, {"Напряжение", 5, "#TT1:2:5"}};
  struct Case {
    bool address;
    bool name;
    std::vector<int> rows;
    const char* text;
  };
  const std::vector<Case> cases = {
      {true, false, {0, 1, 2}, "#TT1:2:3\r\n#TT1:2:4\r\n#TT1:2:5"},
      {true, true, {0, 2}, "#TT1:2:3\tТок Т1\r\n#TT1:2:5\tНапряжение"},
      {false, true, {0, 2}, "Ток Т1\r\nНапряжение"},
      {false, false, {0, 1, 2}, ""},
      {true, false, {2, 0}, "#TT1:2:3\r\n#TT1:2:5"},  // selected bottom-up
      {true, false, {}, ""},
      {false, true, {1, 2}, "Напряжение"},                   // an empty first line adds nothing
      {false, true, {0, 1, 2}, "Ток Т1\r\n\r\nНапряжение"},  // later it leaves an empty line
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(BuildSelectionText(items, c.rows, c.address, c.name), c.text);
  }
}

TEST(TfrmTMSBrowse, CopyAndDragHappenOnlyWithText) {
  struct Case {
    const char* name;
    bool address;
    std::vector<int> selected;
    MouseState mouse;
    Point to;
    bool transfers;
  };
  const MouseState left{.left = true};
  const std::vector<Case> cases = {
      {"10 pixels right and down", true, {0}, left, {110, 60}, false},
      {"11 pixels right", true, {0}, left, {111, 50}, true},
      {"11 pixels up", true, {0}, left, {100, 39}, true},
      {"with Ctrl", true, {0}, {.left = true, .ctrl = true}, {130, 50}, false},
      {"with Shift", true, {0}, {.left = true, .shift = true}, {130, 50}, false},
      {"with Alt", true, {0}, {.left = true, .alt = true}, {130, 50}, false},
      {"right button", true, {0}, {.right = true}, {130, 50}, false},
      {"left and right", true, {0}, {.left = true, .right = true}, {130, 50}, false},
      {"no button", true, {0}, {}, {130, 50}, false},
      {"nothing selected", true, {}, left, {130, 50}, false},
      {"both options off", false, {0}, left, {130, 50}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Browser b;
    SmallServer(b.tm);
    b.form.ReloadClick();
    b.Click("1/2/ТИТ");
    b.form.SetAppendAddress(c.address);
    b.view.selectedRows = c.selected;
    b.form.ListView1MouseDown({100, 50});
    EXPECT_EQ(b.form.ListView1MouseMove(c.to, 0, c.mouse), c.transfers);
    EXPECT_EQ(b.view.toolTip, "#TT1:2:3");
    EXPECT_EQ(b.view.drags.size(), c.transfers ? 1u : 0u);
    b.form.ListView1DblClick();
    const bool copies = c.address && !c.selected.empty();
    EXPECT_THAT(b.view.clipboard,
                copies ? std::vector<std::string>{"#TT1:2:3"} : std::vector<std::string>{});
  }
}

TEST(TfrmTMSBrowse, ToolTipAndDropText) {
  Browser b;
  SmallServer(b.tm);
  b.form.ReloadClick();
  b.Click("1/2/ТИТ");
  b.form.ListView1MouseMove({1, 1}, 2, {});
  EXPECT_EQ(b.view.toolTip, "#TT1:2:5");
  b.form.ListView1MouseMove({1, 1}, -1, {});
  EXPECT_EQ(b.view.toolTip, "");

  EXPECT_FALSE(b.form.DropTextTarget1GetDropEffect(false));
  b.form.DropTextTarget1Drop("#TT1:2:4\tТок Т2\r\n#TT1:2:5");
  EXPECT_EQ(b.view.searchText, "#TT1:2:4\tТок Т2");
  EXPECT_THAT(b.view.selectedRows, IsEmpty());  // the drop searches nothing
  b.form.FindButtonClick(b.view.searchText);
  EXPECT_THAT(b.view.selectedRows, ElementsAre(1));
}

TEST(TfrmTMSBrowse, SettingsAreWrittenOnlyAfterAShow) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;  // show, close, destroy
    const char* visible;             // nullptr: nothing written
  };
  const std::vector<Case> cases = {
      {"never shown", {"close", "destroy"}, nullptr},
      {"shown and closed", {"show", "close", "destroy"}, "0"},
      {"shown, destroyed", {"show", "destroy"}, "1"},
      {"closed, shown again, destroyed", {"show", "close", "show", "destroy"}, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Browser b;
    for (const auto& step : c.steps) {
      if (step == "show") b.form.FormShow();
      if (step == "close") b.form.FormClose();
      if (step == "destroy") b.form.FormDestroy();
    }
    if (c.visible == nullptr) {
      EXPECT_EQ(b.settings.writes, 0);
      continue;
    }
    EXPECT_EQ(b.settings.values["Visible"], c.visible);
    EXPECT_EQ(b.settings.values["FormVersion"], "0");
    EXPECT_EQ(b.settings.values["NormPos"], "287,174,890,617");
    EXPECT_EQ(b.settings.values["NormPos(1280x1024)"], "287,174,890,617");
    EXPECT_EQ(b.settings.values["PixelsPerInch"], "96");
    EXPECT_EQ(b.settings.values["AppendAddressItm_Checked"], "True");
    EXPECT_EQ(b.settings.values["AppendNameItm_Checked"], "False");
    EXPECT_EQ(b.settings.values["HETreeView1_Width"], "169");
    EXPECT_EQ(b.settings.values["StayOnTopItm_Checked"], "True");
  }
}

TEST(TfrmTMSBrowse, ShowReadsSettingsAndQueuesAReloadForAnEmptyTree) {
  Browser b;
  b.form.FormShow();
  EXPECT_EQ(b.view.postedReloads, 1);
  EXPECT_TRUE(b.tm.Requests().empty());  // queued, not run inline
  SmallServer(b.tm);
  b.form.ReloadClick();
  b.form.FormShow();
  EXPECT_EQ(b.view.postedReloads, 1);

  // A font chosen and the window closed stays; one chosen and the window only hidden (by a
  // disconnection) gives way to the stored one at the next show.
  PanelFont big;
  big.name = "DejaVu Sans";
  big.size = 14;
  big.bold = true;
  b.view.fontChoice = big;
  b.form.ChangeFontClick();
  b.form.FormClose();
  b.form.FormShow();
  EXPECT_EQ(b.view.font, big);
  PanelFont other = big;
  other.size = 20;
  b.view.fontChoice = other;
  b.form.ChangeFontClick();
  EXPECT_EQ(b.view.font, other);
  b.form.FormShow();
  EXPECT_EQ(b.view.font, big);
  EXPECT_EQ(b.settings.values["Panel1_FontStyle"], "[fsBold]");
  EXPECT_EQ(b.settings.values["Panel1_FontHeight"], "-19");

  // "Поверх других окон" is kept by a close and read back at the next show.
  b.form.SetStayOnTop(false);
  b.form.FormClose();
  EXPECT_EQ(b.settings.values["StayOnTopItm_Checked"], "False");
  Browser fresh;
  fresh.settings.values = b.settings.values;
  EXPECT_TRUE(fresh.form.StayOnTop());
  fresh.form.FormShow();
  EXPECT_FALSE(fresh.form.StayOnTop());
}

TEST(TfrmTMSBrowse, StoredValuesAreReadBackOnlyWhenUsable) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> stored;
    BrowserPlacement placement;
    int treeWidth;
    bool appendName;
  };
  const BrowserPlacement initial{287, 174, 890, 617, 1};
  const std::vector<Case> cases = {
      {"nothing stored", {}, initial, 169, false},
      {"screen-size value wins",
       {{"PixelsPerInch", "96"},
        {"NormPos", "1,2,3,4"},
        {"NormPos(1280x1024)", "10,20,610,470"},
        {"ShowCmd", "3"},
        {"HETreeView1_Width", "200"},
        {"AppendNameItm_Checked", "True"}},
       {10, 20, 610, 470, 3},
       200,
       true},
      {"other pixels per inch",
       {{"PixelsPerInch", "120"}, {"NormPos", "10,20,610,470"}},
       initial,
       169,
       false},
      {"no NormPos nor MinMaxPos",
       {{"PixelsPerInch", "96"}, {"ShowCmd", "3"}},
       initial,
       169,
       false},
      {"unreadable values change nothing",
       {{"PixelsPerInch", "96"},
        {"NormPos", "10,20,x,470"},
        {"ShowCmd", "2"},
        {"HETreeView1_Width", "-5"},
        {"AppendNameItm_Checked", "yes"}},
       initial,
       169,
       false},
      {"an inverted rectangle is ignored",
       {{"PixelsPerInch", "96"}, {"NormPos", "600,20,10,470"}},
       initial,
       169,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Browser b;
    b.settings.values = c.stored;
    b.form.FormShow();
    EXPECT_EQ(b.view.placement, c.placement);
    EXPECT_EQ(b.view.treeWidth, c.treeWidth);
    EXPECT_EQ(b.form.AppendName(), c.appendName);
    EXPECT_TRUE(b.form.AppendAddress());
  }
}

TEST(TfrmTMSBrowse, FontPropertiesRoundTrip) {
  struct Case {
    std::map<std::string, std::string> stored;
    PanelFont expected;
  };
  PanelFont fixed;
  fixed.name = "Liberation Mono";
  fixed.size = 11;
  fixed.pitch = "fpFixed";
  fixed.italic = true;
  fixed.strikeOut = true;
  fixed.charset = 0;
  fixed.color = "clNavy";
  PanelFont byHeight;
  byHeight.size = 12;
  const std::vector<Case> cases = {
      {{{"Panel1_FontName", "Liberation Mono"},
        {"Panel1_FontSize", "11"},
        {"Panel1_FontPitch", "fpFixed"},
        {"Panel1_FontStyle", "[fsItalic, fsStrikeOut]"},
        {"Panel1_FontCharset", "0"},
        {"Panel1_FontColor", "clNavy"}},
       fixed},
      {{{"Panel1_FontHeight", "-16"}}, byHeight},
      {{{"Panel1_FontSize", "0"},
        {"Panel1_FontPitch", "fpOdd"},
        {"Panel1_FontStyle", "fsBold"},
        {"Panel1_FontCharset", "300"}},
       PanelFont{}},
  };
  for (const auto& c : cases) {
    MemorySettings store;
    store.values = c.stored;
    const PanelFont font = ReadFont(store, PanelFont{}, 96);
    EXPECT_EQ(font, c.expected);
    MemorySettings written;
    WriteFont(written, font, 96);
    EXPECT_EQ(ReadFont(written, PanelFont{}, 96), font);
  }
}

}  // namespace
}  // namespace velt
