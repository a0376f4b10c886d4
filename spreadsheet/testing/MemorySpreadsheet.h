// An in-memory spreadsheet application with the interface of Spreadsheet.h, for tests of the
// update pass, the workbook operations and the windows. It keeps a grid of cells with the text
// each one displays, a store of "files", a log of every call, and faults that a test arms:
// fail the n-th call, fail every call from the n-th on, fail the reads or writes of one cell,
// fail every call of one operation, or fail the calls that do a given thing ("the second read
// of A1", "the write into C12", "the reads of column 3, rows 10 to 20").
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Spreadsheet.h"

namespace velt {

struct MemoryCell {
  enum class Kind { Empty, Number, Text };
  Kind kind = Kind::Empty;
  double number = 0;
  // Text cells: the text. Number cells: the text displayed for the number.
  std::string text;
  bool integer = false;  // written through SetCellInteger

  bool operator==(const MemoryCell&) const = default;
};

// The text displayed for a number in the default format (up to 15 significant digits,
// "." as the decimal separator, no exponent for ordinary magnitudes).
std::string MemoryNumberText(double value);

struct MemorySheetData {
  std::string name;
  std::map<std::pair<int32_t, int32_t>, MemoryCell> cells;  // (row, column)
  std::map<int32_t, double> columnWidths;
};

struct MemoryWorkbookData {
  std::vector<MemorySheetData> sheets;
  std::string activeSheet;
};

// One logged call. `op` names the operation: "start", "visible", "alerts", "open", "add",
// "calculation", "screenupdating", "quit", "saveas", "save", "saved", "sheet", "addsheet",
// "name", "select", "read", "write", "width", "confirmclose", "userbusy". `detail` carries its
// argument as text.
struct MemoryCall {
  std::string op;
  int32_t row = 0;
  int32_t column = 0;
  std::string detail;
};

class MemoryOffice;

class MemoryWorksheet : public Worksheet {
 public:
  MemoryWorksheet(MemoryOffice& office, std::string name);

  std::string Name() override;
  void SetName(const std::string& name) override;
  void Select() override;
  std::string CellText(int32_t row, int32_t column) override;
  void SetCellNumber(int32_t row, int32_t column, double value) override;
  void SetCellInteger(int32_t row, int32_t column, int16_t value) override;
  void SetCellText(int32_t row, int32_t column, const std::string& text) override;
  void SetColumnWidth(int32_t column, double characters) override;

  // Direct access for tests: neither logged nor subject to faults.
  void Put(int32_t row, int32_t column, const std::string& text);
  void PutNumber(int32_t row, int32_t column, double value, const std::string& displayed);
  MemoryCell Get(int32_t row, int32_t column) const;
  std::string Text(int32_t row, int32_t column) const { return Get(row, column).text; }
  MemorySheetData& Data() { return data_; }
  const MemorySheetData& Data() const { return data_; }
  bool Selected() const;

 private:
  friend class MemoryWorkbook;
  void Write(int32_t row, int32_t column, MemoryCell cell, const std::string& detail);

  MemoryOffice& office_;
  MemorySheetData data_;
  class MemoryWorkbook* owner_ = nullptr;
};

class MemoryWorkbook : public Workbook, public std::enable_shared_from_this<MemoryWorkbook> {
 public:
  explicit MemoryWorkbook(MemoryOffice& office);

  void SaveAs(const std::string& path) override;
  void Save() override;
  // Logged as "savecopy": the file gets the workbook's cells whatever the format.
  void SaveCopyAs(const std::string& path, const CopyOptions& options) override;
  void SetSaved(bool saved) override;
  std::shared_ptr<Worksheet> WorksheetByName(const std::string& name) override;
  std::shared_ptr<Worksheet> AddWorksheet() override;
  void SetBeforeCloseHandler(std::function<void()> handler) override;
  // Logged as "confirmclose" ("asked" when the workbook is changed). Unchanged: true. Changed:
  // the office's scripted answer (SetUserCloseAnswer); Save saves to the workbook's path first.
  bool ConfirmUserClose() override;

  // For tests.
  const std::string& Path() const { return path_; }
  bool IsSaved() const { return saved_; }
  bool IsClosed() const { return closed_; }
  std::shared_ptr<MemoryWorksheet> Sheet(const std::string& name) const;
  std::shared_ptr<MemoryWorksheet> AddSheetDirect(const std::string& name);
  const std::vector<std::shared_ptr<MemoryWorksheet>>& Sheets() const { return sheets_; }
  const std::string& ActiveSheet() const { return active_; }
  // The user closes the workbook in the application, as the LibreOffice backend reports it:
  // the handler runs (through the office's poster) while the workbook is still open, and the
  // program closes it by releasing the application. Without a handler the workbook is gone at
  // once for every later call.
  void CloseByUser();

 private:
  friend class MemoryWorksheet;
  friend class MemoryApplication;
  MemoryWorkbookData Snapshot() const;
  void Load(const MemoryWorkbookData& data);
  void Check(const char* op, const std::string& detail = {});

  MemoryOffice& office_;
  std::vector<std::shared_ptr<MemoryWorksheet>> sheets_;
  std::string path_;
  std::string active_;
  std::function<void()> beforeClose_;
  bool saved_ = true;
  bool savedBeforeBatch_ = true;
  bool closed_ = false;
  bool closeRequested_ = false;
  int nextSheetNumber_ = 1;
};

class MemoryApplication : public Application {
 public:
  explicit MemoryApplication(MemoryOffice& office);
  ~MemoryApplication() override;

  void SetVisible(bool visible) override;
  void SetDisplayAlerts(bool alerts) override;
  std::shared_ptr<Workbook> Open(const std::string& path) override;
  std::shared_ptr<Workbook> Add() override;
  void SetCalculation(int32_t mode, int32_t lcid) override;
  void SetScreenUpdating(bool on, int32_t lcid) override;
  // Logged as "userbusy"; the office's scripted answer (SetUserBusy).
  bool UserBusy() override;
  // False after MemoryOffice::Kill; not logged.
  bool Running() override;

  // For tests.
  bool Visible() const { return visible_; }
  bool DisplayAlerts() const { return alerts_; }
  int32_t Calculation() const { return calculation_; }
  bool ScreenUpdating() const { return screenUpdating_; }
  const std::vector<std::shared_ptr<MemoryWorkbook>>& Workbooks() const { return workbooks_; }

 private:
  MemoryOffice& office_;
  std::vector<std::shared_ptr<MemoryWorkbook>> workbooks_;
  bool visible_ = false;
  bool alerts_ = true;
  int32_t calculation_ = xlCalculationAutomatic;
  bool screenUpdating_ = true;
  bool passHeld_ = false;
  void HoldForPass();
  void ReleaseAfterPass();
};

// The world of the in-memory backend: the launcher, the file store, the call log and the
// armed faults. Objects it hands out refer to it; it must outlive them.
class MemoryOffice : public SpreadsheetLauncher {
 public:
  enum class Access { Read, Write };

  std::unique_ptr<Application> Start() override;

  // Files.
  void PutFile(const std::string& path, MemoryWorkbookData data) { files_[path] = std::move(data); }
  bool HasFile(const std::string& path) const { return files_.count(path) != 0; }
  const MemoryWorkbookData& File(const std::string& path) const { return files_.at(path); }
  void RemoveFile(const std::string& path) { files_.erase(path); }

  // Faults. Calls are counted from the office's creation; every logged call counts.
  void FailCall(int64_t n) { failCalls_.insert(n); }
  void FailFromCall(int64_t n) { failFrom_ = n; }
  void FailOperation(const std::string& op) { failOps_.insert(op); }
  // The calls a fault covers: by operation as the log names it ("read", "write",
  // "screenupdating", ...), and optionally by the log's detail and the cells touched; Nth(n)
  // narrows it to the n-th call that matches.
  class Fault {
   public:
    // Every call of `op` (whose detail is `detail`, unless that is empty).
    static Fault Of(std::string op, std::string detail = {});
    // The calls of `op` on one cell, or on rows firstRow..lastRow of one column.
    static Fault At(std::string op, int32_t row, int32_t column);
    static Fault InColumn(std::string op, int32_t column, int32_t firstRow, int32_t lastRow);
    Fault& Nth(int n) {
      nth_ = n;
      return *this;
    }

   private:
    friend class MemoryOffice;
    bool Matches(const std::string& op, int32_t row, int32_t column,
                 const std::string& detail) const;
    std::string op_, detail_;
    int32_t column_ = 0, firstRow_ = 0, lastRow_ = 0;  // 0: any
    int nth_ = 0;                                      // 0: every matching call
    int seen_ = 0;
  };
  void Fail(Fault fault) { faults_.push_back(std::move(fault)); }
  void FailCell(int32_t row, int32_t column, Access access) {
    Fail(Fault::At(access == Access::Read ? "read" : "write", row, column));
  }
  void ClearFaults();
  int64_t CallCount() const { return calls_; }

  const std::vector<MemoryCall>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  // How often the cell was read or written since the log was last cleared.
  int CountOf(const std::string& op, int32_t row, int32_t column) const;

  // Running applications (started and not yet released).
  int Running() const { return running_; }
  MemoryApplication* LastApplication() const { return last_; }

  // How BeforeClose handlers are delivered; by default they run at once.
  void SetPoster(Poster poster) { poster_ = std::move(poster); }
  // The user's answer when ConfirmUserClose asks about a changed workbook.
  enum class CloseAnswer { Save, DontSave, Cancel };
  void SetUserCloseAnswer(CloseAnswer answer) { closeAnswer_ = answer; }
  // How long every call takes, as a real office's calls do (none by default).
  void SetCallCost(std::chrono::microseconds cost) { callCost_ = cost; }
  // Whether the user is typing into a cell or has a dialog open, asked at each UserBusy.
  void SetUserBusy(std::function<bool()> busy) { userBusy_ = std::move(busy); }
  // The running application ends under the program: every later call fails and Running says
  // false, until a new application starts.
  void Kill() {
    killed_ = true;
    FailFromCall(calls_ + 1);
  }

 private:
  friend class MemoryApplication;
  friend class MemoryWorkbook;
  friend class MemoryWorksheet;
  // Logs the call and throws SpreadsheetError when a fault covers it.
  void Call(const char* op, int32_t row, int32_t column, const std::string& detail);

  std::map<std::string, MemoryWorkbookData> files_;
  std::set<int64_t> failCalls_;
  std::optional<int64_t> failFrom_;
  std::set<std::string> failOps_;
  std::vector<Fault> faults_;
  int64_t calls_ = 0;
  std::vector<MemoryCall> log_;
  int running_ = 0;
  MemoryApplication* last_ = nullptr;
  Poster poster_;
  CloseAnswer closeAnswer_ = CloseAnswer::DontSave;
  std::function<bool()> userBusy_;
  std::chrono::microseconds callCost_{0};
  bool killed_ = false;
};

}  // namespace velt
