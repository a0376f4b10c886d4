// Sheets that the benchmarks fill: 10 000 address rows of mixed kinds, and a RETRO and an
// XRETRO block of 100 x 100, on points and slice times of the demo database.
#pragma once

#include <string>
#include <vector>

#include "SheetTexts.h"

namespace velt {

using BenchRow = std::vector<std::string>;  // one row of TextRows

// Hourly slice times inside the demo database's archives, from 28.11.2026 00:00.
std::string BenchSliceTime(int hour);

// 10 000 filled rows: current analog, status and accumulator rows, and every 250th row an
// archive row with three slice times (its result row follows).
std::vector<BenchRow> AddressRows();

// A RETRO block of 100 addresses x 100 slice times, then an XRETRO block of 100 x 100.
std::vector<BenchRow> BlockRows();

}  // namespace velt
