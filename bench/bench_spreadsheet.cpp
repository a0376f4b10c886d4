// Cost of cell reads and writes through the LibreOffice backend, per cell: cell by cell, and
// batched between SetScreenUpdating(false) and SetScreenUpdating(true) as the update pass does
// it (10 000 reads of column 1, 10 000 writes of column 4). Also the cost of starting and
// releasing an instance. Timings are wall-clock: the work happens in soffice.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "LibreOfficeSpreadsheet.h"

namespace {

using velt::Application;
using velt::Worksheet;

constexpr int kRows = 10000;

struct Office {
  std::unique_ptr<Application> application;
  std::shared_ptr<velt::Workbook> workbook;
  std::shared_ptr<Worksheet> sheet;  // addresses in column 1 only
  std::shared_ptr<Worksheet> mixed;  // and an archive number in every tenth row of column 3
};

Office* office = nullptr;

void Fill(Worksheet& sheet, bool archiveNumbers) {
  for (int row = 1; row <= kRows; ++row) {
    sheet.SetCellText(row, 1,
                      "#TT1:" + std::to_string(row % 50) + ":" + std::to_string(row % 300 + 1));
    if (archiveNumbers && row % 10 == 0)
      sheet.SetCellInteger(row, 3, static_cast<int16_t>(row % 7));
  }
}

void Prepare() {
  office = new Office;
  office->application = velt::LibreOfficeLauncher().Start();
  office->workbook = office->application->Add();
  office->sheet = office->workbook->AddWorksheet();
  office->mixed = office->workbook->AddWorksheet();
  office->application->SetScreenUpdating(false, 0);
  Fill(*office->sheet, false);
  Fill(*office->mixed, true);
  office->application->SetScreenUpdating(true, 0);
}

void PerCell(benchmark::State& state, int64_t cells) {
  state.counters["per_cell"] =
      benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_Start(benchmark::State& state) {
  double release = 0;
  for (auto _ : state) {
    auto application = velt::LibreOfficeLauncher().Start();
    state.PauseTiming();
    auto t0 = std::chrono::steady_clock::now();
    application.reset();
    release += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.ResumeTiming();
  }
  state.counters["release_s"] = release / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Start)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_DirectRead(benchmark::State& state) {
  const int cells = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int row = 1; row <= cells; ++row)
      benchmark::DoNotOptimize(office->sheet->CellText(row, 1));
  }
  PerCell(state, cells);
}
BENCHMARK(BM_DirectRead)->Arg(1000)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_DirectWrite(benchmark::State& state) {
  const int cells = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int row = 1; row <= cells; ++row) office->sheet->SetCellNumber(row, 4, row * 0.5);
  }
  PerCell(state, cells);
}
BENCHMARK(BM_DirectWrite)->Arg(1000)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The pass's set-up and tear-down around each batch: manual calculation, screen updating off.
void BM_BatchedRead(benchmark::State& state) {
  const int cells = static_cast<int>(state.range(0));
  for (auto _ : state) {
    office->application->SetCalculation(velt::xlCalculationManual, 0);
    office->application->SetScreenUpdating(false, 0);
    for (int row = 1; row <= cells; ++row)
      benchmark::DoNotOptimize(office->sheet->CellText(row, 1));
    office->application->SetScreenUpdating(true, 0);
    office->application->SetCalculation(velt::xlCalculationAutomatic, 0);
  }
  PerCell(state, cells);
}
BENCHMARK(BM_BatchedRead)->Arg(kRows)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_BatchedWrite(benchmark::State& state) {
  const int cells = static_cast<int>(state.range(0));
  for (auto _ : state) {
    office->application->SetCalculation(velt::xlCalculationManual, 0);
    office->application->SetScreenUpdating(false, 0);
    for (int row = 1; row <= cells; ++row) office->sheet->SetCellNumber(row, 4, row * 0.25);
    office->application->SetScreenUpdating(true, 0);  // stores the buffer
    office->application->SetCalculation(velt::xlCalculationAutomatic, 0);
  }
  PerCell(state, cells);
}
BENCHMARK(BM_BatchedWrite)->Arg(kRows)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// A pass's cell traffic on address rows, per row: column 1 and column 3 read, the value written
// into column 4. Analog rows only (column 3 empty), or mixed: an archive number in every tenth
// row (a number: its displayed text is asked from that cell) and an accumulator in every fifth
// (its meter reading into column 5: a lone cell, written by itself).
void BM_BatchedPassRows(benchmark::State& state) {
  const bool mixed = state.range(0) != 0;
  Worksheet& sheet = mixed ? *office->mixed : *office->sheet;
  for (auto _ : state) {
    office->application->SetCalculation(velt::xlCalculationManual, 0);
    office->application->SetScreenUpdating(false, 0);
    for (int row = 1; row <= kRows; ++row) {
      benchmark::DoNotOptimize(sheet.CellText(row, 1));
      benchmark::DoNotOptimize(sheet.CellText(row, 3));
      if (mixed && row % 5 == 0) sheet.SetCellNumber(row, 5, row);
      sheet.SetCellNumber(row, 4, row * 0.125);
    }
    office->application->SetScreenUpdating(true, 0);
    office->application->SetCalculation(velt::xlCalculationAutomatic, 0);
  }
  PerCell(state, kRows);
}
BENCHMARK(BM_BatchedPassRows)
    ->ArgName("mixed")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    Prepare();
  } catch (const velt::SpreadsheetError& e) {
    // Skipped, not failed: the other benchmarks of the run still go ahead.
    std::fprintf(stderr, "bench_spreadsheet: skipped: %s\n", e.what());
    return 0;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete office;  // quits the office before the program's statics go
  return 0;
}
