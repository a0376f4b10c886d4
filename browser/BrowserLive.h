// What the browser shows beside the names: the current values of the listed points, a trend of
// the selected point's archive, and a filter of the list by name. Plain logic; the window
// implements LiveView and forwards its timer, scrolling, typing and selection here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BrowserView.h"
#include "TMSBrowse.h"
#include "TmOperations.h"

namespace velt {

inline constexpr const char* kNoArchiveText = "У телесигнала нет архива";
inline constexpr const char* kNoTrendPointText = "Выберите ТИТ или ТИИ для графика";

// Settings beside the window's own: widths of the address, name and value columns, whether the
// value column and the trend pane show, the trend's span and archive number.
inline constexpr const char* kColumnWidthsKey = "ListView1_ColumnWidths";
inline constexpr const char* kValueColumnKey = "ValueColumn_Visible";
inline constexpr const char* kTrendPaneKey = "TrendPane_Visible";
inline constexpr const char* kTrendSpanKey = "TrendPane_Span";
inline constexpr const char* kTrendArchiveKey = "TrendPane_Archive";

// The milliseconds between two refreshes of the values in view.
inline constexpr int kValueRefreshMs = 2000;

// The current-value request of a listed point (the address the list shows), or nullopt.
std::optional<TmBatchRequest> CurrentValueRequest(const ListItem& item);
// An answer as the value column shows it: a status 0/1, an analog value in its shortest
// decimals, an accumulator's meter reading and reduced power; kNoValue without a value.
std::string ValueText(TmBatchRequest::Kind kind, const TmBatchAnswer& answer, int32_t lcid);

// Case-insensitive substring of the name (Latin and Cyrillic letters); an empty filter matches.
bool NameMatches(const std::string& name, const std::string& filter);
// Latin and Cyrillic capitals of UTF-8 text as small letters; other bytes unchanged.
std::string FoldCase(const std::string& text);

enum class TrendSpan { Hours8 = 8, Hours24 = 24, Days7 = 168 };
std::optional<TrendSpan> TrendSpanFromHours(int hours);

// The hourly slices of a span ending at the last whole hour not after `now` (civil seconds),
// oldest first: as many slices as the span has hours.
std::vector<int64_t> SpanSlices(TrendSpan span, int64_t now);

// The archive values of one point at its slices; nullopt where the server has none.
struct TrendSeries {
  std::vector<int64_t> times;
  std::vector<std::optional<double>> values;
};
// Runs of slices with values, for a line with gaps: each run a list of (time, value).
std::vector<std::vector<std::pair<int64_t, double>>> TrendRuns(const TrendSeries& series);
// The requests of a point's trend, the same the sheet's archive rows make for those times: an
// analog point's at the archive number, an accumulator's (reduced power plotted). Empty for a
// status point.
std::vector<TmBatchRequest> TrendRequests(const PointAddress& address, uint16_t archive,
                                          const std::vector<int64_t>& slices, int32_t lcid);
TrendSeries TrendFromAnswers(PointKind kind, const std::vector<int64_t>& slices,
                             const std::vector<TmBatchAnswer>& answers);

struct ListColumns {
  int addressWidth = 90;
  int nameWidth = 260;
  int valueWidth = 120;
  bool valueVisible = true;
  bool operator==(const ListColumns&) const = default;
};

class LiveView {
 public:
  virtual ~LiveView() = default;
  virtual bool WindowVisible() const = 0;
  virtual bool LinkUp() const = 0;
  // Rows of the list (indexes of the listed items) wholly or partly on screen, not filtered out.
  virtual std::vector<int> RowsInView() const = 0;
  virtual void SetRowValue(int row, const std::string& text) = 0;
  virtual void SetRowShown(int row, bool shown) = 0;
  // The status bar's sign that the server is being asked.
  virtual void SetRequestBusy(bool busy) = 0;
  virtual void ShowTrend(const TrendSeries& series, const std::string& title) = 0;
  virtual void ShowTrendMessage(const std::string& text) = 0;
  virtual void ShowTrendOptions(bool paneVisible, TrendSpan span, int archive) = 0;
  virtual ListColumns Columns() const = 0;
  virtual void SetColumns(const ListColumns& columns) = 0;
};

class BrowserLive {
 public:
  // items: the list the browser shows (TfrmTMSBrowse::Items()); now: civil seconds of the wall
  // clock; lcid: the locale of the value and slice texts, the sheet's.
  BrowserLive(TmOperations& tm, LiveView& view, BrowserSettingsStore& settings,
              const std::vector<ListItem>& items, std::function<int64_t()> now, int32_t lcid);

  // The list was filled: values of the rows in view, the filter again, no trend point.
  void ListFilled();
  // The 2 s timer, and scrolling or resizing of the list.
  void RefreshValues();
  void FilterChanged(const std::string& text);
  // The current row of the list (-1: none).
  void CurrentRowChanged(int row);
  void SetTrendSpan(TrendSpan span);
  void SetTrendArchive(int archive);
  void SetTrendPaneVisible(bool visible);

  void ReadSettings();
  void WriteSettings();

  bool TrendPaneVisible() const { return trendVisible_; }
  TrendSpan Span() const { return span_; }
  int Archive() const { return archive_; }
  const std::string& Filter() const { return filter_; }

 private:
  std::vector<TmBatchAnswer> Fetch(const std::vector<TmBatchRequest>& requests);
  void ShowTrend();

  TmOperations& tm_;
  LiveView& view_;
  BrowserSettingsStore& settings_;
  const std::vector<ListItem>& items_;
  std::function<int64_t()> now_;
  int32_t lcid_;
  std::string filter_;
  int currentRow_ = -1;
  bool trendVisible_ = true;
  TrendSpan span_ = TrendSpan::Hours24;
  int archive_ = 0;
};

}  // namespace velt
