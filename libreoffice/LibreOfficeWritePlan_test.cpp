#include "LibreOfficeWritePlan.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace velt::lo {
namespace {

using Cells = std::vector<std::pair<int32_t, int32_t>>;

// Every rectangle cell is a written or a fillable cell, and every written cell is in exactly one
// rectangle.
void ExpectExactCover(const Cells& cells, const std::vector<CellRect>& rects,
                      const Cells& fillable = {}) {
  std::set<std::pair<int32_t, int32_t>> wanted(cells.begin(), cells.end());
  std::set<std::pair<int32_t, int32_t>> filler(fillable.begin(), fillable.end());
  std::set<std::pair<int32_t, int32_t>> covered;
  for (const CellRect& r : rects) {
    ASSERT_LE(r.top, r.bottom);
    ASSERT_LE(r.left, r.right);
    for (int32_t row = r.top; row <= r.bottom; ++row) {
      for (int32_t column = r.left; column <= r.right; ++column) {
        EXPECT_TRUE(covered.insert({row, column}).second) << "twice " << row << "," << column;
        if (!wanted.count({row, column})) {
          EXPECT_TRUE(filler.count({row, column})) << "unwritten cell " << row << "," << column;
          covered.erase({row, column});
        }
      }
    }
  }
  EXPECT_EQ(covered, wanted);
}

Cells Column(int32_t column, int32_t from, int32_t to, int32_t step = 1) {
  Cells cells;
  for (int32_t row = from; row <= to; row += step) cells.emplace_back(row, column);
  return cells;
}

Cells Join(std::initializer_list<Cells> parts) {
  Cells all;
  for (const Cells& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct PlanCase {
  std::string name;
  Cells cells;
  size_t rectangles;
  Cells fillable = {};  // unwritten cells that may be covered
};

void PrintTo(const PlanCase& c, std::ostream* out) {
  *out << c.name;
}

class WritePlanTest : public testing::TestWithParam<PlanCase> {};

TEST_P(WritePlanTest, CoversExactlyTheWrittenCellsWithFewRectangles) {
  const PlanCase& c = GetParam();
  std::set<std::pair<int32_t, int32_t>> fillable(c.fillable.begin(), c.fillable.end());
  auto rects = PlanWriteRanges(c.cells, [&](int32_t row, int32_t column) {
    return fillable.count({row, column}) != 0;
  });
  ExpectExactCover(c.cells, rects, c.fillable);
  EXPECT_EQ(rects.size(), c.rectangles);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, WritePlanTest,
    testing::Values(
        PlanCase{"nothing", {}, 0}, PlanCase{"one_cell", {{7, 3}}, 1},
        PlanCase{"duplicates", {{2, 2}, {2, 2}, {2, 2}}, 1},
        // The update pass: column 4 of every row.
        PlanCase{"column_run", Column(4, 1, 10000), 1},
        // Column 4 everywhere, column 5 on every third row (accumulators): one run down
        // column 4 plus single cells of column 5, not a piece per row.
        PlanCase{"column_with_sparse_neighbour", Join({Column(4, 1, 30), Column(5, 1, 30, 3)}), 11},
        // A gap (an unwritten row, perhaps a formula) splits the run.
        PlanCase{"column_with_gap", Join({Column(4, 1, 9), Column(4, 11, 20)}), 2},
        // A RETRO block: columns 2..4 of consecutive rows is one rectangle.
        PlanCase{"block", Join({Column(2, 5, 9), Column(3, 5, 9), Column(4, 5, 9)}), 1},
        // A command row read along the row and written back.
        PlanCase{"row_run", {{3, 2}, {3, 3}, {3, 4}, {3, 5}}, 1},
        // Rows of different widths: row rectangles where columns would need more.
        PlanCase{"staircase", {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {3, 1}}, 3},
        PlanCase{"unsorted_input", {{9, 1}, {1, 1}, {5, 1}, {2, 1}, {3, 1}, {4, 1}}, 2},
        PlanCase{"checkerboard", {{1, 1}, {1, 3}, {2, 2}, {3, 1}, {3, 3}}, 5},
        // Accumulators again, the rows between them empty in column 5: one run each.
        PlanCase{"sparse_column_over_empty_cells", Join({Column(4, 1, 30), Column(5, 1, 28, 3)}), 2,
                 Join({Column(5, 2, 30, 3), Column(5, 3, 30, 3)})},
        // A cell that may not be covered (content, a note, locked) splits the run.
        PlanCase{"sparse_column_over_a_kept_cell", Column(5, 1, 28, 3), 2,
                 Join({Column(5, 2, 11, 3), Column(5, 3, 30, 3), Column(5, 17, 28, 3)})},
        // A gap of kMaxFillGap empty cells is covered, a longer one is not.
        PlanCase{"gap_too_long",
                 {{1, 5}, {kMaxFillGap + 2, 5}, {2 * kMaxFillGap + 4, 5}},
                 2,
                 Column(5, 1, 2 * kMaxFillGap + 4)},
        // Runs along rows over empty cells, merged over consecutive rows.
        PlanCase{"block_with_holes", {{1, 1}, {1, 3}, {2, 1}, {2, 3}}, 1, {{1, 2}, {2, 2}}}),
    [](const testing::TestParamInfo<PlanCase>& test) { return test.param.name; });

TEST(WritePlan, LargeColumnsAtSheetEdge) {
  Cells cells = Join({Column(16384, 1048000, 1048576), Column(1, 1048570, 1048576)});
  auto rects = PlanWriteRanges(cells);
  ExpectExactCover(cells, rects);
  EXPECT_EQ(rects.size(), 2u);
}

}  // namespace
}  // namespace velt::lo
