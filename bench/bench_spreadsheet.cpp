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
  std::shared_ptr<Worksheet> sheet;
};

Office* office = nullptr;

// A data sheet as the pass sees it: addresses in column 1, an archive number in every tenth
// row of column 3.
void Prepare() {
  office = new Office;
  office->application = velt::LibreOfficeLauncher().Start();
  office->workbook = office->application->Add();
  office->sheet = office->workbook->AddWorksheet();
  office->application->SetScreenUpdating(false, 0);
  for (int row = 1; row <= kRows; ++row) {
    office->sheet->SetCellText(
        row, 1, "#TT1:" + std::to_string(row % 50) + ":" + std::to_string(row % 300 + 1));
    if (row % 10 == 0) office->sheet->SetCellInteger(row, 3, static_cast<int16_t>(row % 7));
  }
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

// A pass's cell traffic on address rows: column 1, column 3, a value into column 4, and a
// meter reading into column 5 on every fifth row. Per row.
void BM_BatchedPassRows(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    office->application->SetCalculation(velt::xlCalculationManual, 0);
    office->application->SetScreenUpdating(false, 0);
    for (int row = 1; row <= rows; ++row) {
      benchmark::DoNotOptimize(office->sheet->CellText(row, 1));
      benchmark::DoNotOptimize(office->sheet->CellText(row, 3));
      office->sheet->SetCellNumber(row, 4, row * 0.125);
      if (row % 5 == 0) office->sheet->SetCellNumber(row, 5, row);
    }
    office->application->SetScreenUpdating(true, 0);
    office->application->SetCalculation(velt::xlCalculationAutomatic, 0);
  }
  PerCell(state, rows);
}
BENCHMARK(BM_BatchedPassRows)
    ->Arg(kRows)
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
    std::fprintf(stderr, "bench_spreadsheet: %s\n", e.what());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete office;  // quits the office before the program's statics go
  return 0;
}
