#include "MemorySpreadsheet.h"

#include "AsciiText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <tuple>

namespace velt {

namespace {

std::string CellDetail(int32_t row, int32_t column) {
  return std::to_string(row) + "," + std::to_string(column);
}

void CheckPosition(int32_t row, int32_t column) {
  // The same bounds as the real application: 1,048,576 rows, 16,384 columns.
  if (row < 1 || row > 1048576 || column < 1 || column > 16384) {
    throw SpreadsheetError("cell " + CellDetail(row, column) + " is outside the sheet");
  }
}

}  // namespace

std::string MemoryNumberText(double value) {
  if (std::isnan(value)) return "#NUM!";
  if (std::isinf(value)) return "#NUM!";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  std::string text = buffer;
  if (text == "-0") text = "0";
  return text;
}

// ---------------------------------------------------------------------------------------------
// MemoryOffice

std::unique_ptr<Application> MemoryOffice::Start() {
  if (killed_) {
    killed_ = false;
    failFrom_.reset();
  }
  Call("start", 0, 0, {});
  auto app = std::make_unique<MemoryApplication>(*this);
  last_ = app.get();
  return app;
}

void MemoryOffice::ClearFaults() {
  failCalls_.clear();
  failFrom_.reset();
  failOps_.clear();
  faults_.clear();
}

MemoryOffice::Fault MemoryOffice::Fault::Of(std::string op, std::string detail) {
  Fault fault;
  fault.op_ = std::move(op);
  fault.detail_ = std::move(detail);
  return fault;
}

MemoryOffice::Fault MemoryOffice::Fault::At(std::string op, int32_t row, int32_t column) {
  return InColumn(std::move(op), column, row, row);
}

MemoryOffice::Fault MemoryOffice::Fault::InColumn(std::string op, int32_t column, int32_t firstRow,
                                                  int32_t lastRow) {
  Fault fault = Of(std::move(op));
  fault.column_ = column;
  fault.firstRow_ = firstRow;
  fault.lastRow_ = lastRow;
  return fault;
}

bool MemoryOffice::Fault::Matches(const std::string& op, int32_t row, int32_t column,
                                  const std::string& detail) const {
  return op == op_ && (detail_.empty() || detail == detail_) &&
         (column_ == 0 || column == column_) &&
         (firstRow_ == 0 || (row >= firstRow_ && row <= lastRow_));
}

int MemoryOffice::CountOf(const std::string& op, int32_t row, int32_t column) const {
  return static_cast<int>(std::count_if(log_.begin(), log_.end(), [&](const MemoryCall& c) {
    return c.op == op && c.row == row && c.column == column;
  }));
}

void MemoryOffice::Call(const char* op, int32_t row, int32_t column, const std::string& detail) {
  ++calls_;
  log_.push_back({op, row, column, detail});
  if (callCost_.count() > 0) std::this_thread::sleep_for(callCost_);
  bool fail = failCalls_.count(calls_) != 0 || (failFrom_ && calls_ >= *failFrom_) ||
              failOps_.count(op) != 0;
  for (Fault& fault : faults_) {
    if (fault.Matches(op, row, column, detail) && (++fault.seen_ == fault.nth_ || fault.nth_ == 0))
      fail = true;
  }
  if (fail) {
    throw SpreadsheetError(std::string("simulated failure of ") + op +
                           (detail.empty() ? std::string() : " " + detail));
  }
}

// ---------------------------------------------------------------------------------------------
// MemoryApplication

MemoryApplication::MemoryApplication(MemoryOffice& office) : office_(office) {
  ++office_.running_;
}

MemoryApplication::~MemoryApplication() {
  for (auto& wb : workbooks_) wb->closed_ = true;
  --office_.running_;
  if (office_.last_ == this) office_.last_ = nullptr;
  office_.log_.push_back({"quit", 0, 0, {}});
}

void MemoryApplication::SetVisible(bool visible) {
  office_.Call("visible", 0, 0, visible ? "true" : "false");
  visible_ = visible;
}

void MemoryApplication::SetDisplayAlerts(bool alerts) {
  office_.Call("alerts", 0, 0, alerts ? "true" : "false");
  alerts_ = alerts;
}

std::shared_ptr<Workbook> MemoryApplication::Open(const std::string& path) {
  office_.Call("open", 0, 0, path);
  auto it = office_.files_.find(path);
  if (it == office_.files_.end()) throw SpreadsheetError("cannot open " + path);
  auto wb = std::make_shared<MemoryWorkbook>(office_);
  wb->Load(it->second);
  wb->path_ = path;
  workbooks_.push_back(wb);
  return wb;
}

std::shared_ptr<Workbook> MemoryApplication::Add() {
  office_.Call("add", 0, 0, {});
  auto wb = std::make_shared<MemoryWorkbook>(office_);
  wb->AddSheetDirect("Sheet1");
  wb->nextSheetNumber_ = 2;
  workbooks_.push_back(wb);
  return wb;
}

void MemoryApplication::SetCalculation(int32_t mode, int32_t /*lcid*/) {
  office_.Call("calculation", 0, 0, std::to_string(mode));
  if (mode == calculation_) return;
  if (mode == xlCalculationManual) HoldForPass();
  // As in Calc: the calculation mode is a setting of the document, and switching it marks the
  // document changed.
  for (auto& wb : workbooks_) wb->saved_ = false;
  calculation_ = mode;
  ReleaseAfterPass();
}

void MemoryApplication::SetScreenUpdating(bool on, int32_t /*lcid*/) {
  office_.Call("screenupdating", 0, 0, on ? "true" : "false");
  if (!on && screenUpdating_) HoldForPass();
  const bool wasOff = !screenUpdating_;
  screenUpdating_ = on;
  if (on && wasOff) ReleaseAfterPass();
}

// As the LibreOffice backend: from the first switch of a pass to the last one back, a pass's
// writes and switches do not make an unchanged workbook changed.
void MemoryApplication::HoldForPass() {
  if (passHeld_) return;
  passHeld_ = true;
  for (auto& wb : workbooks_) wb->savedBeforeBatch_ = wb->saved_;
}

void MemoryApplication::ReleaseAfterPass() {
  if (!passHeld_ || !screenUpdating_ || calculation_ != xlCalculationAutomatic) return;
  passHeld_ = false;
  for (auto& wb : workbooks_) {
    if (wb->savedBeforeBatch_) wb->saved_ = true;
  }
}

bool MemoryApplication::Running() {
  return !office_.killed_;
}

bool MemoryApplication::UserBusy() {
  office_.Call("userbusy", 0, 0, {});
  return office_.userBusy_ && office_.userBusy_();
}

// ---------------------------------------------------------------------------------------------
// MemoryWorkbook

MemoryWorkbook::MemoryWorkbook(MemoryOffice& office) : office_(office) {}

void MemoryWorkbook::Check(const char* op, const std::string& detail) {
  office_.Call(op, 0, 0, detail);
  if (closed_) throw SpreadsheetError("the workbook is closed");
}

MemoryWorkbookData MemoryWorkbook::Snapshot() const {
  MemoryWorkbookData data;
  for (const auto& sheet : sheets_) data.sheets.push_back(sheet->data_);
  data.activeSheet = active_;
  return data;
}

void MemoryWorkbook::Load(const MemoryWorkbookData& data) {
  sheets_.clear();
  for (const auto& sheetData : data.sheets) {
    auto sheet = std::make_shared<MemoryWorksheet>(office_, sheetData.name);
    sheet->data_ = sheetData;
    sheet->owner_ = this;
    sheets_.push_back(sheet);
  }
  active_ = data.activeSheet;
  if (active_.empty() && !sheets_.empty()) active_ = sheets_.front()->data_.name;
  nextSheetNumber_ = static_cast<int>(sheets_.size()) + 1;
}

void MemoryWorkbook::SaveAs(const std::string& path) {
  Check("saveas", path);
  path_ = path;
  office_.files_[path] = Snapshot();
  saved_ = true;
}

void MemoryWorkbook::Save() {
  Check("save", path_);
  if (path_.empty()) throw SpreadsheetError("the workbook has no file yet");
  office_.files_[path_] = Snapshot();
  saved_ = true;
}

void MemoryWorkbook::SaveCopyAs(const std::string& path, const CopyOptions&) {
  Check("savecopy", path);
  office_.files_[path] = Snapshot();
}

void MemoryWorkbook::SetSaved(bool saved) {
  Check("saved", saved ? "true" : "false");
  saved_ = saved;
}

std::shared_ptr<MemoryWorksheet> MemoryWorkbook::Sheet(const std::string& name) const {
  const std::string wanted = AsciiLower(name);
  for (const auto& sheet : sheets_) {
    if (AsciiLower(sheet->data_.name) == wanted) return sheet;
  }
  return nullptr;
}

std::shared_ptr<Worksheet> MemoryWorkbook::WorksheetByName(const std::string& name) {
  Check("sheet", name);
  auto sheet = Sheet(name);
  if (!sheet) throw SpreadsheetError("no worksheet named " + name);
  return sheet;
}

std::shared_ptr<MemoryWorksheet> MemoryWorkbook::AddSheetDirect(const std::string& name) {
  auto sheet = std::make_shared<MemoryWorksheet>(office_, name);
  sheet->owner_ = this;
  sheets_.push_back(sheet);
  if (active_.empty()) active_ = name;
  return sheet;
}

std::shared_ptr<Worksheet> MemoryWorkbook::AddWorksheet() {
  Check("addsheet");
  std::string name;
  do {
    name = "Sheet" + std::to_string(nextSheetNumber_++);
  } while (Sheet(name));
  auto sheet = AddSheetDirect(name);
  active_ = name;
  saved_ = false;
  return sheet;
}

void MemoryWorkbook::SetBeforeCloseHandler(std::function<void()> handler) {
  beforeClose_ = std::move(handler);
}

void MemoryWorkbook::CloseByUser() {
  if (closed_) return;
  if (!beforeClose_) {
    // Nobody to tell: the application closes it as it would.
    closed_ = true;
    return;
  }
  // The handler runs while the workbook is still open; the program closes it, by releasing the
  // application. A request while one waits for the handler is the same request.
  if (closeRequested_) return;
  closeRequested_ = true;
  std::weak_ptr<MemoryWorkbook> weak = shared_from_this();
  auto run = [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->closeRequested_ = false;
    if (self->closed_ || !self->beforeClose_) return;
    auto handler = self->beforeClose_;
    handler();
  };
  if (office_.poster_) {
    office_.poster_(run);
  } else {
    run();
  }
}

bool MemoryWorkbook::ConfirmUserClose() {
  Check("confirmclose", saved_ ? "" : "asked");
  if (saved_) return true;
  switch (office_.closeAnswer_) {
    case MemoryOffice::CloseAnswer::Save:
      Save();
      return true;
    case MemoryOffice::CloseAnswer::DontSave:
      return true;
    case MemoryOffice::CloseAnswer::Cancel:
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// MemoryWorksheet

MemoryWorksheet::MemoryWorksheet(MemoryOffice& office, std::string name) : office_(office) {
  data_.name = std::move(name);
}

std::string MemoryWorksheet::Name() {
  office_.Call("name", 0, 0, {});
  if (owner_ && owner_->closed_) throw SpreadsheetError("the workbook is closed");
  return data_.name;
}

void MemoryWorksheet::SetName(const std::string& name) {
  office_.Call("name", 0, 0, name);
  if (owner_ && owner_->closed_) throw SpreadsheetError("the workbook is closed");
  if (owner_) {
    auto other = owner_->Sheet(name);
    if (other && other.get() != this) throw SpreadsheetError("a sheet named " + name + " exists");
    if (owner_->active_ == data_.name) owner_->active_ = name;
    owner_->saved_ = false;
  }
  data_.name = name;
}

void MemoryWorksheet::Select() {
  office_.Call("select", 0, 0, data_.name);
  if (owner_ && owner_->closed_) throw SpreadsheetError("the workbook is closed");
  if (owner_) owner_->active_ = data_.name;
}

bool MemoryWorksheet::Selected() const {
  return owner_ && owner_->active_ == data_.name;
}

std::string MemoryWorksheet::CellText(int32_t row, int32_t column) {
  office_.Call("read", row, column, {});
  if (owner_ && owner_->closed_) throw SpreadsheetError("the workbook is closed");
  CheckPosition(row, column);
  return Get(row, column).text;
}

void MemoryWorksheet::Write(int32_t row, int32_t column, MemoryCell cell,
                            const std::string& detail) {
  office_.Call("write", row, column, detail);
  if (owner_ && owner_->closed_) throw SpreadsheetError("the workbook is closed");
  CheckPosition(row, column);
  data_.cells[{row, column}] = std::move(cell);
  if (owner_) owner_->saved_ = false;
}

void MemoryWorksheet::SetCellNumber(int32_t row, int32_t column, double value) {
  MemoryCell cell{MemoryCell::Kind::Number, value, MemoryNumberText(value), false};
  Write(row, column, cell, "number " + cell.text);
}

void MemoryWorksheet::SetCellInteger(int32_t row, int32_t column, int16_t value) {
  MemoryCell cell{MemoryCell::Kind::Number, static_cast<double>(value), std::to_string(value),
                  true};
  Write(row, column, cell, "integer " + cell.text);
}

void MemoryWorksheet::SetCellText(int32_t row, int32_t column, const std::string& text) {
  MemoryCell cell{MemoryCell::Kind::Text, 0, text, false};
  Write(row, column, cell, "text " + text);
}

void MemoryWorksheet::SetColumnWidth(int32_t column, double characters) {
  office_.Call("width", 0, column, MemoryNumberText(characters));
  if (owner_ && owner_->closed_) throw SpreadsheetError("the workbook is closed");
  CheckPosition(1, column);
  data_.columnWidths[column] = characters;
}

void MemoryWorksheet::Put(int32_t row, int32_t column, const std::string& text) {
  if (text.empty()) {
    data_.cells.erase({row, column});
    return;
  }
  data_.cells[{row, column}] = MemoryCell{MemoryCell::Kind::Text, 0, text, false};
}

void MemoryWorksheet::PutNumber(int32_t row, int32_t column, double value,
                                const std::string& displayed) {
  data_.cells[{row, column}] = MemoryCell{MemoryCell::Kind::Number, value, displayed, false};
}

MemoryCell MemoryWorksheet::Get(int32_t row, int32_t column) const {
  auto it = data_.cells.find({row, column});
  return it == data_.cells.end() ? MemoryCell{} : it->second;
}

}  // namespace velt
