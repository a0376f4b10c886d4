// The update pass: walks the data sheet once, asks the TM server for every value that the
// sheet requests (current values, archive rows, RETRO and XRETRO blocks) and writes each
// answer, or the failure marker "н\д", into its cell.
#pragma once

#include <cstdint>
#include <vector>

#include "Progress.h"
#include "Result.h"
#include "Spreadsheet.h"
#include "TmOperations.h"

namespace velt {

// What one pass did; the headless updater prints it as its summary line.
struct PassStatistics {
  int64_t rowsExamined = 0;    // rows whose column 1 the pass read
  int64_t valuesWritten = 0;   // numbers written
  int64_t noValueWritten = 0;  // failure markers written
  int64_t tmRequests = 0;      // status, analog and accumulator requests
  // Rows outside blocks whose column 1 is neither an address, a command nor empty (headers,
  // notes, mistyped addresses), and addresses outside the ranges; both are skipped.
  std::vector<int32_t> rowsNotUnderstood;
  std::vector<int32_t> rowsOutOfRange;

  bool operator==(const PassStatistics&) const = default;
};

// Runs one pass over rows 1..10000 of sheet. The requests of many rows go to the server at once
// (TmOperations::tmaBatch): the pass reads a stretch of rows, notes the requests they make
// (which depend on the sheet alone), fetches the answers together and then writes them; the
// answers come on a thread of the pass's own while the next stretches are read. The sheet, the
// result, the statistics and the requests the server receives, in their order, are those of
// UpdateSheetOneByOne; the one difference: when a write fails, requests already fetched for the
// rest of that stretch of rows (256 requests at first, doubling up to 4096) and for stretches
// read ahead (at most 8192 requests) were sent though their answers are dropped. A failed read is
// met before anything after it is requested. tm is called from that thread, one call at a time.
// Calculation is manual and screen updating off while it runs; both are switched back at the end.
// Fails when a spreadsheet call failed, with the first such error's text (TM server failures only
// become "н\д" cells). A failure of the screen-updating switch is not caught: that
// SpreadsheetError reaches the caller.
// lcid is handed to the application's property writes. statistics, when given, is overwritten with
// this pass's counts.
Result<> UpdateSheet(Application& application, int32_t lcid, Worksheet& sheet,
                     ProgressIndicator& progress, TmOperations& tm,
                     PassStatistics* statistics = nullptr);

// The same pass, one request at a time, each answer written before the next request: the
// reference that UpdateSheet must equal.
Result<> UpdateSheetOneByOne(Application& application, int32_t lcid, Worksheet& sheet,
                             ProgressIndicator& progress, TmOperations& tm,
                             PassStatistics* statistics = nullptr);

}  // namespace velt
