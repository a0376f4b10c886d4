// The spreadsheet application as the program drives it: an application instance of its own,
// its workbooks, their worksheets and cells. Backends: LibreOffice Calc through UNO
// (LibreOfficeSpreadsheet.h) and an in-memory grid for tests (MemorySpreadsheet.h).
//
// Every operation may fail with SpreadsheetError; callers catch it where they must.
// Rows and columns are 1-based, row first. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace velt {

class SpreadsheetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Calculation modes, by the numbers of the Excel object model.
inline constexpr int32_t xlCalculationManual = -4135;
inline constexpr int32_t xlCalculationAutomatic = -4105;

// Runs a piece of work on the program's own thread. Notifications that the spreadsheet
// application raises on a thread of its own are handed over through this.
using Poster = std::function<void(std::function<void()>)>;

class Worksheet {
 public:
  virtual ~Worksheet() = default;

  virtual std::string Name() = 0;
  virtual void SetName(const std::string& name) = 0;
  // Makes this sheet the active one of its workbook.
  virtual void Select() = 0;

  // The cell's value as text in the user's locale (CellValueText.h):
  // numbers and dates in the locale's form whatever the cell's number format, a formula's
  // result, the empty text for an empty cell.
  virtual std::string CellText(int32_t row, int32_t column) = 0;
  virtual void SetCellNumber(int32_t row, int32_t column, double value) = 0;
  virtual void SetCellInteger(int32_t row, int32_t column, int16_t value) = 0;
  // Stores the text literally: "=1+1" or "001" stay texts.
  virtual void SetCellText(int32_t row, int32_t column, const std::string& text) = 0;
  // False when a write to the cell is certain to fail (a locked cell of a protected sheet), so
  // that a caller can stop before it asks for the value; true promises nothing.
  virtual bool CellWritable(int32_t /*row*/, int32_t /*column*/) { return true; }

  // Width in characters of the default font's digits.
  virtual void SetColumnWidth(int32_t column, double characters) = 0;
};

// A sheet that hands every call on to another: a wrapper overrides only what it changes.
class ForwardingWorksheet : public Worksheet {
 public:
  explicit ForwardingWorksheet(Worksheet& inner) : inner_(inner) {}

  std::string Name() override { return inner_.Name(); }
  void SetName(const std::string& name) override { inner_.SetName(name); }
  void Select() override { inner_.Select(); }
  std::string CellText(int32_t row, int32_t column) override {
    return inner_.CellText(row, column);
  }
  void SetCellNumber(int32_t row, int32_t column, double value) override {
    inner_.SetCellNumber(row, column, value);
  }
  void SetCellInteger(int32_t row, int32_t column, int16_t value) override {
    inner_.SetCellInteger(row, column, value);
  }
  void SetCellText(int32_t row, int32_t column, const std::string& text) override {
    inner_.SetCellText(row, column, text);
  }
  bool CellWritable(int32_t row, int32_t column) override {
    return inner_.CellWritable(row, column);
  }
  void SetColumnWidth(int32_t column, double characters) override {
    inner_.SetColumnWidth(column, characters);
  }

 protected:
  Worksheet& inner_;
};

// How SaveCopyAs writes the formats that hold one sheet or a print of the workbook.
struct CopyOptions {
  std::string sheet;        // .csv and .pdf: the sheet written; .pdf without one: every sheet
  char csvSeparator = ';';  // .csv: between the cells of a row
};

class Workbook {
 public:
  virtual ~Workbook() = default;

  // Saves under a new path; the file format follows the extension (.xls, .xlsx, .ods).
  virtual void SaveAs(const std::string& path) = 0;
  // Saves to the workbook's own file in its own format.
  virtual void Save() = 0;
  // Writes a copy to path and leaves the workbook as it is (its file, format and saved state).
  // The format follows the extension: .xls, .xlsx, .ods as SaveAs; .pdf the application's own
  // PDF export of options.sheet (its print ranges and page setup as the workbook has them);
  // .csv the sheet options.sheet as UTF-8 text, cells as shown, options.csvSeparator between.
  virtual void SaveCopyAs(const std::string& path, const CopyOptions& options) = 0;
  // Marks the workbook unchanged (true) or changed (false).
  virtual void SetSaved(bool saved) = 0;

  // The worksheet of that name; SpreadsheetError when there is none.
  virtual std::shared_ptr<Worksheet> WorksheetByName(const std::string& name) = 0;
  // Adds one new worksheet at the spreadsheet's default position.
  virtual std::shared_ptr<Worksheet> AddWorksheet() = 0;

  // Called, on the program's thread, when the user closes the workbook in the spreadsheet
  // application, while the workbook is still open: the program then closes it (by releasing
  // the application). An empty function unregisters.
  virtual void SetBeforeCloseHandler(std::function<void()> handler) = 0;
  // For a close by the user that the program will not save: when the workbook holds changes of
  // the user's (update passes' writes do not count), asks the user, as the spreadsheet
  // application does, whether to save them, and saves them on yes. false: the user cancelled,
  // and the workbook stays open. Nobody is asked when nobody can answer (no window).
  virtual bool ConfirmUserClose() = 0;
};

// One running instance of the spreadsheet application, started for the program alone.
// Destroying it releases the instance: its workbooks are closed without saving or asking,
// and the application quits.
class Application {
 public:
  virtual ~Application() = default;

  virtual void SetVisible(bool visible) = 0;
  // false: no dialog ever waits for an answer.
  virtual void SetDisplayAlerts(bool alerts) = 0;

  // Opens an existing workbook; SpreadsheetError when it is missing, unreadable or not a
  // spreadsheet. Macros that the workbook carries never run.
  virtual std::shared_ptr<Workbook> Open(const std::string& path) = 0;
  // A new, empty workbook.
  virtual std::shared_ptr<Workbook> Add() = 0;

  // xlCalculationManual or xlCalculationAutomatic. The locale identifier is passed along
  // as the object model takes it; backends do not use it.
  virtual void SetCalculation(int32_t mode, int32_t lcid) = 0;
  // Off holds repainting (and lets a backend batch cell traffic) until it is switched on.
  virtual void SetScreenUpdating(bool on, int32_t lcid) = 0;

  // True while the user is in the middle of something in the application that a pass would
  // break off: typing into a cell, or a dialog of the application open. Backends that cannot
  // tell say false.
  virtual bool UserBusy() { return false; }
  // False once the application has ended under the program (killed, crashed): every later call
  // fails.
  virtual bool Running() { return true; }
};

// Starts new application instances; never attaches to one already running.
class SpreadsheetLauncher {
 public:
  virtual ~SpreadsheetLauncher() = default;
  virtual std::unique_ptr<Application> Start() = 0;
};

}  // namespace velt
