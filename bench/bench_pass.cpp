// Update pass benchmarks: 10 000 address rows of mixed kinds, and a sheet with a RETRO and an
// XRETRO block of 100 x 100 values, over
//   (a) the in-memory spreadsheet and the scripted TM layer,
//   (b) the in-memory spreadsheet and tmsim through libtmconn,
//   (c) LibreOffice Calc (headless) and tmsim.
// (b) and (c) are built when the tmsim fixture, the connection module and the LibreOffice
// backend are part of the build.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeTm.h"
#include "MemorySpreadsheet.h"
#include "UpdateSheet.h"

#ifdef VELT_BENCH_TMSIM
#include "TmsimProcess.h"
#include "tmaccess.h"
#endif
#ifdef VELT_BENCH_LIBREOFFICE
#include "LibreOfficeSpreadsheet.h"
#endif

namespace velt {
namespace {

using Row = std::vector<std::string>;

constexpr int32_t kLcid = 1049;

// Slice times inside the demo database's archives (hourly, 28.11.2026 00:00 to 04.12.2026 23:00).
std::string SliceTime(int hour) {
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

// 10 000 filled rows on points of the demo database: current analog, status and accumulator
// rows, and every 250th row an archive row with three slice times (its result row follows).
std::vector<Row> AddressRows() {
  static const char* const kCurrent[] = {"#TT1:3:1", "#TC1:2:1", "#TI1:3:2", "#TT1:2:1",
                                         "#TC1:2:6", "#TT1:1:2", "#TI2:1:1", "#TC2:1:2",
                                         "#TT1:2:6", "#TC1:2:11"};
  std::vector<Row> rows;
  rows.reserve(10000);
  while (rows.size() < 10000) {
    const size_t i = rows.size();
    if (i % 250 == 249 && i + 2 <= 10000) {
      rows.push_back({"#TT1:2:3", "", "1", SliceTime(80), SliceTime(81), SliceTime(82)});
      rows.push_back({""});
    } else {
      rows.push_back({kCurrent[i % 10]});
    }
  }
  return rows;
}

// A RETRO block of 100 addresses x 100 slice times, then an XRETRO block of 100 times x 100
// addresses.
std::vector<Row> BlockRows() {
  static const char* const kEntries[] = {"#TT1:2:1", "#TT1:2:3", "#TI1:3:1", "#PU1:3:1",
                                         "#TT2:1:1"};
  std::vector<Row> rows;
  Row retro{"RETRO:0"};
  for (int i = 0; i < 100; ++i) retro.push_back(kEntries[i % 5]);
  rows.push_back(retro);
  for (int t = 0; t < 100; ++t) rows.push_back({SliceTime(t)});
  Row xretro{"XRETRO:0"};
  for (int t = 0; t < 100; ++t) xretro.push_back(SliceTime(t));
  rows.push_back(xretro);
  for (int i = 0; i < 100; ++i) rows.push_back({kEntries[i % 5]});
  rows.push_back({"XEND"});
  return rows;
}

// Answers for every request, as a server with every point would give them.
void AnswerEverything(FakeTm& tm) {
  tm.SetLogging(false);
  tm.SetAnalogFallback([](const TmRequest& r) { return static_cast<float>(r.point) + 0.5f; });
  tm.SetStatusFallback([](const TmRequest& r) { return static_cast<int16_t>(r.point % 2); });
  tm.SetAccumFallback([](const TmRequest& r) {
    return AccumAnswer{kTmaTrue, static_cast<float>(r.point) * 1000.0f, 1.5f};
  });
}

// An in-memory data sheet filled with rows.
struct MemorySheet {
  explicit MemorySheet(const std::vector<Row>& rows) {
    workbook = std::static_pointer_cast<MemoryWorkbook>(application->Add());
    sheet = workbook->AddSheetDirect("ВЕЛТ");
    for (size_t r = 0; r < rows.size(); ++r) {
      for (size_t c = 0; c < rows[r].size(); ++c) {
        sheet->Put(static_cast<int32_t>(r) + 1, static_cast<int32_t>(c) + 1, rows[r][c]);
      }
    }
  }
  MemoryOffice office;
  std::unique_ptr<Application> application = office.Start();
  std::shared_ptr<MemoryWorkbook> workbook;
  std::shared_ptr<MemoryWorksheet> sheet;
};

void RunPasses(benchmark::State& state, Application& application, Worksheet& sheet,
               TmOperations& tm, MemoryOffice* office) {
  ProgressBarModel progress;
  PassStatistics statistics;
  for (auto _ : state) {
    if (office) {
      state.PauseTiming();
      office->ClearLog();  // the in-memory backend logs every call; keep it from growing
      state.ResumeTiming();
    }
    const bool failed = UpdateSheet(application, kLcid, sheet, progress, tm, &statistics);
    if (failed) state.SkipWithError("the pass reported a spreadsheet failure");
  }
  state.counters["rows"] = static_cast<double>(statistics.rowsExamined);
  state.counters["requests"] = static_cast<double>(statistics.tmRequests);
  state.counters["values"] = static_cast<double>(statistics.valuesWritten);
  state.counters["no_value"] = static_cast<double>(statistics.noValueWritten);
}

void BM_Pass_Memory_FakeTm(benchmark::State& state, std::vector<Row> (*rows)()) {
  MemorySheet sheet(rows());
  FakeTm tm;
  AnswerEverything(tm);
  RunPasses(state, *sheet.application, *sheet.sheet, tm, &sheet.office);
}
BENCHMARK_CAPTURE(BM_Pass_Memory_FakeTm, AddressRows10000, AddressRows)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pass_Memory_FakeTm, Blocks100x100, BlockRows)->Unit(benchmark::kMillisecond);

#ifdef VELT_BENCH_TMSIM
// One tmsim and one connection for every benchmark of the run; ended at exit.
TmAccess& Tmsim() {
  static TmsimProcess process;
  static TmAccess tm;
  static const bool connected = [] {
    return (tm.tmaConnect(process.Address() + "\\TMS", "$Excel$") & 0xFFFF) != 0;
  }();
  if (!connected) throw std::runtime_error("cannot connect to tmsim");
  return tm;
}

void BM_Pass_Memory_Tmsim(benchmark::State& state, std::vector<Row> (*rows)()) {
  MemorySheet sheet(rows());
  RunPasses(state, *sheet.application, *sheet.sheet, Tmsim(), &sheet.office);
}
BENCHMARK_CAPTURE(BM_Pass_Memory_Tmsim, AddressRows10000, AddressRows)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_Pass_Memory_Tmsim, Blocks100x100, BlockRows)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
#endif

#ifdef VELT_BENCH_LIBREOFFICE
void BM_Pass_LibreOffice_Tmsim(benchmark::State& state, std::vector<Row> (*rows)()) {
  TmAccess& tm = Tmsim();
  LibreOfficeOptions options;
  options.headless = true;
  LibreOfficeLauncher launcher(options);
  std::unique_ptr<Application> application = launcher.Start();
  std::shared_ptr<Workbook> workbook = application->Add();
  std::shared_ptr<Worksheet> sheet = workbook->AddWorksheet();
  sheet->SetName("ВЕЛТ");
  // Filling goes through the backend's batching too.
  application->SetScreenUpdating(false, kLcid);
  const std::vector<Row> content = rows();
  for (size_t r = 0; r < content.size(); ++r) {
    for (size_t c = 0; c < content[r].size(); ++c) {
      if (content[r][c].empty()) continue;
      sheet->SetCellText(static_cast<int32_t>(r) + 1, static_cast<int32_t>(c) + 1, content[r][c]);
    }
  }
  application->SetScreenUpdating(true, kLcid);
  RunPasses(state, *application, *sheet, tm, nullptr);
}
BENCHMARK_CAPTURE(BM_Pass_LibreOffice_Tmsim, AddressRows10000, AddressRows)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_Pass_LibreOffice_Tmsim, Blocks100x100, BlockRows)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
#endif

}  // namespace
}  // namespace velt

BENCHMARK_MAIN();
