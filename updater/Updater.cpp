#include "Updater.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <utility>

#include "DataSheet.h"
#include "Grammar.h"
#include "LinkEvents.h"
#include "LocalTime.h"
#include "Preflight.h"
#include "Progress.h"
#include "SaveTargets.h"
#include "Translation.h"
#include "UpdateSheet.h"
#include "WorkbookLocked.h"

namespace velt {

namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(Clock::duration elapsed) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", std::chrono::duration<double>(elapsed).count());
  return buffer;
}

// Local time in ISO 8601 with the offset from UTC: 2026-12-01T12:00:05+03:00.
std::string LocalTimestamp() {
  std::string text = LocalTimeText("%Y-%m-%dT%H:%M:%S%z");
  if (text.size() >= 5) text.insert(text.size() - 2, ":");  // +0300 -> +03:00
  return text;
}

// The run's messages on stderr: each failure says what happened in a sentence; the office's or
// library's own text behind it only with --verbose.
class Report {
 public:
  Report(std::ostream& err, bool verbose) : err_(err), verbose_(verbose) {}
  void Error(const std::string& sentence) { err_ << "veltexcel-update: " << sentence << "\n"; }
  void Event(const std::string& sentence) {
    err_ << LocalTimestamp() << " veltexcel-update: " << sentence << std::endl;
  }
  void Detail(const std::string& text) {
    if (verbose_ && !text.empty()) err_ << "veltexcel-update: " << Tr("details: ") << text << "\n";
  }

 private:
  std::ostream& err_;
  bool verbose_;
};

// Rows examined and the time taken, redrawn at most ten times a second, cleared when the pass
// ends. The pass's own bar model is scaled by the previous pass, so it cannot show a share.
class TerminalBar {
 public:
  TerminalBar(ProgressBarModel& model, const PassStatistics& statistics, std::ostream& err,
              bool enabled)
      : model_(model), statistics_(statistics), err_(err), started_(Clock::now()) {
    if (enabled) model_.SetChangeHandler([this] { Draw(); });
  }
  ~TerminalBar() {
    model_.SetChangeHandler({});
    if (width_ > 0) err_ << "\r" << std::string(width_, ' ') << "\r" << std::flush;
  }

 private:
  void Draw() {
    const auto now = Clock::now();
    if (width_ > 0 && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    const std::string text =
        Tr("rows examined: {}, {} s",
           {std::to_string(statistics_.rowsExamined), Seconds(now - started_)});
    err_ << "\r" << text << std::flush;
    width_ = std::max(width_, text.size());
  }

  ProgressBarModel& model_;
  const PassStatistics& statistics_;
  std::ostream& err_;
  Clock::time_point started_;
  Clock::time_point drawn_{};
  size_t width_ = 0;
};

// ", label N" when rows were skipped; nothing otherwise, so that a clean sheet's line is short.
std::string Skipped(const char* label, const std::vector<int32_t>& rows) {
  return rows.empty() ? std::string() : label + std::to_string(rows.size());
}

// "label 3, 7, 12", or nothing without rows.
std::string RowList(const std::string& label, const std::vector<int32_t>& rows) {
  if (rows.empty()) return {};
  std::string text = label;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(rows[i]);
  }
  return text;
}

// Where a run's time goes, for --verbose: what is the office's and what is ours.
struct RunTimes {
  Clock::duration connect{}, start{}, open{}, pass{}, save{}, quit{};

  // Runs f and adds its time to `into`.
  template <class F>
  static auto Timed(Clock::duration& into, F f) -> decltype(f()) {
    const auto started = Clock::now();
    struct Add {
      Clock::duration& into;
      Clock::time_point started;
      ~Add() { into += Clock::now() - started; }
    } add{into, started};
    return f();
  }

  std::string Text() const {
    return "connect " + Seconds(connect) + " s, start " + Seconds(start) + " s, open " +
           Seconds(open) + " s, pass " + Seconds(pass) + " s, save " + Seconds(save) + " s, quit " +
           Seconds(quit) + " s";
  }
};

// The workbook held for the run: the application, the workbook and its data sheet.
struct UpdaterWorkbook {
  std::unique_ptr<Application> application;
  std::shared_ptr<Workbook> workbook;
  std::shared_ptr<Worksheet> sheet;
};

// Opens the workbook and binds the data sheet; an exit code other than kExitDone after
// printing why not.
int OpenSheet(const std::string& path, UpdaterContext& context, Report& report,
              UpdaterWorkbook& link, RunTimes& times) {
  try {
    link.application = RunTimes::Timed(times.start, [&] { return context.launcher.Start(); });
  } catch (const SpreadsheetError& e) {
    // These texts are the backend's own sentences (LibreOffice missing, no profile folder).
    report.Error(Tr("cannot start the spreadsheet application: {}", {e.what()}));
    return kExitNoWorkbook;
  }
  try {
    link.application->SetDisplayAlerts(false);
    link.workbook = RunTimes::Timed(times.open, [&] { return link.application->Open(path); });
  } catch (const WorkbookLockedError& e) {
    report.Error(
        Tr("the workbook {} is open in another LibreOffice: {} on {}, since {} (lock "
           "file {}). Close it there and run again; if no LibreOffice runs there any "
           "more, delete the lock file",
           {path, e.holder, e.host, e.since, e.lockFile}));
    return kExitNoWorkbook;
  } catch (const SpreadsheetError& e) {
    report.Error(
        Tr("cannot open the workbook {}: it is not a spreadsheet, or it is damaged, or "
           "another program holds it open",
           {path}));
    report.Detail(e.what());
    return kExitNoWorkbook;
  }
  try {
    link.sheet = link.workbook->WorksheetByName(kDataSheetName);
  } catch (const SpreadsheetError&) {
    report.Error(Tr("the workbook {} has no sheet \"{}\"", {path, kDataSheetName}));
    return kExitNoWorkbook;
  }
  return kExitDone;
}

// Follows the connection library's messages: why a connection attempt failed, and when the
// link was lost or came back. A cycle run reports each change once, not every pass.
class LinkWatch {
 public:
  LinkWatch(UpdaterContext& context, Report& report) : context_(context), report_(report) {}

  // Reads what the library said since the last look.
  void Look() {
    if (!context_.takeLinkEvents) return;
    for (const LinkEvent& event : context_.takeLinkEvents()) {
      switch (event.kind) {
        case LinkEventKind::kConnected:
          if (!up_ && !connecting_)
            report_.Event(Tr("the connection to the TM server is back ({})", {event.where}));
          up_ = true;
          break;
        case LinkEventKind::kLost:
          lost_ = true;
          if (up_ && !connecting_) {
            report_.Event(
                Tr("the connection to the TM server was lost ({}); values not received "
                   "are marked \"{}\"",
                   {event.where, kNoValue}));
          }
          // A link that breaks during the connect (garbage, a wrong answer after the
          // handshake) is the reason the connect failed, and said with it.
          if (connecting_)
            failures_.push_back(event);
          else
            report_.Detail(EscapeControls(LinkEventText(event) +
                                          (event.detail.empty() ? "" : " (" + event.detail + ")")));
          up_ = false;
          break;
        case LinkEventKind::kOther:
          report_.Detail(EscapeControls(Tr("the TM server says: {}", {event.detail})));
          break;
        default:
          // Only the attempts of a connect are told, with the connect's failure; the library's
          // own retries during an outage would repeat the same line for every request.
          if (connecting_) failures_.push_back(event);
          break;
      }
    }
  }

  // Connects, saying why not when it fails (once while the cause stays the same).
  bool Connect(const std::string& server) {
    failures_.clear();
    const bool connected = context_.connect(server);
    connecting_ = true;
    Look();
    connecting_ = false;
    up_ = connected;
    if (connected) {
      lost_ = false;
      if (reported_) report_.Event(Tr("connected to the TM server \"{}\"", {server}));
      reported_.reset();
      return true;
    }
    std::string why = Tr("no connection to the TM server \"{}\"", {server});
    if (!failures_.empty()) why += "\n  " + LinkFailuresText(failures_, "\n  ");
    if (why != reported_) report_.Error(why);
    reported_ = why;
    return false;
  }

  // Whether the link was lost since the last call.
  bool TakeLost() {
    Look();
    return std::exchange(lost_, false);
  }

 private:
  UpdaterContext& context_;
  Report& report_;
  bool up_ = false;
  bool lost_ = false;
  bool connecting_ = false;
  std::vector<LinkEvent> failures_;
  std::optional<std::string> reported_;  // the last failure reported
};

// Writes the --save-as files after a pass, each on its own: one that fails is reported by its
// name and the others are still written. The number that failed.
int WriteCopies(const UpdaterOptions& options, Report& report, UpdaterWorkbook& link) {
  const std::tm ended = LocalNow();
  CopyOptions copy;
  copy.sheet = kDataSheetName;
  copy.csvSeparator = options.csvSeparator;
  int failed = 0;
  for (const std::string& target : options.saveAs) {
    const std::string path = ExpandDateFields(target, ended);
    try {
      link.workbook->SaveCopyAs(path, copy);
    } catch (const SpreadsheetError& e) {
      ++failed;
      report.Error(
          Tr("--save-as: writing {} failed; the workbook and the other files are not "
             "affected",
             {path}));
      report.Detail(e.what());
    }
  }
  return failed;
}

// One pass, the save after it and the --save-as files; false when the spreadsheet failed.
// copiesFailed counts the --save-as files that could not be written.
bool PassAndSave(const UpdaterOptions& options, UpdaterContext& context, Report& report,
                 UpdaterWorkbook& link, int& copiesFailed, RunTimes& times) {
  const auto started = Clock::now();
  char systemTime[81] = {};
  context.tm.tmaSystemTime(systemTime, 0);

  ProgressBarModel model;
  PassStatistics statistics;
  bool failed = false;
  std::string problem, detail;
  {
    TerminalBar bar(model, statistics, context.err, context.terminal && !options.quiet);
    try {
      const auto pass = RunTimes::Timed(times.pass, [&] {
        return UpdateSheet(*link.application, context.lcid, *link.sheet, model, context.tm,
                           &statistics);
      });
      failed = !pass.ok();
      detail = pass.error().text;
    } catch (const SpreadsheetError& e) {
      failed = true;
      detail = e.what();
    }
  }
  if (failed)
    problem = Tr("the spreadsheet application failed during the pass; the workbook was not saved");

  int copies = 0;
  if (!failed) {
    try {
      RunTimes::Timed(times.save, [&] {
        if (!options.noSave) link.workbook->Save();
      });
    } catch (const SpreadsheetError& e) {
      failed = true;
      problem = Tr("saving the workbook failed");
      detail = e.what();
    }
    copies = WriteCopies(options, report, link);
    copiesFailed += copies;
  }

  if (options.cycleSeconds) context.out << LocalTimestamp() << " ";
  context.out << "rows examined: " << statistics.rowsExamined
              << ", values written: " << statistics.valuesWritten
              << ", \"н\\д\" markers: " << statistics.noValueWritten
              << Skipped(", rows not understood: ", statistics.rowsNotUnderstood)
              << Skipped(", out of range: ", statistics.rowsOutOfRange)
              << ", spreadsheet: " << (failed ? "FAILED" : "ok")
              << (copies > 0 ? ", files not written: " + std::to_string(copies) : std::string())
              << ", " << Seconds(Clock::now() - started) << " s" << std::endl;
  report.Detail(RowList(Tr("rows not understood (neither an address, a command nor empty): "),
                        statistics.rowsNotUnderstood));
  report.Detail(RowList(Tr("rows whose address is out of range: "), statistics.rowsOutOfRange));
  if (failed) {
    report.Error(problem);
    if (!detail.empty()) report.Detail(detail);
  }
  return !failed;
}

// The --csv-separator text as the character: one printable ASCII character but the quote
// that encloses texts, or a tab.
std::optional<char> CsvSeparator(const std::string& text) {
  if (text == "tab" || text == "\t") return '\t';
  if (text.size() != 1 || text[0] == '"' || text[0] < 0x20 || text[0] > 0x7E) return std::nullopt;
  return text[0];
}

}  // namespace

std::variant<UpdaterOptions, ParseOutcome> ParseUpdaterArguments(
    const std::vector<std::string>& args) {
  UpdaterOptions options;
  int cycle = 0;
  std::string separator = ";";
  CLI::App app{Tr("Fills the sheet \"{}\" of a workbook with telemetry from a TM server, once or "
                  "on a cycle, and saves it.\nExit codes: 0 done, 1 the spreadsheet failed, 2 bad "
                  "arguments, 3 no connection to the server (or, in a single run, the connection "
                  "was lost during the pass), 4 the workbook cannot be opened or saved, or has no "
                  "sheet \"{}\", 5 a --save-as file could not be written (the workbook and the "
                  "other files were).",
                  {kDataSheetName, kDataSheetName}),
               "veltexcel-update"};
  app.add_option("--server", options.server,
                 Tr("server text: HOST[:PORT][\\NAME], or the pair form A{B}"))
      ->required();
  app.add_option("workbook", options.workbook, Tr("the workbook to fill (it must exist)"))
      ->required();
  auto* cycleOption = app.add_option("--cycle", cycle,
                                     Tr("repeat every SECONDS until stopped; a server that is "
                                        "down is tried again on every cycle"))
                          ->check(CLI::Range(1, 86400));
  app.add_option("--save-as", options.saveAs,
                 Tr("after each pass also write PATH: a copy (.xls, .xlsx, .ods), the office's "
                    "PDF export of the sheet (.pdf) or the sheet as UTF-8 CSV (.csv); date fields "
                    "%Y %m %d %H %M %S %j %u %V and %% in the file name are the time the pass "
                    "ended; may be given several times"))
      ->allow_extra_args(false)
      ->take_all();
  app.add_flag("--no-save", options.noSave, Tr("do not save WORKBOOK itself"));
  app.add_option("--csv-separator", separator,
                 Tr("the character between the cells of a .csv (\"tab\" for a tab); default ;"));
  app.add_flag("--quiet,-q", options.quiet, Tr("no progress bar"));
  app.add_flag("--verbose,-v", options.verbose, Tr("the details behind each failure"));
  app.set_version_flag("--version", std::string("veltexcel-update ") + VELT_VERSION);

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
  for (const std::string& target : options.saveAs) {
    if (target.empty()) return ParseOutcome{kExitBadArguments, "--save-as needs a path\n"};
  }
  if (const auto character = CsvSeparator(separator)) {
    options.csvSeparator = *character;
  } else {
    return ParseOutcome{
        kExitBadArguments,
        Tr("--csv-separator {}: give one character other than the quotation mark, or \"tab\"\n",
           {separator})};
  }
  if (options.workbook.empty())
    return ParseOutcome{kExitBadArguments, "the workbook path is empty\n"};
  return options;
}

int RunUpdater(const UpdaterOptions& options, UpdaterContext& context) {
  Report report(context.err, options.verbose);
  std::error_code ec;
  const auto path = std::filesystem::absolute(options.workbook, ec);
  if (const auto checked =
          CheckPaths(ec ? options.workbook : path.string(), options.saveAs, !options.noSave);
      !checked.ok()) {
    report.Error(checked.error().text);
    return checked.error().code;
  }

  // A single run gives up at once; a cycle run tries again on every cycle.
  LinkWatch watch(context, report);
  RunTimes times;
  while (!RunTimes::Timed(times.connect, [&] { return watch.Connect(options.server); })) {
    if (!options.cycleSeconds || context.stopRequested() ||
        context.waitForStop(*options.cycleSeconds)) {
      return kExitNoConnection;
    }
  }

  int code = kExitDone;
  {
    UpdaterWorkbook link;
    code = OpenSheet(path.string(), context, report, link, times);
    int copiesFailed = 0;
    while (code == kExitDone) {
      if (!PassAndSave(options, context, report, link, copiesFailed, times))
        code = kExitSpreadsheetFailed;
      // A single run whose pass lost the link saved what it had, but did not finish its job.
      if (watch.TakeLost() && !options.cycleSeconds && code == kExitDone) code = kExitNoConnection;
      if (!options.cycleSeconds || code != kExitDone || context.stopRequested()) break;
      if (context.waitForStop(*options.cycleSeconds)) break;
    }
    // The link goes in this order: sheet, workbook, then the application, which quits.
    link.sheet.reset();
    link.workbook.reset();
    RunTimes::Timed(times.quit, [&] { link.application.reset(); });
    // A file that could not be written leaves the run's own result unless that is worse.
    if (code == kExitDone && copiesFailed > 0) code = kExitOutputFailed;
  }
  context.disconnect();
  if (options.verbose) context.err << "veltexcel-update: " << Tr("times: ") << times.Text() << "\n";
  return code;
}

}  // namespace velt
