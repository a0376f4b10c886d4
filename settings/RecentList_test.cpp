#include "RecentList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velt {
namespace {

using Paths = std::vector<std::string>;

TEST(RecentList, OpeningTheSameWorkbookTwiceLeavesOneEntryAtTheTop) {
  RecentList list;
  list.Add("/w/a.xls");
  list.Add("/w/b.xls");
  list.Add("/w/a.xls");
  EXPECT_EQ(list.Items(), (Paths{"/w/a.xls", "/w/b.xls"}));
}

TEST(RecentList, TheEleventhWorkbookPushesTheOldestOut) {
  RecentList list;
  for (int i = 1; i <= 11; ++i) list.Add("/w/" + std::to_string(i) + ".xls");
  ASSERT_EQ(list.Size(), RecentList::kCapacity);
  EXPECT_EQ(list.Items().front(), "/w/11.xls");
  EXPECT_EQ(list.Items().back(), "/w/2.xls");
}

TEST(RecentList, PathsDifferingOnlyInCaseAreDifferentWorkbooks) {
  RecentList list;
  list.Add("/w/A.xls");
  list.Add("/w/a.xls");
  EXPECT_EQ(list.Size(), 2u);
}

TEST(RecentList, ChoosingAnEntryDoesNotReorder) {
  RecentList list;
  list.Add("/w/a.xls");
  list.Add("/w/b.xls");
  list.Add("/w/c.xls");
  EXPECT_EQ(list.Choose(2), "/w/a.xls");
  EXPECT_EQ(list.Items(), (Paths{"/w/c.xls", "/w/b.xls", "/w/a.xls"}));
  EXPECT_EQ(list.Choose(3), std::nullopt);
}

TEST(RecentList, EmptyPathIsNotAdded) {
  RecentList list;
  list.Add("");
  EXPECT_TRUE(list.Empty());
}

TEST(RecentList, LoadKeepsStoredOrderAndSkipsEmptyValues) {
  struct Case {
    const char* name;
    Paths stored;  // by index, 0 the most recent
    Paths expected;
  };
  const Case cases[] = {
      {"full",
       {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"},
       {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
      {"gaps close up", {"", "a", "", "", "b", "", "", "", "", "c"}, {"a", "b", "c"}},
      {"duplicate keeps its most recent place", {"a", "b", "a"}, {"a", "b"}},
      {"nothing stored", {"", "", ""}, {}},
  };
  for (const auto& c : cases) {
    RecentList list;
    list.Add("stale");
    list.Load(c.stored);
    EXPECT_EQ(list.Items(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace velt
