#include "LibreOfficeWritePlan.h"

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

namespace velt::lo {
namespace {

// Cells as (major, minor) pairs: runs along the minor axis, merged over consecutive majors.
// The result is in the same (major, minor) coordinates: top/bottom are majors. `fillable` takes
// (major, minor).
std::vector<CellRect> Plan(std::vector<std::pair<int32_t, int32_t>> cells,
                           const std::function<bool(int32_t, int32_t)>& fillable) {
  // Whether the cells strictly between minors `last` and `next` of `major` may be covered.
  const auto bridgeable = [&](int32_t major, int32_t last, int32_t next) {
    if (!fillable || next - last - 1 > kMaxFillGap) return false;
    for (int32_t minor = last + 1; minor < next; ++minor) {
      if (!fillable(major, minor)) return false;
    }
    return true;
  };
  std::sort(cells.begin(), cells.end());
  cells.erase(std::unique(cells.begin(), cells.end()), cells.end());

  std::vector<CellRect> done;
  std::map<std::pair<int32_t, int32_t>, CellRect> open;  // (first, last) minor → rectangle
  size_t i = 0;
  while (i < cells.size()) {
    int32_t major = cells[i].first;
    std::map<std::pair<int32_t, int32_t>, CellRect> next;
    while (i < cells.size() && cells[i].first == major) {
      int32_t first = cells[i].second;
      int32_t last = first;
      ++i;
      while (i < cells.size() && cells[i].first == major &&
             (cells[i].second == last + 1 || bridgeable(major, last, cells[i].second))) {
        last = cells[i].second;
        ++i;
      }
      auto key = std::make_pair(first, last);
      auto it = open.find(key);
      CellRect rect{major, first, major, last};
      if (it != open.end() && it->second.bottom == major - 1) {
        rect = it->second;
        rect.bottom = major;
        open.erase(it);
      }
      next.emplace(key, rect);
    }
    for (auto& [key, rect] : open) done.push_back(rect);
    open = std::move(next);
  }
  for (auto& [key, rect] : open) done.push_back(rect);
  return done;
}

}  // namespace

std::vector<CellRect> PlanWriteRanges(std::vector<std::pair<int32_t, int32_t>> cells,
                                      const Fillable& fillable) {
  std::vector<std::pair<int32_t, int32_t>> transposed;
  transposed.reserve(cells.size());
  for (auto [row, column] : cells) transposed.emplace_back(column, row);

  std::function<bool(int32_t, int32_t)> alongRows, downColumns;
  if (fillable) {
    alongRows = fillable;
    downColumns = [&fillable](int32_t column, int32_t row) { return fillable(row, column); };
  }
  std::vector<CellRect> byRows = Plan(std::move(cells), alongRows);
  std::vector<CellRect> byColumns = Plan(std::move(transposed), downColumns);
  if (byColumns.size() < byRows.size()) {
    for (auto& r : byColumns) r = CellRect{r.left, r.top, r.right, r.bottom};
    byRows = std::move(byColumns);
  }
  std::sort(byRows.begin(), byRows.end(), [](const CellRect& a, const CellRect& b) {
    return std::tie(a.top, a.left) < std::tie(b.top, b.left);
  });
  return byRows;
}

}  // namespace velt::lo
