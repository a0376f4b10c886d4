#include "Updater.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>

#include "DataSheet.h"
#include "Progress.h"
#include "UpdateSheet.h"

namespace velt {

namespace {

// A text bar on the terminal, redrawn only when the shown percentage changes.
class TerminalBar {
 public:
  TerminalBar(ProgressBarModel& model, std::ostream& err, bool enabled)
      : model_(model), err_(err), enabled_(enabled) {
    if (enabled_) model_.SetChangeHandler([this] { Draw(); });
  }
  ~TerminalBar() {
    model_.SetChangeHandler({});
    if (drawn_) err_ << "\r" << std::string(kWidth + 8, ' ') << "\r" << std::flush;
  }

 private:
  static constexpr int kWidth = 40;

  void Draw() {
    const int maximum = std::max(1, model_.Maximum());
    const int percent = static_cast<int>(100LL * model_.Position() / maximum);
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent * kWidth / 100;
    err_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kWidth - filled), ' ') << "] " << percent << "%"
         << std::flush;
    drawn_ = true;
  }

  ProgressBarModel& model_;
  std::ostream& err_;
  bool enabled_;
  int shown_ = -1;
  bool drawn_ = false;
};

std::string Seconds(std::chrono::steady_clock::duration elapsed) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", std::chrono::duration<double>(elapsed).count());
  return buffer;
}

// The workbook held for the run: the application, the workbook and its data sheet.
struct UpdaterWorkbook {
  std::unique_ptr<Application> application;
  std::shared_ptr<Workbook> workbook;
  std::shared_ptr<Worksheet> sheet;
};

// Opens the workbook and binds the data sheet; an exit code other than kExitDone after
// printing why not.
int OpenSheet(const std::string& path, UpdaterContext& context, UpdaterWorkbook& link) {
  try {
    link.application = context.launcher.Start();
  } catch (const SpreadsheetError& e) {
    context.err << "veltexcel-update: cannot start the spreadsheet application: " << e.what()
                << "\n";
    return kExitNoWorkbook;
  }
  try {
    link.application->SetDisplayAlerts(false);
    link.workbook = link.application->Open(path);
  } catch (const SpreadsheetError& e) {
    context.err << "veltexcel-update: cannot open the workbook " << path << ": " << e.what()
                << "\n";
    return kExitNoWorkbook;
  }
  try {
    link.sheet = link.workbook->WorksheetByName(kDataSheetName);
  } catch (const SpreadsheetError&) {
    context.err << "veltexcel-update: the workbook " << path << " has no sheet \"" << kDataSheetName
                << "\"\n";
    return kExitNoWorkbook;
  }
  return kExitDone;
}

// One pass and the save after it; false when the spreadsheet failed.
bool PassAndSave(const UpdaterOptions& options, UpdaterContext& context, UpdaterWorkbook& link,
                 bool& savedAs) {
  const auto started = std::chrono::steady_clock::now();
  char systemTime[81] = {};
  context.tm.tmaSystemTime(systemTime, 0);

  ProgressBarModel model;
  PassStatistics statistics;
  bool failed = false;
  std::string problem;
  {
    TerminalBar bar(model, context.err, context.terminal && !options.quiet);
    try {
      failed =
          UpdateSheet(*link.application, context.lcid, *link.sheet, model, context.tm, &statistics);
    } catch (const SpreadsheetError& e) {
      failed = true;
      problem = e.what();
    }
  }
  if (failed && problem.empty()) problem = "a spreadsheet call failed during the pass";

  if (!failed) {
    try {
      if (options.saveAs && !savedAs) {
        link.workbook->SaveAs(*options.saveAs);
        savedAs = true;
      } else {
        link.workbook->Save();
      }
    } catch (const SpreadsheetError& e) {
      failed = true;
      problem = std::string("saving failed: ") + e.what();
    }
  }

  context.out << "rows examined: " << statistics.rowsExamined
              << ", values written: " << statistics.valuesWritten
              << ", \"н\\д\" markers: " << statistics.noValueWritten
              << ", spreadsheet: " << (failed ? "FAILED" : "ok") << ", "
              << Seconds(std::chrono::steady_clock::now() - started) << " s" << std::endl;
  if (failed) context.err << "veltexcel-update: " << problem << "\n";
  return !failed;
}

}  // namespace

std::variant<UpdaterOptions, ParseOutcome> ParseUpdaterArguments(
    const std::vector<std::string>& args) {
  UpdaterOptions options;
  int cycle = 0;
  std::string saveAs;
  CLI::App app{
      "Fills the sheet \"ВЕЛТ\" of a workbook with telemetry from a TM server, once or on a "
      "cycle, and saves it.\nExit codes: 0 done, 1 the spreadsheet failed, 2 bad arguments, "
      "3 no connection to the server, 4 the workbook cannot be opened or has no sheet "
      "\"ВЕЛТ\".",
      "veltexcel-update"};
  app.add_option("--server", options.server,
                 "server text: HOST[:PORT][\\NAME], or the pair form A{B}")
      ->required();
  app.add_option("workbook", options.workbook, "the workbook to fill (it must exist)")->required();
  auto* cycleOption = app.add_option("--cycle", cycle, "repeat every SECONDS until stopped")
                          ->check(CLI::Range(1, 86400));
  auto* saveAsOption = app.add_option("--save-as", saveAs, "save to PATH instead of WORKBOOK");
  app.add_flag("--quiet,-q", options.quiet, "no progress bar");

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, err;
    const int code = app.exit(e, out, err);
    if (code == 0) return ParseOutcome{kExitDone, out.str()};
    return ParseOutcome{kExitBadArguments, err.str()};
  }
  if (cycleOption->count() > 0) options.cycleSeconds = cycle;
  if (saveAsOption->count() > 0) {
    if (saveAs.empty()) return ParseOutcome{kExitBadArguments, "--save-as needs a path\n"};
    options.saveAs = saveAs;
  }
  if (options.workbook.empty())
    return ParseOutcome{kExitBadArguments, "the workbook path is empty\n"};
  return options;
}

int RunUpdater(const UpdaterOptions& options, UpdaterContext& context) {
  std::error_code ec;
  const auto path = std::filesystem::absolute(options.workbook, ec);
  if (ec || !std::filesystem::is_regular_file(path, ec)) {
    context.err << "veltexcel-update: no workbook at " << options.workbook << "\n";
    return kExitNoWorkbook;
  }

  if (!context.connect(options.server)) {
    context.err << "veltexcel-update: no connection to the TM server \"" << options.server
                << "\"\n";
    return kExitNoConnection;
  }

  int code = kExitDone;
  {
    UpdaterWorkbook link;
    code = OpenSheet(path.string(), context, link);
    bool savedAs = false;
    while (code == kExitDone) {
      if (!PassAndSave(options, context, link, savedAs)) code = kExitSpreadsheetFailed;
      if (!options.cycleSeconds || code != kExitDone || context.stopRequested()) break;
      if (context.waitForStop(*options.cycleSeconds)) break;
    }
    // The link goes in this order: sheet, workbook, then the application, which quits.
    link.sheet.reset();
    link.workbook.reset();
    link.application.reset();
  }
  context.disconnect();
  return code;
}

}  // namespace velt
