#include "BrowserLive.h"

#include <cmath>
#include <utility>

#include "BrowserSettings.h"
#include "CellValueText.h"
#include "FloatDecimal.h"

namespace velt {

namespace {

constexpr int64_t kHour = 3600;

bool AccumMissing(const TmBatchAnswer& answer) {
  return (answer.result & 0xFFFFu) == 0;
}

std::string Number(float value, int32_t lcid) {
  return NumberValueText(ShortestDouble(value), lcid);
}

std::optional<std::vector<int>> ParseWidths(const std::string& text) {
  std::vector<int> widths;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = std::min(text.find(',', begin), text.size());
    const auto width = ParseInteger(text.substr(begin, end - begin));
    if (!width || *width < 0 || *width > 10000) return std::nullopt;
    widths.push_back(*width);
    begin = end + 1;
  }
  if (widths.size() != 3) return std::nullopt;
  return widths;
}

}  // namespace

std::optional<TmBatchRequest> CurrentValueRequest(const ListItem& item) {
  const auto address = ParseAddress(item.address);
  if (!address) return std::nullopt;
  const auto ch = static_cast<uint16_t>(address->channel);
  const auto rtu = static_cast<uint16_t>(address->rtu);
  const auto point = static_cast<uint16_t>(address->point);
  switch (address->kind) {
    case PointKind::Status:
      return StatusRequest(ch, rtu, point);
    case PointKind::Analog:
      return AnalogRequest(ch, rtu, point, kCurrentTime, 0);
    case PointKind::Accum:
      return AccumRequest(ch, rtu, point, "");
    case PointKind::Meter:
      break;
  }
  return std::nullopt;
}

std::string ValueText(TmBatchRequest::Kind kind, const TmBatchAnswer& answer, int32_t lcid) {
  switch (kind) {
    case TmBatchRequest::Kind::Status:
      return answer.status < 0 ? kNoValue : std::to_string(answer.status);
    case TmBatchRequest::Kind::Analog:
      return AnalogMissing(answer.analog) ? kNoValue : Number(answer.analog, lcid);
    case TmBatchRequest::Kind::AccumFull:
      return AccumMissing(answer)
                 ? kNoValue
                 : Number(answer.values[0], lcid) + " / " + Number(answer.values[1], lcid);
    default:
      return kNoValue;
  }
}

std::string FoldCase(const std::string& text) {
  std::string folded = text;
  for (size_t i = 0; i < folded.size(); ++i) {
    auto& c = reinterpret_cast<unsigned char&>(folded[i]);
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<unsigned char>(c + 32);
    } else if (c == 0xD0 && i + 1 < folded.size()) {
      auto& next = reinterpret_cast<unsigned char&>(folded[i + 1]);
      if (next >= 0x90 && next <= 0x9F) {  // А..П
        next = static_cast<unsigned char>(next + 0x20);
      } else if (next >= 0xA0 && next <= 0xAF) {  // Р..Я
        c = 0xD1;
        next = static_cast<unsigned char>(next - 0x20);
      } else if (next >= 0x80 && next <= 0x8F) {  // Ѐ..Џ, Ё among them
        c = 0xD1;
        next = static_cast<unsigned char>(next + 0x10);
      }
      ++i;
    } else if (c >= 0xC0) {
      // The rest of a multi-byte character is left as it is.
      while (i + 1 < folded.size() && (static_cast<unsigned char>(folded[i + 1]) & 0xC0) == 0x80) {
        ++i;
      }
    }
  }
  return folded;
}

bool NameMatches(const std::string& name, const std::string& filter) {
  return filter.empty() || FoldCase(name).find(FoldCase(filter)) != std::string::npos;
}

std::optional<TrendSpan> TrendSpanFromHours(int hours) {
  for (TrendSpan span : {TrendSpan::Hours8, TrendSpan::Hours24, TrendSpan::Days7}) {
    if (static_cast<int>(span) == hours) return span;
  }
  return std::nullopt;
}

std::vector<int64_t> SpanSlices(TrendSpan span, int64_t now) {
  const int64_t last = now - ((now % kHour) + kHour) % kHour;
  const auto count = static_cast<int64_t>(span);
  std::vector<int64_t> slices;
  slices.reserve(static_cast<size_t>(count));
  for (int64_t i = count - 1; i >= 0; --i) slices.push_back(last - i * kHour);
  return slices;
}

std::vector<std::vector<std::pair<int64_t, double>>> TrendRuns(const TrendSeries& series) {
  std::vector<std::vector<std::pair<int64_t, double>>> runs;
  bool open = false;
  for (size_t i = 0; i < series.times.size() && i < series.values.size(); ++i) {
    if (!series.values[i]) {
      open = false;
      continue;
    }
    if (!open) runs.emplace_back();
    open = true;
    runs.back().emplace_back(series.times[i], *series.values[i]);
  }
  return runs;
}

std::vector<TmBatchRequest> TrendRequests(const PointAddress& address, uint16_t archive,
                                          const std::vector<int64_t>& slices, int32_t lcid) {
  std::vector<TmBatchRequest> requests;
  if (address.kind == PointKind::Status) return requests;
  const auto ch = static_cast<uint16_t>(address.channel);
  const auto rtu = static_cast<uint16_t>(address.rtu);
  const auto point = static_cast<uint16_t>(address.point);
  requests.reserve(slices.size());
  for (const int64_t slice : slices) {
    const std::string time = CivilTimeValueText(slice, lcid);
    requests.push_back(address.kind == PointKind::Analog
                           ? AnalogRequest(ch, rtu, point, time, archive)
                           : AccumRequest(ch, rtu, point, time));
  }
  return requests;
}

TrendSeries TrendFromAnswers(PointKind kind, const std::vector<int64_t>& slices,
                             const std::vector<TmBatchAnswer>& answers) {
  TrendSeries series;
  series.times = slices;
  series.values.resize(slices.size());
  for (size_t i = 0; i < slices.size() && i < answers.size(); ++i) {
    const TmBatchAnswer& a = answers[i];
    if (kind == PointKind::Analog && !AnalogMissing(a.analog)) {
      series.values[i] = ShortestDouble(a.analog);
    } else if (kind == PointKind::Accum && !AccumMissing(a)) {
      series.values[i] = ShortestDouble(a.values[1]);
    }
  }
  return series;
}

BrowserLive::BrowserLive(TmOperations& tm, LiveView& view, BrowserSettingsStore& settings,
                         const std::vector<ListItem>& items, std::function<int64_t()> now,
                         int32_t lcid)
    : tm_(tm), view_(view), settings_(settings), items_(items), now_(std::move(now)), lcid_(lcid) {}

std::vector<TmBatchAnswer> BrowserLive::Fetch(const std::vector<TmBatchRequest>& requests) {
  std::vector<TmBatchAnswer> answers(requests.size());
  if (requests.empty()) return answers;
  view_.SetRequestBusy(true);
  tm_.tmaBatch(requests, answers);
  view_.SetRequestBusy(false);
  return answers;
}

void BrowserLive::ListFilled() {
  for (size_t row = 0; row < items_.size(); ++row) {
    view_.SetRowShown(static_cast<int>(row), NameMatches(items_[row].caption, filter_));
  }
  currentRow_ = -1;
  ShowTrend();
  RefreshValues();
}

void BrowserLive::RefreshValues() {
  if (!view_.WindowVisible() || !view_.LinkUp() || !view_.Columns().valueVisible) return;
  std::vector<int> rows;
  std::vector<TmBatchRequest> requests;
  for (const int row : view_.RowsInView()) {
    if (row < 0 || static_cast<size_t>(row) >= items_.size()) continue;
    if (auto request = CurrentValueRequest(items_[static_cast<size_t>(row)])) {
      rows.push_back(row);
      requests.push_back(std::move(*request));
    }
  }
  const std::vector<TmBatchAnswer> answers = Fetch(requests);
  for (size_t i = 0; i < rows.size(); ++i) {
    view_.SetRowValue(rows[i], ValueText(requests[i].kind, answers[i], lcid_));
  }
}

void BrowserLive::FilterChanged(const std::string& text) {
  if (text == filter_) return;
  filter_ = text;
  for (size_t row = 0; row < items_.size(); ++row) {
    view_.SetRowShown(static_cast<int>(row), NameMatches(items_[row].caption, filter_));
  }
  RefreshValues();
}

void BrowserLive::CurrentRowChanged(int row) {
  if (row == currentRow_) return;
  currentRow_ = row;
  ShowTrend();
}

void BrowserLive::SetTrendSpan(TrendSpan span) {
  if (span == span_) return;
  span_ = span;
  ShowTrend();
}

void BrowserLive::SetTrendArchive(int archive) {
  if (archive < 0 || archive > 65535 || archive == archive_) return;
  archive_ = archive;
  ShowTrend();
}

void BrowserLive::SetTrendPaneVisible(bool visible) {
  if (visible == trendVisible_) return;
  trendVisible_ = visible;
  view_.ShowTrendOptions(trendVisible_, span_, archive_);
  ShowTrend();
}

void BrowserLive::ShowTrend() {
  if (!trendVisible_) return;
  if (currentRow_ < 0 || static_cast<size_t>(currentRow_) >= items_.size()) {
    view_.ShowTrendMessage(kNoTrendPointText);
    return;
  }
  const ListItem& item = items_[static_cast<size_t>(currentRow_)];
  const auto address = ParseAddress(item.address);
  if (!address) {
    view_.ShowTrendMessage(kNoTrendPointText);
    return;
  }
  if (address->kind == PointKind::Status) {
    view_.ShowTrendMessage(kNoArchiveText);
    return;
  }
  if (!view_.LinkUp()) return;
  const std::vector<int64_t> slices = SpanSlices(span_, now_());
  const auto requests = TrendRequests(*address, static_cast<uint16_t>(archive_), slices, lcid_);
  view_.ShowTrend(TrendFromAnswers(address->kind, slices, Fetch(requests)),
                  item.address + "  " + item.caption);
}

void BrowserLive::ReadSettings() {
  ListColumns columns = view_.Columns();
  if (const auto text = settings_.Read(kColumnWidthsKey)) {
    if (const auto widths = ParseWidths(*text)) {
      columns.addressWidth = (*widths)[0];
      columns.nameWidth = (*widths)[1];
      columns.valueWidth = (*widths)[2];
    }
  }
  if (const auto on = ReadBoolean(settings_, kValueColumnKey)) columns.valueVisible = *on;
  view_.SetColumns(columns);
  if (const auto on = ReadBoolean(settings_, kTrendPaneKey)) trendVisible_ = *on;
  if (const auto hours = ReadInteger(settings_, kTrendSpanKey)) {
    if (const auto span = TrendSpanFromHours(*hours)) span_ = *span;
  }
  if (const auto archive = ReadInteger(settings_, kTrendArchiveKey);
      archive && *archive >= 0 && *archive <= 65535) {
    archive_ = *archive;
  }
  view_.ShowTrendOptions(trendVisible_, span_, archive_);
}

void BrowserLive::WriteSettings() {
  const ListColumns columns = view_.Columns();
  settings_.Write(kColumnWidthsKey, std::to_string(columns.addressWidth) + "," +
                                        std::to_string(columns.nameWidth) + "," +
                                        std::to_string(columns.valueWidth));
  settings_.Write(kValueColumnKey, BooleanText(columns.valueVisible));
  settings_.Write(kTrendPaneKey, BooleanText(trendVisible_));
  settings_.Write(kTrendSpanKey, std::to_string(static_cast<int>(span_)));
  settings_.Write(kTrendArchiveKey, std::to_string(archive_));
}

}  // namespace velt
