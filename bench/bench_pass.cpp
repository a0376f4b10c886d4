// Update pass benchmarks, the one-at-a-time pass beside the pipelined one: 10 000 address rows
// of mixed kinds, and a sheet with a RETRO and an XRETRO block of 100 x 100 values, over
//   (a) the in-memory spreadsheet and the scripted TM layer,
//   (b) the in-memory spreadsheet and tmsim through libtmconn,
//   (c) LibreOffice Calc (headless) and tmsim,
// with tmsim answering at once and after an added 1 ms and 20 ms (--latency).
// (b) and (c) are built when the tmsim fixture, the connection module and the LibreOffice
// backend are part of the build.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
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
  tm.SetAnalogFallback([](const TmBatchRequest& r) { return static_cast<float>(r.point) + 0.5f; });
  tm.SetStatusFallback([](const TmBatchRequest& r) { return static_cast<int16_t>(r.point % 2); });
  tm.SetAccumFallback([](const TmBatchRequest& r) {
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

using PassFunction = Result<> (*)(Application&, int32_t, Worksheet&, ProgressIndicator&,
                                  TmOperations&, PassStatistics*);

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
    const bool failed = !pass(application, kLcid, sheet, progress, tm, &statistics).ok();
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

#if defined(VELT_BENCH_TMSIM) && defined(VELT_BENCH_LIBREOFFICE)
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The application's switches timed, each under its own name.
class TimedApplication : public Application {
 public:
  TimedApplication(Application& application, std::map<std::string, double>& times)
      : app_(application), times_(times) {}
  void SetVisible(bool visible) override { app_.SetVisible(visible); }
  void SetDisplayAlerts(bool alerts) override { app_.SetDisplayAlerts(alerts); }
  std::shared_ptr<Workbook> Open(const std::string& path) override { return app_.Open(path); }
  std::shared_ptr<Workbook> Add() override { return app_.Add(); }
  void SetCalculation(int32_t mode, int32_t lcid) override {
    Timed(mode == xlCalculationManual ? "calculation manual" : "calculation automatic",
          [&] { app_.SetCalculation(mode, lcid); });
  }
  void SetScreenUpdating(bool on, int32_t lcid) override {
    Timed(on ? "screen updating on (stores the writes)" : "screen updating off",
          [&] { app_.SetScreenUpdating(on, lcid); });
  }

 private:
  template <class F>
  void Timed(const std::string& name, F f) {
    const auto t0 = Clock::now();
    f();
    times_[name] += Ms(Clock::now() - t0);
  }
  Application& app_;
  std::map<std::string, double>& times_;
};

// The sheet's reads timed together; writes are buffered and stored at screen updating on.
class TimedSheet : public ForwardingWorksheet {
 public:
  TimedSheet(Worksheet& sheet, double& readMs) : ForwardingWorksheet(sheet), readMs_(readMs) {}
  std::string CellText(int32_t row, int32_t column) override {
    const auto t0 = Clock::now();
    std::string text = inner_.CellText(row, column);
    readMs_ += Ms(Clock::now() - t0);
    return text;
  }

 private:
  double& readMs_;
};

std::string MedianAndSpread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  char text[64];
  std::snprintf(text, sizeof text, "%7.1f ms (%.1f-%.1f)", values[values.size() / 2],
                values.front(), values.back());
  return text;
}

// The pass on LibreOffice beside the office's own bulk calls on the same sheet, in the same
// office: column 1 read in bulk, and the cells the pass writes (as a pass over the in-memory
// sheet with the same server writes them) written in bulk. The sheet went through an .xls
// file, as a user's workbook does. Each round runs all of them; the pass also with its time
// split by phase. Medians and the spread of the rounds.
void SideBySide(benchmark::State& state) {
  const std::vector<Row> rows = AddressRows();
  MemorySheet memory(rows);
  ProgressBarModel progress;
  UpdateSheet(*memory.application, kLcid, *memory.sheet, progress, Tmsim(0), nullptr);
  std::vector<std::pair<std::pair<int32_t, int32_t>, MemoryCell>> results;
  for (const auto& [cell, value] : memory.sheet->Data().cells) {
    const auto [row, column] = cell;
    const bool given = static_cast<size_t>(row) <= rows.size() &&
                       static_cast<size_t>(column) <= rows[static_cast<size_t>(row - 1)].size() &&
                       !rows[static_cast<size_t>(row - 1)][static_cast<size_t>(column - 1)].empty();
    if (!given) results.emplace_back(cell, value);
  }

  testsupport::HeadlessDataSheet office = testsupport::StartHeadlessDataSheet();
  office.application->SetScreenUpdating(false, kLcid);
  WriteTexts(*office.sheet, rows);
  office.application->SetScreenUpdating(true, kLcid);
  char dir[] = "/tmp/velt-bench-pass-XXXXXX";
  if (mkdtemp(dir) == nullptr) throw std::runtime_error("no temporary folder");
  const std::string saved = std::string(dir) + "/rows.xls";
  const std::string copy = std::string(dir) + "/rows-copy.xls";
  office.workbook->SaveAs(saved);
  std::filesystem::copy_file(saved, copy);
  auto workbook = office.application->Open(copy);
  auto sheet = workbook->WorksheetByName(kDataSheetName);
  Application& app = *office.application;

  std::map<std::string, std::vector<double>> figures;
  std::map<std::string, std::vector<double>> phases;
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      auto t0 = Clock::now();
      app.SetScreenUpdating(false, kLcid);
      for (int32_t row = 1; row <= static_cast<int32_t>(rows.size()); ++row) {
        benchmark::DoNotOptimize(sheet->CellText(row, 1));
      }
      app.SetScreenUpdating(true, kLcid);
      const double read = Ms(Clock::now() - t0);

      t0 = Clock::now();
      app.SetScreenUpdating(false, kLcid);
      for (const auto& [cell, value] : results) {
        if (value.kind == MemoryCell::Kind::Number) {
          sheet->SetCellNumber(cell.first, cell.second, value.number);
        } else {
          sheet->SetCellText(cell.first, cell.second, value.text);
        }
      }
      app.SetScreenUpdating(true, kLcid);
      const double write = Ms(Clock::now() - t0);
      figures["bulk read of column 1"].push_back(read);
      figures["bulk write of the result cells"].push_back(write);
      figures["reference: read + write"].push_back(read + write);

      for (const double latency : {0.0, 20.0}) {
        std::map<std::string, double> times;
        double reads = 0;
        TimedApplication timedApp(app, times);
        TimedSheet timedSheet(*sheet, reads);
        TmAccess& tm = Tmsim(latency);
        t0 = Clock::now();
        if (!UpdateSheet(timedApp, kLcid, timedSheet, progress, tm, nullptr).ok()) {
          state.SkipWithError("the pass reported a spreadsheet failure");
          return;
        }
        const double pass = Ms(Clock::now() - t0);
        const std::string at = latency == 0 ? "0 ms" : "20 ms";
        figures["pass, tmsim --latency " + at].push_back(pass);
        if (latency != 0) continue;
        double switches = 0;
        for (const auto& [name, ms] : times) {
          phases["  " + name].push_back(ms);
          switches += ms;
        }
        phases["  reads of the sheet (bulk fetches)"].push_back(reads);
        phases["  the rest: requests, waits, the row loop"].push_back(pass - switches - reads);
      }
    }
  }
  const auto& ref = figures["reference: read + write"];
  const auto& pass0 = figures["pass, tmsim --latency 0 ms"];
  const auto& pass20 = figures["pass, tmsim --latency 20 ms"];
  std::vector<double> ratio, extra;
  for (size_t i = 0; i < ref.size(); ++i) {
    ratio.push_back(pass0[i] / ref[i]);
    extra.push_back(pass20[i] - pass0[i]);
  }
  std::printf("\n10 000 address rows, LibreOffice + tmsim, %zu rounds: median (min-max)\n",
              ref.size());
  for (const auto& [name, values] : figures) {
    std::printf("  %-44s %s\n", name.c_str(), MedianAndSpread(values).c_str());
  }
  std::printf("  %-44s %s\n", "pass at 20 ms minus pass at 0 ms (<= 80)",
              MedianAndSpread(extra).c_str());
  std::vector<double> sorted = ratio;
  std::sort(sorted.begin(), sorted.end());
  std::printf("  %-44s %.2f (%.2f-%.2f)\n", "pass at 0 ms / reference (<= 2)",
              sorted[sorted.size() / 2], sorted.front(), sorted.back());
  std::printf("the pass at 0 ms by phase:\n");
  for (const auto& [name, values] : phases) {
    std::printf("  %-44s %s\n", name.c_str(), MedianAndSpread(values).c_str());
  }
  state.counters["ratio"] = sorted[sorted.size() / 2];
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace

void RegisterAll() {
  RegisterAllPasses();
#if defined(VELT_BENCH_TMSIM) && defined(VELT_BENCH_LIBREOFFICE)
  benchmark::RegisterBenchmark("LibreOffice_Tmsim/AddressRows10000/SideBySide", SideBySide)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
#endif
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
