// The whole program beside the office alone. Each round runs, on the demo workbook and on a
// 10 000-row one: veltexcel-update as a process against tmsim (LibreOffice headless: start,
// open, pass, save, quit), and `soffice --headless --convert-to` of the same workbook into its
// own format and into CSV, with a profile kept between its runs (the office's own start, load,
// save and quit). The updater keeps its office profile too: $XDG_CACHE_HOME points into the
// benchmark's folder, and one run of each warms the profiles first. Reports medians and the
// spread of the rounds, each run's time beside the office's from the same round, and the
// updater's own split of its time (--verbose). `bench_updater PATH` also runs the
// veltexcel-update at PATH (another build) in every round, for figures before and after a change.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "BenchSheets.h"
#include "DemoSheet.h"
#include "HeadlessDataSheet.h"
#include "TmsimProcess.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  double wallSeconds = 0;
  std::string output;
};

RunResult Run(const std::string& command) {
  const auto started = std::chrono::steady_clock::now();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  RunResult result;
  if (pipe == nullptr) return result;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) result.output += line;
  const int status = pclose(pipe);
  result.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// "times: connect 0.01 s, start 0.85 s, ..." as name -> seconds.
std::map<std::string, double> Phases(const std::string& output) {
  std::map<std::string, double> phases;
  auto at = output.find("times: ");
  if (at == std::string::npos) return phases;
  const std::string line = output.substr(at + 7, output.find('\n', at) - at - 7);
  size_t from = 0;
  while (from < line.size()) {
    size_t end = line.find(", ", from);
    if (end == std::string::npos) end = line.size();
    const std::string item = line.substr(from, end - from);
    const auto space = item.find(' ');
    if (space != std::string::npos) {
      phases[item.substr(0, space)] = std::atof(item.c_str() + space + 1);
    }
    from = end + 2;
  }
  return phases;
}

std::string MedianAndSpread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  char text[64];
  std::snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", values[values.size() / 2], values.front(),
                values.back());
  return text;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string other = argc > 1 ? argv[1] : "";
  const fs::path dir =
      fs::temp_directory_path() / ("veltexcel-bench-updater-" + std::to_string(getpid()));
  fs::create_directories(dir / "out");
  const std::string rows = (dir / "rows10000.xls").string();
  const std::string demo = (dir / "demo.xls").string();
  const std::string convertProfile = "file://" + (dir / "convert-profile").string();
  const std::string environment =
      "LANG=C LC_ALL=C XDG_CACHE_HOME=" + Quoted((dir / "cache").string()) + " ";
  int code = 0;
  try {
    {
      velt::testsupport::HeadlessDataSheet office = velt::testsupport::StartHeadlessDataSheet();
      office.application->SetScreenUpdating(false, 0);
      velt::WriteTexts(*office.sheet, velt::AddressRows());
      office.application->SetScreenUpdating(true, 0);
      office.workbook->SaveAs(rows);
      auto demoBook = office.application->Add();
      velt::WriteDemoSheet(*demoBook);
      demoBook->SaveAs(demo);
    }
    velt::TmsimProcess tmsim;
    const std::string server = tmsim.Address() + "\\TMS";
    const auto updater = [&](const std::string& workbook, const std::string& program) {
      return Run(environment + Quoted(program) + " --quiet --verbose --server " + Quoted(server) +
                 " " + Quoted(workbook));
    };
    const auto convert = [&](const std::string& workbook, const char* format) {
      return Run(environment + "soffice --headless --norestore --nologo --nodefault " +
                 "-env:UserInstallation=" + convertProfile + " --convert-to " + format +
                 " --outdir " + Quoted((dir / "out").string()) + " " + Quoted(workbook));
    };
    // Warm-up: both profiles are made here.
    for (const std::string& workbook : {demo, rows}) {
      const RunResult first = updater(workbook, VELTEXCEL_UPDATE);
      if (!other.empty()) updater(workbook, other);
      if (first.exitCode != 0) {
        std::cerr << "veltexcel-update exited with " << first.exitCode << "\n" << first.output;
        return 1;
      }
      convert(workbook, "xls");
    }

    struct Figures {
      std::vector<double> run, convertXls, convertCsv, ratioXls, ratioCsv, otherRun, otherRatio;
      std::map<std::string, std::vector<double>> phases;
    };
    std::map<std::string, Figures> figures;
    for (int round = 0; round < 5 && code == 0; ++round) {
      for (const auto& [name, workbook] :
           {std::pair<std::string, std::string>{"demo workbook", demo}, {"10 000 rows", rows}}) {
        const RunResult run = updater(workbook, VELTEXCEL_UPDATE);
        if (run.exitCode != 0) {
          std::cerr << "veltexcel-update exited with " << run.exitCode << "\n" << run.output;
          code = 1;
          break;
        }
        const RunResult xls = convert(workbook, "xls");
        const RunResult csv = convert(workbook, "csv");
        Figures& f = figures[name];
        f.run.push_back(run.wallSeconds);
        f.convertXls.push_back(xls.wallSeconds);
        f.convertCsv.push_back(csv.wallSeconds);
        f.ratioXls.push_back(run.wallSeconds / xls.wallSeconds);
        f.ratioCsv.push_back(run.wallSeconds / csv.wallSeconds);
        for (const auto& [phase, seconds] : Phases(run.output)) f.phases[phase].push_back(seconds);
        if (!other.empty()) {
          const RunResult before = updater(workbook, other);
          f.otherRun.push_back(before.wallSeconds);
          f.otherRatio.push_back(before.wallSeconds / xls.wallSeconds);
          std::printf("round %d, %s: %s %.2f s\n", round + 1, name.c_str(), other.c_str(),
                      before.wallSeconds);
        }
        std::printf("round %d, %s: veltexcel-update %.2f s, convert-to xls %.2f s, csv %.2f s\n",
                    round + 1, name.c_str(), run.wallSeconds, xls.wallSeconds, csv.wallSeconds);
      }
    }
    for (const auto& [name, f] : figures) {
      std::printf("%s, seconds, median (min-max) of %zu rounds:\n", name.c_str(), f.run.size());
      std::printf("  veltexcel-update, whole run         %s\n", MedianAndSpread(f.run).c_str());
      std::printf("  soffice --convert-to xls, kept profile %s\n",
                  MedianAndSpread(f.convertXls).c_str());
      std::printf("  soffice --convert-to csv, kept profile %s\n",
                  MedianAndSpread(f.convertCsv).c_str());
      std::printf("  run / convert-to xls (<= 1.1)      %s\n", MedianAndSpread(f.ratioXls).c_str());
      std::printf("  run / convert-to csv               %s\n", MedianAndSpread(f.ratioCsv).c_str());
      if (!f.otherRun.empty()) {
        std::printf("  %s, whole run %s\n", other.c_str(), MedianAndSpread(f.otherRun).c_str());
        std::printf("  that / convert-to xls              %s\n",
                    MedianAndSpread(f.otherRatio).c_str());
      }
      for (const auto& [phase, values] : f.phases) {
        std::printf("    %-8s %s\n", phase.c_str(), MedianAndSpread(values).c_str());
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "bench_updater: " << e.what() << "\n";
    code = 1;
  }
  fs::remove_all(dir);
  return code;
}
