#include "WorkbookOperations.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace velt {

namespace {

std::string FileNamePart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ExistsOnDisk(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) && !error;
}

// Clears a flag when the scope ends, however it ends.
class Busy {
 public:
  explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
  ~Busy() { flag_ = false; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  bool& flag_;
};

}  // namespace

WorkbookOperations::WorkbookOperations(SpreadsheetLauncher& launcher, Dialogs& dialogs,
                                       WorkbookView& view)
    : launcher_(launcher), dialogs_(dialogs), view_(view) {}

WorkbookOperations::~WorkbookOperations() {
  ReleaseLink();
}

void WorkbookOperations::ExOpen(const std::string& path) {
  // A modal question inside the operation must not start a second one.
  if (opening_) return;
  Busy busy(opening_);
  if (link_.ExAp) Close();

  view_.SetCaption(FileNamePart(path));
  view_.SetOpenFileName(path);

  std::unique_ptr<Application> app;
  std::string why;  // the launcher's own sentence: the office missing, no profile folder
  try {
    app = launcher_.Start();
  } catch (const std::exception& error) {
    why = error.what();
  }
  if (!app) {
    dialogs_.ShowError(kTextCannotStartExcel, why);
    return;
  }
  link_.ExAp = std::move(app);

  try {
    link_.ExAp->SetVisible(true);
    try {
      link_.ExWb = link_.ExAp->Open(path);
      if (!link_.ExWb) throw SpreadsheetError("cannot open " + path);
    } catch (const SpreadsheetError& error) {
      if (ExistsOnDisk(path)) {
        // Locked, damaged or not a workbook: "create" would overwrite the user's file.
        ReleaseLink();
        dialogs_.ShowError(error.what());
        return;
      }
      const bool create = dialogs_.AskYesNo(kTextCreateWorkbook);
      if (!link_.ExAp) return;  // closed while the question was open
      if (!create) {
        ReleaseLink();
        return;
      }
      link_.ExWb = link_.ExAp->Add();
      if (!link_.ExWb) throw SpreadsheetError("cannot add a workbook");
      link_.ExWb->SaveAs(path);
    }

    try {
      link_.ExWs = link_.ExWb->WorksheetByName(kDataSheetName);
      if (!link_.ExWs) throw SpreadsheetError("no data sheet");
      sheetReady_ = true;
    } catch (const SpreadsheetError&) {
      const bool create = dialogs_.AskYesNo(kTextCreateDataSheet);
      if (!link_.ExAp) return;
      sheetReady_ = false;
      if (create) CreateDataSheet();
      if (!link_.ExAp) return;
    }

    view_.SetOpenState(true);
    open_ = true;
    closing_ = false;
    link_.ExAp->SetDisplayAlerts(false);
    link_.ExWb->SetSaved(true);

    linkToken_ = std::make_shared<int>(0);
    link_.ExWb->SetBeforeCloseHandler([this, token = std::weak_ptr<int>(linkToken_)] {
      if (!token.expired()) WorkbookClosing();
    });
  } catch (...) {
    ReleaseLink();
    view_.SetOpenState(false);
    throw;
  }
}

void WorkbookOperations::ShowOrCreateDataSheet() {
  if (!link_.ExWb) return;
  if (sheetReady_ && link_.ExWs) {
    link_.ExWs->Select();
    return;
  }
  CreateDataSheet();
}

void WorkbookOperations::CreateDataSheet() {
  try {
    link_.ExWs = link_.ExWb->AddWorksheet();
    if (!link_.ExWs) throw SpreadsheetError("cannot add a worksheet");
    link_.ExWs->SetName(kDataSheetName);
    WriteDataSheetHeader(*link_.ExWs);
    sheetReady_ = true;
  } catch (const SpreadsheetError&) {
    // The half-made sheet stays in the workbook, but is not taken for the data sheet.
    link_.ExWs.reset();
    sheetReady_ = false;
    dialogs_.ShowError(kTextDataSheetFailed);
  }
}

void WorkbookOperations::Close() {
  closing_ = true;
  std::string saveError;
  if (sheetReady_ && link_.ExWb && view_.AutosaveOnExit()) {
    try {
      link_.ExWb->Save();
    } catch (const SpreadsheetError& error) {
      saveError = error.what();
      if (saveError.empty()) saveError = "save failed";
    }
  }
  ReleaseLink();
  view_.SetOpenState(false);
  if (!saveError.empty()) dialogs_.ShowError(saveError);
}

void WorkbookOperations::WorkbookClosing() {
  if (closing_) return;
  // Close saves only with a data sheet and autosave on. Otherwise the values of the passes go
  // unsaved without a word, but changes of the user's own are theirs: the spreadsheet asks about
  // them as it would, and a Cancel there keeps the workbook open.
  const bool saves = sheetReady_ && view_.AutosaveOnExit();
  if (link_.ExWb && !saves) {
    bool close = true;
    try {
      close = link_.ExWb->ConfirmUserClose();
    } catch (const SpreadsheetError&) {
      // Cannot ask: the workbook is closed as the user asked.
    }
    if (!close || closing_ || !link_.ExWb) return;
  }
  Close();
  view_.StartCloseTimer(kCloseTimerMs);
}

bool WorkbookOperations::ConfirmClose() {
  if (!link_.ExWb || closing_ || (sheetReady_ && view_.AutosaveOnExit())) return true;
  try {
    return link_.ExWb->ConfirmUserClose();
  } catch (const SpreadsheetError&) {
    // Cannot ask (the office is gone): nothing of the user's can be kept anyway.
    return true;
  }
}

void WorkbookOperations::Abandon() {
  closing_ = true;
  ReleaseLink();
  view_.SetOpenState(false);
}

void WorkbookOperations::SaveWorkbook() {
  if (link_.ExWb) link_.ExWb->Save();
}

void WorkbookOperations::ReleaseLink() {
  linkToken_.reset();
  sheetReady_ = false;
  open_ = false;
  link_.ExWs.reset();
  link_.ExWb.reset();
  // Last: destroying the application quits it, closing its workbooks unsaved.
  link_.ExAp.reset();
}

}  // namespace velt
