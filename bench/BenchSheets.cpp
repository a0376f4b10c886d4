#include "BenchSheets.h"

#include <cstdint>
#include <cstdio>

namespace velt {

std::string BenchSliceTime(int hour) {
  int day = 28 + hour / 24;
  int month = 11;
  if (day > 30) {
    day -= 30;
    month = 12;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.2026 %02d:00", day, month, hour % 24);
  return text;
}

std::vector<BenchRow> AddressRows() {
  static const char* const kCurrent[] = {"#TT1:3:1", "#TC1:2:1", "#TI1:3:2", "#TT1:2:1",
                                         "#TC1:2:6", "#TT1:1:2", "#TI2:1:1", "#TC2:1:2",
                                         "#TT1:2:6", "#TC1:2:11"};
  std::vector<BenchRow> rows;
  rows.reserve(10000);
  while (rows.size() < 10000) {
    const size_t i = rows.size();
    if (i % 250 == 249 && i + 2 <= 10000) {
      rows.push_back(
          {"#TT1:2:3", "", "1", BenchSliceTime(80), BenchSliceTime(81), BenchSliceTime(82)});
      rows.push_back({""});
    } else {
      rows.push_back({kCurrent[i % 10]});
    }
  }
  return rows;
}

std::vector<BenchRow> BlockRows() {
  static const char* const kEntries[] = {"#TT1:2:1", "#TT1:2:3", "#TI1:3:1", "#PU1:3:1",
                                         "#TT2:1:1"};
  std::vector<BenchRow> rows;
  BenchRow retro{"RETRO:0"};
  for (int i = 0; i < 100; ++i) retro.push_back(kEntries[i % 5]);
  rows.push_back(retro);
  for (int t = 0; t < 100; ++t) rows.push_back({BenchSliceTime(t)});
  BenchRow xretro{"XRETRO:0"};
  for (int t = 0; t < 100; ++t) xretro.push_back(BenchSliceTime(t));
  rows.push_back(xretro);
  for (int i = 0; i < 100; ++i) rows.push_back({kEntries[i % 5]});
  rows.push_back({"XEND"});
  return rows;
}

}  // namespace velt
