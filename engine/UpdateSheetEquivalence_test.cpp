// The pipelined pass against the one-at-a-time pass: both run over the same generated sheets
// (every form, values missing, spreadsheet failures part way), against the scripted TM layer
// and against tmsim, and must leave the same sheet, flag, statistics, progress and requests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "FakeTm.h"
#include "MemorySpreadsheet.h"
#include "RecordingTm.h"
#include "TmsimProcess.h"
#include "UpdateSheet.h"
#include "tmaccess.h"

namespace velt {
namespace {

using Row = std::vector<std::string>;
constexpr int32_t kLcid = 1049;

// A sheet of every form drawn from seed: ordinary rows of each kind and script, rows out of
// range, notes, archive rows with their result rows, RETRO and XRETRO blocks (with and without
// XEND, with entries that match nothing), missing values (point 5, time "T9"). Ends with an
// empty row unless toRowLimit, which fills rows past 10000.
std::vector<Row> GenerateSheet(unsigned seed, size_t rows, bool toRowLimit) {
  std::mt19937 random(seed);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const auto address = [&](const char* letters) {
    return std::string("#") + letters + std::to_string(pick(4)) + ":" +
           std::to_string(1 + pick(3)) + ":" + std::to_string(1 + pick(5));
  };
  const auto time = [&] { return "T" + std::to_string(1 + pick(9)); };
  static const char* const kOrdinary[] = {"TT", "ТТ", "tt", "TC", "ТС", "TI", "ТИ", "ti"};
  static const char* const kEntries[] = {"TT", "ТТ", "tt", "TI", "ТИ", "PU", "ПУ", "pu", "TT"};
  static const char* const kXRows[] = {"TT", "ТТ", "PU", "ПУ", "TI", "ТИ", "tt", "TC"};
  static const char* const kOther[] = {"note",         "#ПУ1:1:1", "#TT5",          "#TT1:0:1",
                                       "#TC32001:1:1", "#ТТ1.2.3", "RETROSPECTIVE", "XRETRO"};

  std::vector<Row> sheet{{"ТМ адрес", "Наименование параметра", "№ архива", "Значение"}};
  bool xretroOpen = false;  // an empty row there would end the data
  while (sheet.size() < rows) {
    switch (pick(10)) {
      case 0:
      case 1:
      case 2:
        sheet.push_back({address(kOrdinary[pick(8)]), "", pick(3) == 0 ? "-1" : ""});
        break;
      case 3: {  // archive row and its result row, whose column 1 is never examined
        Row row{address("TT"), "", std::to_string(pick(4))};
        for (int n = pick(5); n > 0; --n) row.push_back(time());
        sheet.push_back(row);
        sheet.push_back({pick(2) == 0 && !xretroOpen ? "" : "#TC1:1:1"});
        break;
      }
      case 4:
        sheet.push_back({kOther[pick(8)]});
        break;
      case 5:
      case 6: {
        Row command{pick(2) == 0 ? "RETRO" : "RETRO:" + std::to_string(pick(4))};
        for (int n = pick(13); n > 0; --n) command.push_back(address(kEntries[pick(9)]));
        if (pick(4) == 0) command.push_back("#TC1:1:1");  // ends the list
        sheet.push_back(command);
        for (int n = pick(7); n > 0; --n) sheet.push_back({pick(8) == 0 ? "XEND" : time()});
        break;
      }
      default: {
        Row command{"XRETRO:" + std::to_string(pick(4))};
        for (int n = pick(9); n > 0; --n) command.push_back(pick(2) == 0 ? time() : "t1");
        sheet.push_back(command);
        xretroOpen = xretroOpen || command.size() > 1;
        for (int n = pick(8); n > 0; --n) {
          sheet.push_back({pick(6) == 0 ? std::string("note") : address(kXRows[pick(8)])});
        }
        if (pick(3) != 0) {
          sheet.push_back({"XEND"});
          xretroOpen = false;
        }
        break;
      }
    }
  }
  if (toRowLimit) {
    while (sheet.size() < 10005) sheet.push_back({address("TC")});
  } else {
    sheet.push_back({""});
    sheet.push_back({"#TT1:1:1"});  // below the end of data: never read
  }
  return sheet;
}

// Answers derived from the request; point 5 and time "T9" have no value.
void Script(FakeTm& tm) {
  const auto base = [](const TmBatchRequest& r) {
    return static_cast<float>(r.ch * 100 + r.rtu * 10 + r.point) +
           static_cast<float>(r.time.size() + r.archive) / 8.0f;
  };
  const auto missing = [](const TmBatchRequest& r) { return r.point == 5 || r.time == "T9"; };
  tm.SetAnalogFallback([=](const TmBatchRequest& r) { return missing(r) ? NAN : base(r); });
  tm.SetStatusFallback(
      [=](const TmBatchRequest& r) { return static_cast<int16_t>(missing(r) ? -1 : r.point % 2); });
  tm.SetAccumFallback([=](const TmBatchRequest& r) {
    return missing(r) ? AccumAnswer{0x10000, 0, 0} : AccumAnswer{kTmaTrue, base(r), -base(r)};
  });
}

struct Outcome {
  Result<> pass;
  PassStatistics stats;
  std::map<std::pair<int32_t, int32_t>, MemoryCell> cells;
  int32_t position = 0, maximum = 0;
  std::vector<std::string> requests;
  std::vector<MemoryCall> calls;  // of the sheet, in the pass
};

enum class Fault { None, Read, Write };

// One pass over a fresh copy of rows; the fault (the cell of the n-th read or write that the
// one-at-a-time pass makes in its row loop) is armed before it.
Outcome RunPass(bool pipelined, const std::vector<Row>& rows, TmOperations& tm,
                std::optional<MemoryCall> fault = std::nullopt) {
  MemoryOffice office;
  std::unique_ptr<Application> app = office.Start();
  auto workbook = std::static_pointer_cast<MemoryWorkbook>(app->Add());
  auto sheet = workbook->AddSheetDirect("ВЕЛТ");
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      if (!rows[r][c].empty()) {
        sheet->Put(static_cast<int32_t>(r + 1), static_cast<int32_t>(c + 1), rows[r][c]);
      }
    }
  }
  if (fault) {
    office.FailCell(fault->row, fault->column,
                    fault->op == "read" ? MemoryOffice::Access::Read : MemoryOffice::Access::Write);
  }
  office.ClearLog();
  RecordingTm recording(tm);
  ProgressBarModel progress(0, 100);
  Outcome out;
  out.pass = (pipelined ? UpdateSheet : UpdateSheetOneByOne)(*app, kLcid, *sheet, progress,
                                                             recording, &out.stats);
  out.cells = sheet->Data().cells;
  out.position = progress.Position();
  out.maximum = progress.Maximum();
  out.requests = recording.log;
  for (const MemoryCall& call : office.Log()) {
    if (call.op == "read" || call.op == "write") out.calls.push_back(call);
  }
  return out;
}

// The n-th (of every hundred) read or write of the one-at-a-time pass over rows.
std::optional<MemoryCall> FaultAt(Fault fault, int percent, const std::vector<Row>& rows,
                                  TmOperations& tm) {
  if (fault == Fault::None) return std::nullopt;
  const Outcome clean = RunPass(false, rows, tm);
  std::vector<MemoryCall> candidates;
  for (const MemoryCall& call : clean.calls) {
    if ((call.op == "read") == (fault == Fault::Read) && !(call.row == 1 && call.column == 1)) {
      candidates.push_back(call);
    }
  }
  return candidates.at(candidates.size() * static_cast<size_t>(percent) / 100);
}

bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  size_t i = 0;
  for (const std::string& s : whole) {
    if (i < part.size() && part[i] == s) ++i;
  }
  return i == part.size();
}

void ExpectSameOutcome(const Outcome& reference, const Outcome& pipelined, Fault fault) {
  EXPECT_EQ(pipelined.pass.ok(), reference.pass.ok());
  EXPECT_EQ(pipelined.pass.error(), reference.pass.error());
  EXPECT_EQ(pipelined.stats, reference.stats);
  EXPECT_TRUE(pipelined.cells == reference.cells) << "the sheets differ";
  EXPECT_EQ(pipelined.position, reference.position);
  EXPECT_EQ(pipelined.maximum, reference.maximum);
  if (fault == Fault::Write) {
    // Requests fetched ahead of a failed write are sent, their answers dropped.
    EXPECT_TRUE(IsSubsequence(reference.requests, pipelined.requests));
  } else {
    EXPECT_TRUE(pipelined.requests == reference.requests) << "the requests differ";
  }
}

struct EquivalenceCase {
  const char* name;
  unsigned seed;
  size_t rows;
  bool toRowLimit;
  Fault fault;
  int percent;  // where the fault falls among the reads or writes
};

void PrintTo(const EquivalenceCase& c, std::ostream* out) {
  *out << c.name;
}

const EquivalenceCase kCases[] = {
    {"EndOfData", 1, 1500, false, Fault::None, 0},
    {"OtherSheet", 2, 1500, false, Fault::None, 0},
    {"RowLimit", 3, 1500, true, Fault::None, 0},
    {"ReadFailsEarly", 4, 1500, false, Fault::Read, 5},
    {"ReadFailsLate", 5, 1500, false, Fault::Read, 70},
    {"WriteFailsEarly", 6, 1500, false, Fault::Write, 10},
    {"WriteFailsLate", 7, 1500, false, Fault::Write, 85},
    {"WriteFailsMidway", 8, 1500, false, Fault::Write, 50},
};

class Equivalence : public ::testing::TestWithParam<EquivalenceCase> {};

TEST_P(Equivalence, ScriptedServer) {
  const EquivalenceCase& c = GetParam();
  const std::vector<Row> rows = GenerateSheet(c.seed, c.rows, c.toRowLimit);
  FakeTm tm;
  Script(tm);
  tm.SetLogging(false);
  ASSERT_GT(RunPass(false, rows, tm).requests.size(), 2000u);  // several batches
  const std::optional<MemoryCall> fault = FaultAt(c.fault, c.percent, rows, tm);
  const Outcome reference = RunPass(false, rows, tm, fault);
  const Outcome pipelined = RunPass(true, rows, tm, fault);
  ExpectSameOutcome(reference, pipelined, c.fault);
}

INSTANTIATE_TEST_SUITE_P(Cases, Equivalence, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Through libtmconn's batch to a real server, and through the one-call-per-request fallback.
TEST(EquivalenceTmsim, BatchAndFallback) {
  TmsimOptions options;
  options.database.clear();
  options.extra_args = {"--synthetic", "3x3"};
  TmsimProcess tmsim(options);
  for (const bool withBatch : {true, false}) {
    SCOPED_TRACE(withBatch ? "batch" : "fallback");
    TmcFunctions fns = LibraryTmcFunctions();
    ASSERT_NE(fns.batch, nullptr);
    if (!withBatch) fns.batch = nullptr;
    TmAccess tm(fns);
    ASSERT_NE(tm.tmaConnect(tmsim.Address() + "\\TMS", kClientName) & 0xFFFF, 0);
    for (const EquivalenceCase& c : {kCases[0], kCases[4]}) {
      SCOPED_TRACE(c.name);
      const std::vector<Row> rows = GenerateSheet(c.seed, c.rows, c.toRowLimit);
      const std::optional<MemoryCall> fault = FaultAt(c.fault, c.percent, rows, tm);
      const Outcome reference = RunPass(false, rows, tm, fault);
      const Outcome pipelined = RunPass(true, rows, tm, fault);
      EXPECT_GT(reference.stats.valuesWritten, 40);
      ExpectSameOutcome(reference, pipelined, c.fault);
    }
    tm.tmaDisconnect();
  }
}

}  // namespace
}  // namespace velt
