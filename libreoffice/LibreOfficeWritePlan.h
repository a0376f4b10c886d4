// Grouping of buffered cell writes into rectangles, each stored with one bulk call. Only cells
// that were written are covered: a cell the caller did not write may hold a formula.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace velt::lo {

// 1-based, inclusive.
struct CellRect {
  int32_t top = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;
  bool operator==(const CellRect&) const = default;
};

// Rectangles that together cover exactly `cells` (row, column), each cell once: runs along rows
// merged over consecutive rows, or runs down columns merged over consecutive columns, whichever
// gives fewer rectangles. Duplicates in `cells` are ignored; the order of `cells` does not matter.
std::vector<CellRect> PlanWriteRanges(std::vector<std::pair<int32_t, int32_t>> cells);

}  // namespace velt::lo
