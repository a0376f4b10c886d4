// Update pass benchmarks, the one-at-a-time pass beside the pipelined one: 10 000 address rows
// of mixed kinds, and a sheet with a RETRO and an XRETRO block of 100 x 100 values, over
//   (a) the in-memory spreadsheet and the scripted TM layer,
//   (b) the in-memory spreadsheet and tmsim through libtmconn,
//   (c) LibreOffice Calc (headless) and tmsim,
// with tmsim answering at once and after an added 1 ms and 20 ms (--latency).
// (b) and (c) are built when the tmsim fixture, the connection module and the LibreOffice
// backend are part of the build.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSheets.h"
#include "BenchTmsim.h"
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

using PassFunction = bool (*)(Application&, int32_t, Worksheet&, ProgressIndicator&, TmOperations&,
                              PassStatistics*);

void RunPasses(benchmark::State& state, PassFunction pass, Application& application,
               Worksheet& sheet, TmOperations& tm, MemoryOffice* office) {
  ProgressBarModel progress;
  PassStatistics statistics;
  for (auto _ : state) {
    if (office) {
      state.PauseTiming();
      office->ClearLog();  // the in-memory backend logs every call; keep it from growing
      state.ResumeTiming();
    }
    const bool failed = pass(application, kLcid, sheet, progress, tm, &statistics);
    if (failed) state.SkipWithError("the pass reported a spreadsheet failure");
  }
  state.counters["rows"] = static_cast<double>(statistics.rowsExamined);
  state.counters["requests"] = static_cast<double>(statistics.tmRequests);
  state.counters["values"] = static_cast<double>(statistics.valuesWritten);
  state.counters["no_value"] = static_cast<double>(statistics.noValueWritten);
}

struct Sheet {
  const char* name;
  std::vector<Row> (*rows)();
};
const Sheet kSheets[] = {{"AddressRows10000", AddressRows}, {"Blocks100x100", BlockRows}};

struct Pass {
  const char* name;
  PassFunction run;
};
const Pass kPasses[] = {{"OneByOne", UpdateSheetOneByOne}, {"Pipelined", UpdateSheet}};

#ifdef VELT_BENCH_TMSIM
TmAccess& Tmsim(double latencyMs) {
  return SharedTmsim(latencyMs);
}
#endif

// Each sheet with each pass: in memory with the scripted TM layer; in memory and in LibreOffice
// with tmsim at added latencies of 0, 1 and 20 ms. One-at-a-time passes at a latency pay a
// round trip per request (10 000 rows at 20 ms: over 200 s), so they run once, and the block
// sheet's (20 000 requests) only without latency.
void RegisterAllPasses() {
  for (const Sheet& sheet : kSheets) {
    for (const Pass& pass : kPasses) {
      benchmark::RegisterBenchmark(
          (std::string("Memory_FakeTm/") + sheet.name + "/" + pass.name).c_str(),
          [sheet, pass](benchmark::State& state) {
            MemorySheet memory(sheet.rows());
            FakeTm tm;
            AnswerEverything(tm);
            RunPasses(state, pass.run, *memory.application, *memory.sheet, tm, &memory.office);
          })
          ->Unit(benchmark::kMillisecond);
    }
  }
#ifdef VELT_BENCH_TMSIM
  for (const double latency : {0.0, 1.0, 20.0}) {
    const std::string at = "/latency_" + std::to_string(static_cast<int>(latency)) + "ms/";
    for (const Sheet& sheet : kSheets) {
      for (const Pass& pass : kPasses) {
        const bool slow = latency > 0 && pass.run == UpdateSheetOneByOne;
        if (slow && sheet.rows == BlockRows) continue;
        const int iterations = slow ? 1 : 3;
        benchmark::RegisterBenchmark(
            (std::string("Memory_Tmsim/") + sheet.name + at + pass.name).c_str(),
            [sheet, pass, latency](benchmark::State& state) {
              MemorySheet memory(sheet.rows());
              RunPasses(state, pass.run, *memory.application, *memory.sheet, Tmsim(latency),
                        &memory.office);
            })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
#ifdef VELT_BENCH_LIBREOFFICE
        benchmark::RegisterBenchmark(
            (std::string("LibreOffice_Tmsim/") + sheet.name + at + pass.name).c_str(),
            [sheet, pass, latency](benchmark::State& state) {
              TmAccess& tm = Tmsim(latency);
              testsupport::HeadlessDataSheet office = testsupport::StartHeadlessDataSheet();
              // Filling goes through the backend's batching too.
              office.application->SetScreenUpdating(false, kLcid);
              WriteTexts(*office.sheet, sheet.rows());
              office.application->SetScreenUpdating(true, kLcid);
              RunPasses(state, pass.run, *office.application, *office.sheet, tm, nullptr);
            })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
#endif
      }
    }
  }
#endif
}

}  // namespace

void RegisterAll() {
  RegisterAllPasses();
}

}  // namespace velt

int main(int argc, char** argv) {
  velt::RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
