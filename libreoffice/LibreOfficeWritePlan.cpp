#include "LibreOfficeWritePlan.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace velt::lo {
namespace {

// Cells as (major, minor) pairs: runs along the minor axis, merged over consecutive majors.
// The result is in the same (major, minor) coordinates: top/bottom are majors.
std::vector<CellRect> Plan(std::vector<std::pair<int32_t, int32_t>> cells) {
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
      while (i < cells.size() && cells[i].first == major && cells[i].second == last + 1) {
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

std::vector<CellRect> PlanWriteRanges(std::vector<std::pair<int32_t, int32_t>> cells) {
  std::vector<std::pair<int32_t, int32_t>> transposed;
  transposed.reserve(cells.size());
  for (auto [row, column] : cells) transposed.emplace_back(column, row);

  std::vector<CellRect> byRows = Plan(std::move(cells));
  std::vector<CellRect> byColumns = Plan(std::move(transposed));
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
