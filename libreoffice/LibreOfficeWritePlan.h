// Grouping of buffered cell writes into rectangles, each stored with one bulk call. A cell the
// caller did not write is covered only where the caller says it may be (an empty cell that an
// empty write leaves as it is): any other may hold a formula or a note.
#pragma once

#include <cstdint>
#include <functional>
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

// Whether an unwritten cell (row, column) may be covered.
using Fillable = std::function<bool(int32_t row, int32_t column)>;

// Unwritten cells between two written cells of a run beyond which the run is split anyway.
constexpr int32_t kMaxFillGap = 64;

// Rectangles that together cover `cells` (row, column), each cell once, and besides them only
// cells that `fillable` accepts: runs along rows merged over consecutive rows, or runs down
// columns merged over consecutive columns, whichever gives fewer rectangles. A run goes on over
// a gap of at most kMaxFillGap fillable cells. Duplicates in `cells` are ignored; the order of
// `cells` does not matter.
std::vector<CellRect> PlanWriteRanges(std::vector<std::pair<int32_t, int32_t>> cells,
                                      const Fillable& fillable = {});

}  // namespace velt::lo
