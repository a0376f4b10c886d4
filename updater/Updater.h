// veltexcel-update: the update pass for unattended runs. Connects to the TM server, opens the
// workbook in a spreadsheet application of its own, runs the pass once or on a cycle, saves,
// and quits. It never creates a workbook and never asks a question.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "LinkEvents.h"
#include "Spreadsheet.h"
#include "TmOperations.h"

namespace velt {

// Exit codes of veltexcel-update.
enum UpdaterExit : int {
  kExitDone = 0,
  kExitSpreadsheetFailed = 1,
  kExitBadArguments = 2,
  kExitNoConnection = 3,
  kExitNoWorkbook = 4,
  // A --save-as file could not be written; the workbook and the other files were.
  kExitOutputFailed = 5,
};

struct UpdaterOptions {
  std::string server;
  std::string workbook;
  std::optional<int> cycleSeconds;  // absent: one pass
  // Files written after each pass besides the workbook (.xls .xlsx .ods .pdf .csv), in order;
  // date fields in their names are expanded when the pass ends.
  std::vector<std::string> saveAs;
  bool noSave = false;      // the workbook itself is not saved
  char csvSeparator = ';';  // between the cells of a .csv
  bool quiet = false;       // no progress bar
  bool verbose = false;     // the details behind each failure (office and library texts) on stderr
};

// The parsed options, or the exit code and the text to print (help goes to stdout with code 0;
// errors to stderr with kExitBadArguments).
struct ParseOutcome {
  int exitCode = kExitDone;
  std::string text;
};
std::variant<UpdaterOptions, ParseOutcome> ParseUpdaterArguments(
    const std::vector<std::string>& args);

// What the run needs from the outside world.
struct UpdaterContext {
  SpreadsheetLauncher& launcher;
  TmOperations& tm;
  // Opens the connection; true when connected.
  std::function<bool(const std::string& server)> connect;
  // What the connection library reported since the last call, in order: its link events (why a
  // connection failed, a lost link, a reconnection) and, as kOther, the server's messages. May
  // be empty.
  std::function<std::vector<LinkEvent>()> takeLinkEvents;
  std::function<void()> disconnect;
  // Waits up to the given number of seconds; true when a stop was requested meanwhile.
  std::function<bool(int seconds)> waitForStop;
  // Whether a stop was requested (checked between passes).
  std::function<bool()> stopRequested;
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;  // err is a terminal: draw a progress bar there
  int32_t lcid = 0x0409;
};

int RunUpdater(const UpdaterOptions& options, UpdaterContext& context);

}  // namespace velt
