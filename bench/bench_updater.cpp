// The whole program on a 10 000-row workbook: veltexcel-update run as a process against tmsim,
// with LibreOffice headless. Reports the pass time the updater prints and the wall time of the
// whole run (LibreOffice start, open, pass, save, quit).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "BenchSheets.h"
#include "HeadlessDataSheet.h"
#include "TmsimProcess.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  double wallSeconds = 0;
  double passSeconds = -1;
  std::string summary;
};

RunResult RunUpdater(const std::string& server, const std::string& workbook) {
  const std::string command =
      std::string(VELTEXCEL_UPDATE) + " --quiet --server '" + server + "' '" + workbook + "'";
  const auto started = std::chrono::steady_clock::now();
  FILE* pipe = popen(command.c_str(), "r");
  RunResult result;
  if (pipe == nullptr) return result;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) result.summary += line;
  const int status = pclose(pipe);
  result.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // "..., spreadsheet: ok, 0.93 s"
  const auto comma = result.summary.rfind(", ");
  if (comma != std::string::npos)
    result.passSeconds = std::atof(result.summary.c_str() + comma + 2);
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const fs::path dir =
      fs::temp_directory_path() / ("veltexcel-bench-updater-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string workbook = (dir / "rows10000.xls").string();
  int code = 0;
  try {
    {
      velt::testsupport::HeadlessDataSheet office = velt::testsupport::StartHeadlessDataSheet();
      office.application->SetScreenUpdating(false, 0);
      velt::WriteTexts(*office.sheet, velt::AddressRows());
      office.application->SetScreenUpdating(true, 0);
      office.workbook->SaveAs(workbook);
    }
    velt::TmsimProcess tmsim;
    const std::string server = tmsim.Address() + "\\TMS";
    std::vector<double> pass, wall;
    for (int i = 0; i < 5; ++i) {
      const RunResult run = RunUpdater(server, workbook);
      if (run.exitCode != 0) {
        std::cerr << "veltexcel-update exited with " << run.exitCode << "\n" << run.summary;
        code = 1;
        break;
      }
      std::cout << "run " << i + 1 << ": " << run.summary;
      pass.push_back(run.passSeconds);
      wall.push_back(run.wallSeconds);
    }
    if (!pass.empty()) {
      std::printf(
          "veltexcel-update, 10 000 address rows, LibreOffice + tmsim: pass median %.2f s "
          "(target 2 s), whole run median %.2f s\n",
          Median(pass), Median(wall));
    }
  } catch (const std::exception& e) {
    std::cerr << "bench_updater: " << e.what() << "\n";
    code = 1;
  }
  fs::remove_all(dir);
  return code;
}
