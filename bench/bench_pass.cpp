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

#include "BenchSheets.h"
#include "DataSheet.h"
#include "FakeTm.h"
#include "MemorySpreadsheet.h"
#include "UpdateSheet.h"

#ifdef VELT_BENCH_TMSIM
#include "TmsimProcess.h"
#include "tmaccess.h"
#endif
#ifdef VELT_BENCH_LIBREOFFICE
#include "HeadlessDataSheet.h"
#endif

namespace velt {
namespace {

using Row = BenchRow;

constexpr int32_t kLcid = 1049;

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
    sheet = workbook->AddSheetDirect(kDataSheetName);
    WriteTexts(*sheet, rows);
    office.ClearLog();
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
    return (tm.tmaConnect(process.Address() + "\\TMS", kClientName) & 0xFFFF) != 0;
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
  testsupport::HeadlessDataSheet office = testsupport::StartHeadlessDataSheet();
  // Filling goes through the backend's batching too.
  office.application->SetScreenUpdating(false, kLcid);
  WriteTexts(*office.sheet, rows());
  office.application->SetScreenUpdating(true, kLcid);
  RunPasses(state, *office.application, *office.sheet, tm, nullptr);
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
