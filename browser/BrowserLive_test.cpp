#include "BrowserLive.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "BrowserFakes.h"
#include "CivilDays.h"
#include "FakeTm.h"
#include "RecordingTm.h"

namespace velt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr int32_t kRussian = 0x0419;

int64_t Civil(int year, unsigned month, unsigned day, int hour) {
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600;
}

class FakeLiveView : public LiveView {
 public:
  bool WindowVisible() const override { return visible; }
  bool LinkUp() const override { return link; }
  std::vector<int> RowsInView() const override { return inView; }
  void SetRowValue(int row, const std::string& text) override { values[row] = text; }
  void SetRowShown(int row, bool on) override { shown[row] = on; }
  void SetRequestBusy(bool on) override { busyChanges += on ? 1 : 0; }
  void ShowTrend(const TrendSeries& s, const std::string& t) override {
    series = s;
    title = t;
    message.clear();
  }
  void ShowTrendMessage(const std::string& text) override { message = text; }
  void ShowTrendOptions(bool, TrendSpan, int) override {}
  ListColumns Columns() const override { return columns; }
  void SetColumns(const ListColumns& c) override { columns = c; }

  bool visible = true;
  bool link = true;
  std::vector<int> inView;
  std::map<int, std::string> values;
  std::map<int, bool> shown;
  int busyChanges = 0;
  TrendSeries series;
  std::string title;
  std::string message;
  ListColumns columns;
};

// Counts the batches that reach the server.
class BatchCounter : public RecordingTm {
 public:
  using RecordingTm::RecordingTm;
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override {
    ++batches;
    RecordingTm::tmaBatch(requests, answers);
  }
  int batches = 0;
};

struct Live {
  FakeTm fake;
  BatchCounter tm{fake};
  FakeLiveView view;
  MemorySettings settings;
  std::vector<ListItem> items;
  BrowserLive live{tm,      view, settings, items, [] { return Civil(2026, 12, 1, 10) + 1234; },
                   kRussian};
};

std::vector<ListItem> Points(const char* format, int count) {
  std::vector<ListItem> items;
  for (int i = 1; i <= count; ++i) {
    const auto n = static_cast<uint16_t>(i);
    items.push_back({"Точка " + std::to_string(i), n, ApplyAddressFormat(format, 1, 2, n)});
  }
  return items;
}

TEST(BrowserLiveTest, OnlyTheRowsInViewOfAVisibleWindowAreAskedInOneBatch) {
  struct Case {
    bool visible;
    bool link;
    bool valueColumn;
    std::vector<int> inView;
    std::vector<std::string> requests;
  };
  const Case cases[] = {
      {true,
       true,
       true,
       {2, 3, 4},
       {"analog 1:2:3 N/A 0", "analog 1:2:4 N/A 0", "analog 1:2:5 N/A 0"}},
      {true, true, true, {0, 99}, {"analog 1:2:1 N/A 0"}},  // a row past the list is no point
      {false, true, true, {2, 3}, {}},                      // hidden window
      {true, false, true, {2, 3}, {}},                      // link down
      {true, true, false, {2, 3}, {}},                      // value column off
  };
  for (const Case& c : cases) {
    Live t;
    t.items = Points(kPatternAnalogLat, 10);
    t.view.visible = c.visible;
    t.view.link = c.link;
    t.view.columns.valueVisible = c.valueColumn;
    t.view.inView = c.inView;
    t.live.RefreshValues();
    EXPECT_EQ(t.tm.log, c.requests);
    EXPECT_EQ(t.tm.batches, c.requests.empty() ? 0 : 1);
  }
}

TEST(BrowserLiveTest, ValuesLandOnTheirRowsAfterTheListChanged) {
  Live t;
  t.fake.SetAnalog(1, 2, 1, 10.5f);
  t.fake.SetStatus(1, 2, 2, 1);
  t.fake.SetAccum(1, 2, 3, 1523400.0f, 850.25f);
  t.fake.SetAnalog(1, 2, 7, 115.05006f);
  t.items = Points(kPatternAnalogLat, 2);
  t.view.inView = {0, 1};
  t.live.ListFilled();
  EXPECT_THAT(t.view.values, ElementsAre(Pair(0, "10,5"), Pair(1, "н\\д")));

  // Another node listed: other points, other kinds, fewer rows.
  t.view.values.clear();
  t.items = {
      {"a", 2, "#TC1:2:2"}, {"b", 3, "#TI1:2:3"}, {"c", 4, "#TI1:2:4"}, {"d", 7, "#TT1:2:7"}};
  t.view.inView = {0, 1, 2, 3};
  t.live.ListFilled();
  EXPECT_THAT(t.view.values, ElementsAre(Pair(0, "1"), Pair(1, "1523400 / 850,25"), Pair(2, "н\\д"),
                                         Pair(3, "115,05006")));
}

TEST(BrowserLiveTest, SlicesOfEachSpanEndAtTheLastWholeHour) {
  const int64_t now = Civil(2026, 12, 1, 10) + 59 * 60 + 59;
  struct Case {
    TrendSpan span;
    size_t count;
    int64_t first;
  };
  for (const Case& c : {Case{TrendSpan::Hours8, 8, Civil(2026, 12, 1, 3)},
                        Case{TrendSpan::Hours24, 24, Civil(2026, 11, 30, 11)},
                        Case{TrendSpan::Days7, 168, Civil(2026, 11, 24, 11)}}) {
    const auto slices = SpanSlices(c.span, now);
    ASSERT_EQ(slices.size(), c.count);
    EXPECT_EQ(slices.front(), c.first);
    EXPECT_EQ(slices.back(), Civil(2026, 12, 1, 10));
    for (size_t i = 1; i < slices.size(); ++i) EXPECT_EQ(slices[i] - slices[i - 1], 3600);
  }
  EXPECT_EQ(SpanSlices(TrendSpan::Hours8, Civil(2026, 12, 1, 10)).back(), Civil(2026, 12, 1, 10));
}

TEST(BrowserLiveTest, TrendAsksTheSheetsArchiveRequestsAndKeepsGaps) {
  Live t;
  t.items = {{"U", 1, "#TT1:1:1"}, {"E", 1, "#TI1:3:1"}, {"Q1", 1, "#TC1:1:1"}};
  t.fake.SetAnalog(1, 1, 1, 220.5f, "01.12.2026 4:00:00", 2);
  t.fake.SetAnalog(1, 1, 1, 221.0f, "01.12.2026 6:00:00", 2);
  t.fake.SetAnalog(1, 1, 1, 222.0f, "01.12.2026 7:00:00", 2);
  t.fake.SetAccum(1, 3, 1, 1000.0f, 850.0f, "01.12.2026 10:00:00");
  t.live.SetTrendSpan(TrendSpan::Hours8);
  t.live.SetTrendArchive(2);

  t.tm.log.clear();
  t.live.CurrentRowChanged(0);
  EXPECT_EQ(t.tm.batches, 1);
  ASSERT_EQ(t.tm.log.size(), 8u);
  EXPECT_EQ(t.tm.log.front(), "analog 1:1:1 01.12.2026 3:00:00 2");
  EXPECT_EQ(t.tm.log.back(), "analog 1:1:1 01.12.2026 10:00:00 2");
  const auto runs = TrendRuns(t.view.series);
  ASSERT_EQ(runs.size(), 2u);  // 4:00, then a gap at 5:00, then 6:00 and 7:00
  EXPECT_THAT(runs[0], ElementsAre(std::pair(Civil(2026, 12, 1, 4), 220.5)));
  EXPECT_THAT(runs[1], ElementsAre(std::pair(Civil(2026, 12, 1, 6), 221.0),
                                   std::pair(Civil(2026, 12, 1, 7), 222.0)));
  EXPECT_EQ(t.view.title, "#TT1:1:1  U");

  t.live.CurrentRowChanged(1);  // an accumulator plots its reduced power
  EXPECT_EQ(t.tm.log.back(), "accum 1:3:1 01.12.2026 10:00:00");
  EXPECT_THAT(TrendRuns(t.view.series),
              ElementsAre(ElementsAre(std::pair(Civil(2026, 12, 1, 10), 850.0))));

  t.tm.log.clear();
  t.live.CurrentRowChanged(2);
  EXPECT_THAT(t.tm.log, IsEmpty());
  EXPECT_EQ(t.view.message, kNoArchiveText);
}

TEST(BrowserLiveTest, FilterIsACaseFreeSubstringOfTheName) {
  struct Case {
    const char* name;
    const char* filter;
    bool match;
  };
  const Case cases[] = {
      {"Ток ввода Т1", "", true},
      {"Ток ввода Т1", "ввод", true},
      {"Ток ввода Т1", "ВВОД", true},
      {"Ток ввода Т1", "тОК ВвОдА т1", true},
      {"Ёмкость", "ёмк", true},
      {"Яр Ъ", "яр ъ", true},
      {"Voltage U 110 kV", "u 110 KV", true},
      {"P Т1 MW", "p т1 mw", true},
      {"Ток ввода Т1", "вывод", false},
      {"Ток", "T", false},  // Latin T is no Cyrillic Т
  };
  for (const Case& c : cases) EXPECT_EQ(NameMatches(c.name, c.filter), c.match) << c.filter;

  Live t;
  t.items = {
      {"Ток ввода", 1, "#TT1:2:1"}, {"Напряжение", 2, "#TT1:2:2"}, {"ток Т1", 3, "#TT1:2:3"}};
  t.live.FilterChanged("ТОК");
  EXPECT_THAT(t.view.shown, ElementsAre(Pair(0, true), Pair(1, false), Pair(2, true)));
}

TEST(BrowserLiveTest, ColumnsAndTrendOptionsRoundTripThroughTheSettings) {
  Live t;
  t.settings.values = {{kColumnWidthsKey, "70,300,150"},
                       {kValueColumnKey, "False"},
                       {kTrendPaneKey, "False"},
                       {kTrendSpanKey, "168"},
                       {kTrendArchiveKey, "3"}};
  t.live.ReadSettings();
  EXPECT_EQ(t.view.columns, (ListColumns{70, 300, 150, false}));
  EXPECT_FALSE(t.live.TrendPaneVisible());
  EXPECT_EQ(t.live.Span(), TrendSpan::Days7);
  EXPECT_EQ(t.live.Archive(), 3);

  Live bad;
  bad.settings.values = {
      {kColumnWidthsKey, "70,x,150"}, {kTrendSpanKey, "5"}, {kTrendArchiveKey, "70000"}};
  bad.live.ReadSettings();
  EXPECT_EQ(bad.view.columns, ListColumns{});
  EXPECT_EQ(bad.live.Span(), TrendSpan::Hours24);
  EXPECT_EQ(bad.live.Archive(), 0);

  t.live.WriteSettings();
  bad.settings.values = t.settings.values;
  bad.live.ReadSettings();
  EXPECT_EQ(bad.view.columns, t.view.columns);
  EXPECT_EQ(bad.live.Span(), TrendSpan::Days7);
}

}  // namespace
}  // namespace velt
