// The spreadsheet interface of Spreadsheet.h backed by LibreOffice Calc, driven through UNO.
//
// Every Start launches a soffice of its own (own profile directory, own pipe, own process
// group) and never attaches to an office already running. Destroying the Application closes
// its documents without saving or asking, quits the office and, if it does not quit within a
// few seconds, ends its process group; the profile directory is removed either way, unless it
// is a kept one (LibreOfficeOptions::keptProfiles).
//
// A LibreOffice that dies or hangs never hangs the program: a call that takes longer than
// callTimeout ends the office, and every later call fails at once with SpreadsheetError.
//
// While screen updating is off, cell reads are served from blocks fetched in bulk and cell
// writes are buffered and stored in bulk; the results are those of cell-by-cell calls. A failure
// of a buffered write is reported by the call that stores the buffer (a read of a written cell,
// switching screen updating on, calculation, and every operation that is not a cell access).
//
// Choices where Calc and Excel differ:
// - SaveAs: .xlsx as "Calc MS Excel 2007 XML", .ods as "calc8", every other name (.xls included)
//   as an Excel 97-2003 workbook ("MS Excel 97"), the normal workbook of the object model.
// - Open accepts what Calc loads as a spreadsheet, except its text (CSV) import for files not
//   named .csv and its HTML import for files not named .htm/.html: Calc "opens" random bytes
//   named .xls that way.
// - AddWorksheet: named "Sheet<n>" (the first free n from the sheet count + 1), inserted before
//   the active sheet, and made active, as in Excel.
// - SetName fails when Calc refuses the name (taken, or / \ : [ ] ? * ...); Calc itself would
//   ignore it silently.
// - A headless instance ignores SetVisible(true). Its documents are hidden, and Calc does not
//   save the active sheet of a hidden document (Select has no lasting effect there).
// - The office locale (number and date display) is that of the program's environment. Cells are
//   read as their value as text in the user's locale (CellValueText.h), not as Calc displays
//   them; an error result reads as the empty text.
//
// Threads: all calls on one thread (the program's). Close notifications arrive on the office's
// threads and are handed to `poster`, which must be safe to call from any thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Spreadsheet.h"

namespace velt {

struct LibreOfficeOptions {
  // false: a visible Calc window when DISPLAY names a working X server; otherwise headless.
  bool headless = true;
  // Delivers BeforeClose notifications to the program's thread; empty: they run directly on
  // the office's thread (the office waits for them, so keep them short).
  Poster poster;
  std::string soffice = "soffice";
  std::chrono::milliseconds startTimeout{60000};
  // A call that takes longer means the office hangs. Loading and saving a document get five
  // times as long.
  std::chrono::milliseconds callTimeout{20000};
  // The user's locale (a Windows locale identifier) in which cells are read as text; 0: the
  // program's environment (UserLocaleId).
  int32_t lcid = 0;
  // Called on the program's thread about every 50 ms while the office starts and while a
  // document loads (a window keeps itself painted with it); empty: the thread just waits.
  std::function<void()> whileWaiting;
  // A folder (LibreOfficeKeptProfileFolder) of office profiles kept between starts, one per
  // instance running at once and never shared while in use: an office starts faster with a
  // profile it made before. A start that fails with one removes it, and the launcher tries once
  // more with it made anew. Empty: a fresh temporary profile for every start.
  std::string keptProfiles;
};

// $XDG_CACHE_HOME/veltexcel (~/.cache/veltexcel); empty when neither is set.
std::string LibreOfficeKeptProfileFolder();

class LibreOfficeLauncher : public SpreadsheetLauncher {
 public:
  explicit LibreOfficeLauncher(LibreOfficeOptions options = {});
  // SpreadsheetError when LibreOffice is missing, exits, or does not come up within
  // startTimeout.
  std::unique_ptr<Application> Start() override;

 private:
  LibreOfficeOptions options_;
};

// What identifies a running instance, for diagnostics and tests.
struct LibreOfficeInstance {
  pid_t processGroup = -1;  // the launcher's pid, also the group id
  std::string profileDir;
  std::string pipeName;                  // accepts UNO connections: "pipe,name=<pipeName>"
  bool canShow = false;                  // started with a window system (not headless)
  std::vector<std::string> socketFiles;  // what the office makes in /tmp while it runs
};

// The instance behind an Application made by LibreOfficeLauncher; nullopt for other backends.
std::optional<LibreOfficeInstance> LibreOfficeInstanceOf(Application& application);

// Whether a process of the instance's group still runs (zombies do not count).
bool LibreOfficeInstanceRunning(const LibreOfficeInstance& instance);

// Calc's width, in 1/100 mm, of a column `characters` digits wide (Excel's ColumnWidth).
int32_t LibreOfficeColumnWidth(double characters);

}  // namespace velt
