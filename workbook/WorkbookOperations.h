// The workbook and its data sheet: opening or creating the workbook, binding the sheet "ВЕЛТ"
// (creating it with its header row on request), showing it, saving, closing, and reacting when
// the user closes the workbook in the spreadsheet application. Holds the sheet link and the
// flags SheetReady and Closing; the main window owns one instance and learns of every change
// of its own state through WorkbookView.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DataSheet.h"
#include "Dialogs.h"
#include "Spreadsheet.h"

namespace velt {

inline constexpr char kTextCannotStartExcel[] = "Не могу запустить Excel!";
inline constexpr char kTextCreateWorkbook[] = "Нет указанного файла - Создать?";
inline constexpr char kTextCreateDataSheet[] = "Нет листа ВЕЛТ - Создать?";
inline constexpr char kTextDataSheetFailed[] = "Ошибка создания листа ВЕЛТ";

// Timer2's interval after the user closed the workbook in the spreadsheet application.
inline constexpr int kCloseTimerMs = 1000;

// What the main window shows of the workbook's state; implemented by the window.
class WorkbookView {
 public:
  virtual ~WorkbookView() = default;
  // open: a workbook is open. "Открыть..." and the recent list are disabled; "Закрыть",
  // "Создать иконку на столе", BitBtn2, the cycle time field and the refresh button enabled.
  // Not open: the reverse.
  virtual void SetOpenState(bool open) = 0;
  // The window's caption (the workbook's file name); the tray hint takes the same text.
  virtual void SetCaption(const std::string& caption) = 0;
  // The stored value "openfilename": the full path of the workbook being opened.
  virtual void SetOpenFileName(const std::string& path) = 0;
  // Starts the one-shot Timer2.
  virtual void StartCloseTimer(int milliseconds) = 0;
  // The check mark "Автосохранение при выходе" (N9).
  virtual bool AutosaveOnExit() const = 0;
};

// The three handles of the sheet link. Releasing ExAp quits the application.
struct SheetLink {
  std::unique_ptr<Application> ExAp;
  std::shared_ptr<Workbook> ExWb;
  std::shared_ptr<Worksheet> ExWs;
};

class WorkbookOperations {
 public:
  WorkbookOperations(SpreadsheetLauncher& launcher, Dialogs& dialogs, WorkbookView& view);
  // Releases the link without saving; the window runs Close at exit before that.
  ~WorkbookOperations();
  WorkbookOperations(const WorkbookOperations&) = delete;
  WorkbookOperations& operator=(const WorkbookOperations&) = delete;

  // The open operation, for the Open command, a recent choice and the command-line start.
  // Questions and messages go through Dialogs; a refusal or a failed start ends it quietly.
  // A failure that is not one of its questions (the save of a newly created workbook, or a
  // spreadsheet call after the workbook is there) escapes as SpreadsheetError for the
  // caller's general handler, and the application is released first: nothing is left open
  // and the open commands stay available. A path that exists but does not open is reported
  // with the spreadsheet's own message and never offered for re-creation, which would
  // overwrite it. Called while a workbook is open, it runs Close first, so one link is held.
  void ExOpen(const std::string& path);

  // BitBtn2: makes the data sheet active, or creates it with its header row; a failure shows
  // "Ошибка создания листа ВЕЛТ". Does nothing without a workbook. A failure to activate
  // an existing sheet escapes as SpreadsheetError.
  void ShowOrCreateDataSheet();

  // The Close command (also run at exit): saves first when SheetReady and autosave is on,
  // then releases the link. A failed save is shown with the error's own text and the link is
  // released all the same, so that nothing stays half-closed. Never throws.
  void Close();

  // The user closed the workbook in the spreadsheet application; the workbook is still open.
  // Ignored while Closing; otherwise Close runs (saving with autosave on) and Timer2 is started
  // with kCloseTimerMs. When Close will not save, the spreadsheet first asks the user about
  // changes of their own (Workbook::ConfirmUserClose); a Cancel there keeps the workbook open
  // and nothing else happens. The handler registered on the workbook calls this (on the
  // program's thread); a notification from a workbook that is no longer linked is ignored.
  void WorkbookClosing();

  // Before Close from the program (exit): when Close will not save, asks the user about
  // changes of their own as WorkbookClosing does. false: cancelled, the workbook stays open.
  bool ConfirmClose();

  // The spreadsheet application ended under the program: the link is released without a save
  // or a question (nothing could be reached any more).
  void Abandon();

  // The save after an update pass ("Сохранение после обновления"). SpreadsheetError escapes.
  // Does nothing without a workbook.
  void SaveWorkbook();

  bool SheetReady() const { return sheetReady_; }
  bool Closing() const { return closing_; }
  // The open operation completed and Close has not run since.
  bool IsOpen() const { return open_; }

  // The sheet link, for the update pass; null when not held.
  Application* ExAp() const { return link_.ExAp.get(); }
  Workbook* ExWb() const { return link_.ExWb.get(); }
  Worksheet* ExWs() const { return link_.ExWs.get(); }

 private:
  void CreateDataSheet();
  void ReleaseLink();

  SpreadsheetLauncher& launcher_;
  Dialogs& dialogs_;
  WorkbookView& view_;
  SheetLink link_;
  // Identifies the linked workbook to its close handler; reset when the link goes.
  std::shared_ptr<int> linkToken_;
  bool sheetReady_ = false;
  bool closing_ = false;
  bool open_ = false;
  bool opening_ = false;
};

}  // namespace velt
