#include "LibreOfficeSpreadsheet.h"

#include "AsciiText.h"

#include <sys/stat.h>
#include <unistd.h>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/DispatchDescriptor.hpp>
#include <com/sun/star/frame/FeatureStateEvent.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDispatch.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XDispatchProviderInterception.hpp>
#include <com/sun/star/frame/XDispatchProviderInterceptor.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XInterceptorInfo.hpp>
#include <com/sun/star/frame/XStatusListener.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <cppuhelper/implbase3.hxx>
#include <osl/file.hxx>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <vector>

#include "DocumentLock.h"
#include "LibreOfficeBatch.h"
#include "LibreOfficeSession.h"
#include "OfficeUser.h"
#include "SaveLeftovers.h"
#include "WorkbookFlock.h"

#include "Translation.h"

namespace velt {

int32_t LibreOfficeColumnWidth(double characters) {
  // Calc's Excel "character" is the digit width of its default font, 195.8 (1/100 mm) with the
  // Liberation fonts; Excel itself adds 5/7 of a character of padding.
  return static_cast<int32_t>(std::lround((characters + 5.0 / 7.0) * 195.8));
}

namespace lo {
namespace {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string Extension(const std::string& path) {
  return AsciiLower(std::filesystem::path(path).extension().string());
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

rtl::OUString UrlOf(const std::string& absolutePath) {
  rtl::OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(FromUtf8(absolutePath), url) !=
      osl::FileBase::E_None) {
    throw SpreadsheetError("not a valid file name");
  }
  return url;
}

css::beans::PropertyValue Property(const char* name, Any value) {
  css::beans::PropertyValue property;
  property.Name = rtl::OUString::createFromAscii(name);
  property.Value = std::move(value);
  return property;
}

// Calc's export filter for the extension. Anything other than .xlsx and .ods is written as an
// Excel 97-2003 workbook, the "normal workbook" the program asks for, whatever the name.
const char* FilterFor(const std::string& path) {
  std::string extension = Extension(path);
  if (extension == ".xlsx") return "Calc MS Excel 2007 XML";
  if (extension == ".ods") return "calc8";
  return "MS Excel 97";
}

// The options of Calc's text export: the separator, '"' around texts that need it, UTF-8 (76),
// cells as shown, no formulas; the active sheet.
std::string CsvFilterOptions(char separator) {
  return std::to_string(static_cast<unsigned char>(separator)) +
         ",34,76,1,,0,false,true,true,false,false";
}

// Whether a document that loaded under `filter` counts as a workbook. Calc opens almost
// anything with its text or HTML import (random bytes named .xls open as text); those count
// only for files named as such.
bool WorkbookFilter(const std::string& filter, const std::string& path) {
  std::string extension = Extension(path);
  if (filter.empty()) return false;
  if (filter.rfind("Text - txt - csv", 0) == 0) return extension == ".csv";
  if (filter.find("HTML") != std::string::npos) return extension == ".htm" || extension == ".html";
  return true;
}

class CloseListener : public cppu::WeakImplHelper1<css::document::XDocumentEventListener> {
 public:
  explicit CloseListener(std::weak_ptr<DocumentState> state) : state_(std::move(state)) {}
  void SAL_CALL documentEventOccured(const css::document::DocumentEvent& event) override {
    // The last event of every close, whatever started it (menu, window, dispatch, quit).
    if (event.EventName != "OnUnload") return;
    if (auto state = state_.lock()) state->UserClosed();
  }
  void SAL_CALL disposing(const css::lang::EventObject&) override {}

 private:
  std::weak_ptr<DocumentState> state_;
};

// The user's ways of closing a document in Calc: File > Close, Ctrl+W, the window's close box,
// File > Exit and Ctrl+Q. Intercepted on the document's frame, they reach the program's close
// handler while the document is still there; the program then closes it (and the office) itself.
const char* const kCloseCommands[] = {".uno:CloseDoc", ".uno:CloseWin", ".uno:CloseFrame",
                                      ".uno:Quit"};

bool IsCloseCommand(const rtl::OUString& url) {
  for (const char* command : kCloseCommands) {
    if (url.equalsAscii(command)) return true;
  }
  return false;
}

class CloseInterceptor
    : public cppu::WeakImplHelper3<css::frame::XDispatchProviderInterceptor,
                                   css::frame::XInterceptorInfo, css::frame::XDispatch> {
 public:
  explicit CloseInterceptor(std::weak_ptr<DocumentState> state) : state_(std::move(state)) {}

  // XDispatchProvider
  Reference<css::frame::XDispatch> SAL_CALL queryDispatch(const css::util::URL& url,
                                                          const rtl::OUString& target,
                                                          sal_Int32 flags) override {
    // Ours whether or not a handler is set yet: callers keep the dispatch they got.
    if (IsCloseCommand(url.Complete)) return this;
    Reference<css::frame::XDispatchProvider> slave = Slave();
    return slave.is() ? slave->queryDispatch(url, target, flags)
                      : Reference<css::frame::XDispatch>();
  }
  Sequence<Reference<css::frame::XDispatch>> SAL_CALL
  queryDispatches(const Sequence<css::frame::DispatchDescriptor>& requests) override {
    Sequence<Reference<css::frame::XDispatch>> result(requests.getLength());
    auto* out = result.getArray();
    for (sal_Int32 i = 0; i < requests.getLength(); ++i) {
      out[i] =
          queryDispatch(requests[i].FeatureURL, requests[i].FrameName, requests[i].SearchFlags);
    }
    return result;
  }

  // XDispatchProviderInterceptor
  Reference<css::frame::XDispatchProvider> SAL_CALL getSlaveDispatchProvider() override {
    return Slave();
  }
  void SAL_CALL
  setSlaveDispatchProvider(const Reference<css::frame::XDispatchProvider>& slave) override {
    std::lock_guard lock(mutex_);
    slave_ = slave;
  }
  Reference<css::frame::XDispatchProvider> SAL_CALL getMasterDispatchProvider() override {
    std::lock_guard lock(mutex_);
    return master_;
  }
  void SAL_CALL
  setMasterDispatchProvider(const Reference<css::frame::XDispatchProvider>& master) override {
    std::lock_guard lock(mutex_);
    master_ = master;
  }

  // XInterceptorInfo: only these commands come here (without it, every command would).
  Sequence<rtl::OUString> SAL_CALL getInterceptedURLs() override {
    Sequence<rtl::OUString> urls(static_cast<sal_Int32>(std::size(kCloseCommands)));
    for (size_t i = 0; i < std::size(kCloseCommands); ++i) {
      urls.getArray()[i] = rtl::OUString::createFromAscii(kCloseCommands[i]);
    }
    return urls;
  }

  // XDispatch: a close command of the user's.
  void SAL_CALL dispatch(const css::util::URL& url,
                         const Sequence<css::beans::PropertyValue>& args) override {
    auto state = state_.lock();
    if (state && state->WantsCloseRequests()) {
      state->UserAsksToClose();
      return;
    }
    // Nobody to tell: the office closes as it would without us.
    Reference<css::frame::XDispatchProvider> slave = Slave();
    if (!slave.is()) return;
    Reference<css::frame::XDispatch> next = slave->queryDispatch(url, "", 0);
    if (next.is()) next->dispatch(url, args);
  }
  void SAL_CALL addStatusListener(const Reference<css::frame::XStatusListener>& listener,
                                  const css::util::URL& url) override {
    // The menu entries stay enabled.
    if (!listener.is()) return;
    css::frame::FeatureStateEvent event;
    event.Source = static_cast<cppu::OWeakObject*>(this);
    event.FeatureURL = url;
    event.IsEnabled = true;
    event.Requery = false;
    listener->statusChanged(event);
  }
  void SAL_CALL removeStatusListener(const Reference<css::frame::XStatusListener>&,
                                     const css::util::URL&) override {}

 private:
  Reference<css::frame::XDispatchProvider> Slave() {
    std::lock_guard lock(mutex_);
    return slave_;
  }

  std::weak_ptr<DocumentState> state_;
  std::mutex mutex_;
  Reference<css::frame::XDispatchProvider> slave_;
  Reference<css::frame::XDispatchProvider> master_;
};

Reference<css::frame::XController> ControllerOf(const Reference<css::frame::XModel>& model) {
  Reference<css::frame::XController> controller = model->getCurrentController();
  if (!controller.is()) throw SpreadsheetError("the workbook has no window");
  return controller;
}

// Every operation that is not a cell access stores the buffered writes first, and forgets what
// was fetched: what it changes may change what cells display.
void Settle(Session& session) {
  Batch& batch = session.GetBatch();
  if (!batch.Active()) return;
  batch.Flush();
  batch.DropReads();
}

class LoWorksheet : public Worksheet {
 public:
  LoWorksheet(std::shared_ptr<Session> session, std::shared_ptr<DocumentState> document,
              Reference<css::sheet::XSpreadsheet> sheet)
      : session_(std::move(session)), document_(std::move(document)), sheet_(std::move(sheet)) {
    // One identity per sheet, however many objects stand for it: the office hands out one
    // proxy per object, and this query is answered locally once made.
    key_.set(sheet_, UNO_QUERY);
  }

  std::string Name() override {
    What what{"read the worksheet's name"};
    Check(what);
    return session_->Call(what, [&] {
      Settle(*session_);
      return ToUtf8(Reference<css::container::XNamed>(sheet_, UNO_QUERY_THROW)->getName());
    });
  }

  void SetName(const std::string& name) override {
    What what{"name the worksheet", 0, 0, Quoted(name)};
    Check(what);
    session_->Call(what, [&] {
      Settle(*session_);
      Reference<css::container::XNamed> named(sheet_, UNO_QUERY_THROW);
      named->setName(FromUtf8(name));
      // Calc ignores a name it does not accept (taken, or with / : [ ] ...) without a word.
      if (ToUtf8(named->getName()) != name) {
        throw SpreadsheetError(what.Text() + ": Calc does not accept the name");
      }
    });
  }

  void Select() override {
    What what{"select the worksheet"};
    Check(what);
    session_->Call(what, [&] {
      Settle(*session_);
      Reference<css::sheet::XSpreadsheetView> view(ControllerOf(document_->model), UNO_QUERY_THROW);
      view->setActiveSheet(sheet_);
    });
  }

  std::string CellText(int32_t row, int32_t column) override {
    What what{"read cell", row, column};
    Check(what);
    return session_->Call(what, [&] {
      Batch& batch = session_->GetBatch();
      if (batch.Active() && CellInRange(row, column)) {
        return batch.Read({sheet_, key_.get(), document_}, row, column);
      }
      return DirectCellText(*session_, *document_, sheet_, row, column);
    });
  }

  void SetCellNumber(int32_t row, int32_t column, double value) override {
    Write(row, column, value);
  }
  void SetCellInteger(int32_t row, int32_t column, int16_t value) override {
    Write(row, column, static_cast<double>(value));
  }
  void SetCellText(int32_t row, int32_t column, const std::string& text) override {
    Write(row, column, text);
  }
  // Known only while cell traffic is batched (screen updating off), as in a pass.
  bool CellWritable(int32_t row, int32_t column) override {
    What what{"write cell", row, column};
    Check(what);
    return session_->Call(what, [&] {
      Batch& batch = session_->GetBatch();
      return !batch.Active() || batch.Writable({sheet_, key_.get(), document_}, row, column);
    });
  }

  void SetColumnWidth(int32_t column, double characters) override {
    What what{"set the width of column", 0, 0, std::to_string(column)};
    Check(what);
    if (column < 1 || column > kMaxColumns || !std::isfinite(characters) || characters < 0 ||
        characters > 255) {
      throw SpreadsheetError(what.Text() + ": width or column out of range");
    }
    session_->Call(what, [&] {
      Settle(*session_);
      Reference<css::table::XColumnRowRange> range(sheet_, UNO_QUERY_THROW);
      Reference<css::beans::XPropertySet> properties(range->getColumns()->getByIndex(column - 1),
                                                     UNO_QUERY_THROW);
      properties->setPropertyValue("Width", Any(LibreOfficeColumnWidth(characters)));
    });
  }

 private:
  void Check(const What& what) {
    session_->CheckUsable(what);
    if (document_->Closed())
      throw SpreadsheetError(what.Text() + ": " + Tr("the workbook has been closed"));
  }

  void Write(int32_t row, int32_t column, CellValue value) {
    What what{"write cell", row, column};
    Check(what);
    session_->Call(what, [&] {
      Batch& batch = session_->GetBatch();
      if (batch.Active()) {
        batch.Write({sheet_, key_.get(), document_}, row, column, std::move(value));
      } else {
        DirectWrite(sheet_, row, column, value);
      }
    });
  }

  std::shared_ptr<Session> session_;
  std::shared_ptr<DocumentState> document_;
  Reference<css::sheet::XSpreadsheet> sheet_;
  Reference<css::uno::XInterface> key_;
};

class LoWorkbook : public Workbook {
 public:
  LoWorkbook(std::shared_ptr<Session> session, std::shared_ptr<DocumentState> document)
      : session_(std::move(session)), document_(std::move(document)) {}

  void SaveAs(const std::string& path) override {
    SaveToPath(What{"save the workbook as", 0, 0, Quoted(path)}, path,
               [&](const What&, const std::string& absolute) {
                 rtl::OUString url = UrlOf(absolute);
                 Sequence<css::beans::PropertyValue> args(2);
                 args.getArray()[0] = Property(
                     "FilterName", Any(rtl::OUString::createFromAscii(FilterFor(absolute))));
                 args.getArray()[1] = Property("Overwrite", Any(true));
                 session_->WatchLockFile(LockFileFor(absolute));
                 Reference<css::frame::XStorable>(document_->model, UNO_QUERY_THROW)
                     ->storeAsURL(url, args);
                 document_->location = ToUtf8(url);
               });
  }

  void SaveCopyAs(const std::string& path, const CopyOptions& options) override {
    SaveToPath(What{"save a copy of the workbook as", 0, 0, Quoted(path)}, path,
               [&](const What& what, const std::string& absolute) {
                 const auto args = CopyArguments(what, absolute, options);
                 Reference<css::frame::XStorable> storable(document_->model, UNO_QUERY_THROW);
                 const auto store = [&] { storable->storeToURL(UrlOf(absolute), args); };
                 if (Extension(absolute) == ".csv") {
                   WithActiveSheet(what, options.sheet, store);
                 } else {
                   store();
                 }
               });
  }

  // A store to a file the caller names, on the office's thread once it has settled; a failed
  // one leaves nothing new beside the file.
  template <class F>
  void SaveToPath(const What& what, const std::string& path, F&& store) {
    Check(what);
    const std::string absolute = AbsolutePath(path);
    const SaveLeftovers leftovers(absolute);
    GuardSave(what, leftovers, [&] {
      session_->Call(
          what,
          [&] {
            Settle(*session_);
            store(what, absolute);
          },
          session_->DocumentTimeout());
    });
  }

  void Save() override {
    What what{"save the workbook"};
    Check(what);
    rtl::OUString systemPath;
    const bool local = osl::FileBase::getSystemPathFromFileURL(FromUtf8(document_->location),
                                                               systemPath) == osl::FileBase::E_None;
    const SaveLeftovers leftovers(local ? ToUtf8(systemPath) : std::string("/nonexistent/x"));
    GuardSave(what, leftovers, [&] {
      session_->Call(
          what,
          [&] {
            Settle(*session_);
            Reference<css::frame::XStorable> storable(document_->model, UNO_QUERY_THROW);
            if (!storable->hasLocation()) {
              throw SpreadsheetError(what.Text() + ": it has not been saved to a file yet");
            }
            StoreInPlace(document_->model);
          },
          session_->DocumentTimeout());
    });
  }

  // Runs a save; when it fails because the office is gone, removes what the office left
  // beside the document half-way through.
  template <class F>
  void GuardSave(const What& what, const SaveLeftovers& leftovers, F&& save) {
    try {
      save();
    } catch (const SpreadsheetError&) {
      try {
        session_->CheckUsable(what);
      } catch (const SpreadsheetError&) {
        leftovers.RemoveNew(session_->ProfileUrl());
      }
      throw;
    }
  }

  // Calc's text export writes the active sheet (its sheet-number option writes NAME-SHEET.csv
  // instead, and nothing when the sheet's name cannot be spelt in the office's file-name
  // encoding): the sheet is made active for the store and the active one restored after.
  template <class F>
  void WithActiveSheet(const What& what, const std::string& sheet, F&& store) {
    Reference<css::sheet::XSpreadsheetView> view(document_->model->getCurrentController(),
                                                 UNO_QUERY);
    if (sheet.empty()) return store();
    if (!view.is()) throw SpreadsheetError(what.Text() + ": the workbook has no view");
    Reference<css::sheet::XSpreadsheets> sheets = Sheets();
    if (!sheets->hasByName(FromUtf8(sheet))) {
      throw SpreadsheetError(what.Text() + ": the workbook has no worksheet " + Quoted(sheet));
    }
    Reference<css::sheet::XSpreadsheet> wanted(sheets->getByName(FromUtf8(sheet)), UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheet> active = view->getActiveSheet();
    view->setActiveSheet(wanted);
    try {
      store();
    } catch (...) {
      if (active.is()) view->setActiveSheet(active);
      throw;
    }
    if (active.is()) view->setActiveSheet(active);
  }

  // The store arguments of SaveCopyAs: the filter by the extension, and for a PDF or a CSV the
  // sheet it holds.
  Sequence<css::beans::PropertyValue> CopyArguments(const What& what, const std::string& path,
                                                    const CopyOptions& options) {
    const std::string extension = Extension(path);
    const bool pdf = extension == ".pdf", csv = extension == ".csv";
    Reference<css::sheet::XSpreadsheet> sheet;
    if ((pdf || csv) && !options.sheet.empty()) {
      Reference<css::sheet::XSpreadsheets> sheets = Sheets();
      if (!sheets->hasByName(FromUtf8(options.sheet))) {
        throw SpreadsheetError(what.Text() + ": the workbook has no worksheet " +
                               Quoted(options.sheet));
      }
      sheet.set(sheets->getByName(FromUtf8(options.sheet)), UNO_QUERY_THROW);
    }
    std::vector<css::beans::PropertyValue> args;
    args.push_back(Property("Overwrite", Any(true)));
    if (pdf) {
      args.push_back(Property("FilterName", Any(rtl::OUString("calc_pdf_Export"))));
      if (sheet.is()) {
        // A sheet as the selection prints that sheet as Calc prints it: its print ranges, or
        // its used area, with its page setup.
        Sequence<css::beans::PropertyValue> data(1);
        data.getArray()[0] = Property("Selection", Any(sheet));
        args.push_back(Property("FilterData", Any(data)));
      }
    } else if (csv) {
      args.push_back(Property("FilterName", Any(rtl::OUString("Text - txt - csv (StarCalc)"))));
      args.push_back(Property(
          "FilterOptions",
          Any(rtl::OUString::createFromAscii(CsvFilterOptions(options.csvSeparator).c_str()))));
    } else {
      args.push_back(Property("FilterName", Any(rtl::OUString::createFromAscii(FilterFor(path)))));
    }
    return Sequence<css::beans::PropertyValue>(args.data(), static_cast<sal_Int32>(args.size()));
  }

  void SetSaved(bool saved) override {
    What what{"mark the workbook as saved"};
    Check(what);
    session_->Call(what, [&] {
      Settle(*session_);
      Reference<css::util::XModifiable>(document_->model, UNO_QUERY_THROW)->setModified(!saved);
    });
  }

  std::shared_ptr<Worksheet> WorksheetByName(const std::string& name) override {
    What what{"find the worksheet", 0, 0, Quoted(name)};
    Check(what);
    Reference<css::sheet::XSpreadsheet> sheet = session_->Call(what, [&] {
      Settle(*session_);
      Reference<css::sheet::XSpreadsheets> sheets = Sheets();
      rtl::OUString wanted = FromUtf8(name);
      // Calc's own lookup: case-insensitive, as in Excel.
      if (!sheets->hasByName(wanted)) {
        throw SpreadsheetError(what.Text() + ": the workbook has no such worksheet");
      }
      return Reference<css::sheet::XSpreadsheet>(sheets->getByName(wanted), UNO_QUERY_THROW);
    });
    return std::make_shared<LoWorksheet>(session_, document_, sheet);
  }

  std::shared_ptr<Worksheet> AddWorksheet() override {
    What what{"add a worksheet"};
    Check(what);
    Reference<css::sheet::XSpreadsheet> sheet = session_->Call(what, [&] {
      Settle(*session_);
      Reference<css::sheet::XSpreadsheets> sheets = Sheets();
      Reference<css::container::XIndexAccess> indexed(sheets, UNO_QUERY_THROW);
      sal_Int32 count = indexed->getCount();
      rtl::OUString name;
      for (sal_Int32 n = count + 1;; ++n) {
        name = FromUtf8("Sheet" + std::to_string(n));
        if (!sheets->hasByName(name)) break;
      }
      // As in Excel: before the active sheet, and the new sheet becomes the active one.
      Reference<css::sheet::XSpreadsheetView> view(document_->model->getCurrentController(),
                                                   UNO_QUERY);
      sal_Int16 position = static_cast<sal_Int16>(count);
      if (view.is()) {
        Reference<css::sheet::XCellRangeAddressable> active(view->getActiveSheet(), UNO_QUERY);
        if (active.is()) position = active->getRangeAddress().Sheet;
      }
      sheets->insertNewByName(name, position);
      Reference<css::sheet::XSpreadsheet> added(sheets->getByName(name), UNO_QUERY_THROW);
      if (view.is()) view->setActiveSheet(added);
      return added;
    });
    return std::make_shared<LoWorksheet>(session_, document_, sheet);
  }

  void SetBeforeCloseHandler(std::function<void()> handler) override {
    document_->SetHandler(std::move(handler));
  }

  bool ConfirmUserClose() override {
    What what{"ask whether to save the workbook"};
    Check(what);
    bool modified = session_->Call(what, [&] {
      Settle(*session_);
      return static_cast<bool>(
          Reference<css::util::XModifiable>(document_->model, UNO_QUERY_THROW)->isModified());
    });
    if (!modified || !session_->CanShow() || !session_->visible) return true;
    // Calc's own question (Save, Don't Save, Cancel), as for a close in Calc; Save stores the
    // workbook in its own format. The user may take their time.
    return session_->Call(
        what,
        [&] {
          Reference<css::frame::XController> controller = ControllerOf(document_->model);
          if (controller->suspend(true)) return true;
          controller->suspend(false);
          return false;
        },
        std::chrono::hours(24));
  }

 private:
  void Check(const What& what) {
    session_->CheckUsable(what);
    if (document_->Closed())
      throw SpreadsheetError(what.Text() + ": " + Tr("the workbook has been closed"));
  }

  Reference<css::sheet::XSpreadsheets> Sheets() {
    return Reference<css::sheet::XSpreadsheetDocument>(document_->model, UNO_QUERY_THROW)
        ->getSheets();
  }

  std::shared_ptr<Session> session_;
  std::shared_ptr<DocumentState> document_;
};

void ShowWindow(const Reference<css::frame::XModel>& model, bool visible) {
  Reference<css::frame::XController> controller = model->getCurrentController();
  if (!controller.is()) return;
  Reference<css::frame::XFrame> frame = controller->getFrame();
  if (!frame.is()) return;
  Reference<css::awt::XWindow> window = frame->getContainerWindow();
  if (window.is()) window->setVisible(visible);
}

void LockControllers(DocumentState& document, bool lock) {
  if (document.controllersLocked == lock) return;
  Reference<css::document::XActionLockable> lockable(document.model, UNO_QUERY);
  if (lock) {
    document.model->lockControllers();
    if (lockable.is()) lockable->addActionLock();
  } else {
    if (lockable.is()) lockable->removeActionLock();
    document.model->unlockControllers();
  }
  document.controllersLocked = lock;
}

class LoApplication : public Application {
 public:
  explicit LoApplication(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~LoApplication() override {
    try {
      session_->Release();
    } catch (...) {
      // Release handles its own failures; nothing may leave a destructor.
    }
  }

  LibreOfficeInstance Instance() const { return session_->Instance(); }

  void SetVisible(bool visible) override {
    What what{visible ? "show LibreOffice" : "hide LibreOffice"};
    session_->Call(what, [&] {
      Settle(*session_);
      // A headless office has no window system: a window would abort it.
      if (!session_->CanShow()) return;
      session_->visible = visible;
      for (auto& document : session_->Documents()) ShowWindow(document->model, visible);
    });
  }

  void SetDisplayAlerts(bool alerts) override {
    // Nothing to switch: no call of this backend ever shows a dialog (no interaction handler is
    // passed, documents are closed with close(true) and never left modified for terminate()).
    session_->Call(What{"set DisplayAlerts"}, [&] { Settle(*session_); });
    session_->alerts = alerts;
  }

  std::shared_ptr<Workbook> Open(const std::string& path) override {
    What what{"open", 0, 0, Quoted(path)};
    session_->CheckUsable(what);
    std::string absolute = AbsolutePath(path);
    struct stat info {};
    if (stat(absolute.c_str(), &info) != 0) {
      throw SpreadsheetError(what.Text() + ": " +
                             (errno == ENOENT ? std::string(Tr("the file does not exist"))
                                              : std::string(std::strerror(errno))));
    }
    if (S_ISDIR(info.st_mode)) throw SpreadsheetError(what.Text() + ": " + Tr("it is a directory"));
    if (access(absolute.c_str(), R_OK) != 0) {
      throw SpreadsheetError(what.Text() + ": " + Tr("the file cannot be read: ") +
                             std::strerror(errno));
    }

    // Our own lock first: no save lets it go, so of two runs started together only one goes on.
    std::shared_ptr<WorkbookFlock> ownLock = WorkbookFlock::Take(absolute);
    // A lock left by one of our offices that died is removed; a live holder is named.
    ClearStaleLockOrThrow(absolute, session_->ProfileUrl());
    session_->WatchLockFile(LockFileFor(absolute));

    rtl::OUString url;
    Reference<css::lang::XComponent> component = session_->Call(
        what,
        [&] {
          Settle(*session_);
          url = UrlOf(absolute);
          return Load(url, true);
        },
        session_->DocumentTimeout());
    if (!component.is()) {
      throw SpreadsheetError(what.Text() + ": " +
                             Tr("it is not a spreadsheet, or it is damaged or locked by another "
                                "LibreOffice"));
    }
    std::string filter;
    bool spreadsheet = session_->Call(what, [&] {
      Reference<css::lang::XServiceInfo> service(component, UNO_QUERY);
      Reference<css::frame::XModel> model(component, UNO_QUERY);
      if (!service.is() || !model.is() ||
          !service->supportsService("com.sun.star.sheet.SpreadsheetDocument")) {
        return false;
      }
      for (const css::beans::PropertyValue& arg : model->getArgs()) {
        rtl::OUString name;
        if (arg.Name == "FilterName" && (arg.Value >>= name)) filter = ToUtf8(name);
      }
      return WorkbookFilter(filter, absolute);
    });
    if (!spreadsheet) {
      try {
        session_->Call(what, [&] {
          Reference<css::util::XCloseable>(component, UNO_QUERY_THROW)->close(true);
        });
      } catch (const SpreadsheetError&) {
      }
      throw SpreadsheetError(
          what.Text() + ": " + Tr("it is not a spreadsheet") +
          (filter.empty() ? std::string() : Tr(" (Calc reads it as {})", {filter})));
    }
    return Adopt(what, component, ToUtf8(url), std::move(ownLock));
  }

  std::shared_ptr<Workbook> Add() override {
    What what{"add a workbook"};
    Reference<css::lang::XComponent> component = session_->Call(
        what,
        [&] {
          Settle(*session_);
          return Load("private:factory/scalc", false);
        },
        session_->DocumentTimeout());
    if (!component.is()) throw SpreadsheetError(what.Text() + ": Calc made no document");
    return Adopt(what, component, {});
  }

  void SetCalculation(int32_t mode, int32_t /*lcid*/) override {
    What what{"set the calculation mode", 0, 0, std::to_string(mode)};
    if (mode != xlCalculationManual && mode != xlCalculationAutomatic) {
      throw SpreadsheetError(what.Text() + ": unknown mode");
    }
    bool automatic = mode == xlCalculationAutomatic;
    session_->Call(what, [&] { Settle(*session_); });
    // Until every document has switched, a write may still recalculate somewhere.
    session_->autoCalculation = true;
    for (auto& document : session_->Documents()) {
      session_->Call(what, [&] {
        if (!automatic) HoldForPass(*document);
        Calculation(*document, automatic);
      });
    }
    session_->autoCalculation = automatic;
    if (automatic) ReleasePassHolds(what);
  }

  bool Running() override {
    try {
      session_->CheckUsable(What{"look at LibreOffice"});
      return true;
    } catch (const SpreadsheetError&) {
      return false;
    }
  }

  bool UserBusy() override {
    What what{"ask whether the user is busy in LibreOffice"};
    if (!session_->CanShow() || !session_->visible) return false;
    return session_->Call(what, [&] {
      for (auto& document : session_->Documents())
        if (UserIsEditingCell(*document)) return true;
      return OfficeDialogOpen(*session_);
    });
  }

  void SetScreenUpdating(bool on, int32_t /*lcid*/) override {
    What what{on ? "switch screen updating on" : "switch screen updating off"};
    Batch& batch = session_->GetBatch();
    if (!on) {
      if (batch.Active()) return;
      for (auto& document : session_->Documents()) {
        session_->Call(what, [&] {
          HoldForPass(*document);
          LockControllers(*document, true);
        });
      }
      batch.Begin();
      return;
    }
    if (!batch.Active()) return;
    std::exception_ptr failure;
    try {
      session_->Call(what, [&] { batch.End(); });
    } catch (...) {
      failure = std::current_exception();
    }
    // Unlocked even when storing failed: the documents must not stay frozen. A pass's writes
    // are not changes of the user's: a workbook unchanged before stays unchanged for Calc, so
    // that closing it asks nothing about them.
    for (auto& document : session_->Documents()) {
      try {
        session_->Call(what, [&] { LockControllers(*document, false); });
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    try {
      ReleasePassHolds(what);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
  }

 private:
  // Once calculation is automatic again and screen updating on, the pass is over for every
  // document: its undo history open again, its modified state as before the pass.
  void ReleasePassHolds(const What& what) {
    if (!session_->autoCalculation || session_->GetBatch().Active()) return;
    std::exception_ptr failure;
    for (auto& document : session_->Documents()) {
      try {
        session_->Call(what, [&] { ReleaseAfterPass(*document); });
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
  }

  Reference<css::lang::XComponent> Load(const rtl::OUString& url, bool file) {
    Sequence<css::beans::PropertyValue> args(file ? 4 : 3);
    auto* a = args.getArray();
    a[0] = Property("Hidden", Any(!session_->visible));
    a[1] = Property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE));
    a[2] = Property("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE));
    // An Excel file under another name is detected as a template and would open as a new,
    // untitled workbook; the file itself is wanted.
    if (file) a[3] = Property("AsTemplate", Any(false));
    Reference<css::frame::XComponentLoader> loader(session_->Desktop(), UNO_QUERY_THROW);
    return session_->Waiting([&] { return loader->loadComponentFromURL(url, "_blank", 0, args); });
  }

  static void Calculation(DocumentState& document, bool automatic) {
    Reference<css::sheet::XCalculatable> calculatable(document.model, UNO_QUERY_THROW);
    // Formula results are brought up to date before they are held. Calc calculates formulas
    // only when they are looked at, and not at all while calculation is manual: the formulas of
    // an .xls or .xlsx file (which Calc does not take the stored results of) or of a workbook
    // saved with manual calculation would read as 0 for the whole pass. Only formulas not yet
    // calculated are calculated.
    if (!automatic) calculatable->calculate();
    if (calculatable->isAutomaticCalculationEnabled() == automatic) return;
    calculatable->enableAutomaticCalculation(automatic);
    if (automatic) calculatable->calculateAll();
  }

  // Takes a freshly loaded document into the instance: close notifications, and the
  // application-wide modes (calculation, screen updating) that are in force.
  std::shared_ptr<Workbook> Adopt(const What& what,
                                  const Reference<css::lang::XComponent>& component,
                                  std::string location, std::shared_ptr<void> ownLock = {}) {
    auto document = std::make_shared<DocumentState>(
        Reference<css::frame::XModel>(component, UNO_QUERY), session_->Options().poster);
    document->location = std::move(location);
    document->HoldLock(std::move(ownLock));
    session_->AddDocument(document);
    session_->Call(what, [&] {
      if (!document->model.is()) throw SpreadsheetError(what.Text() + ": it is not a document");
      Reference<css::document::XDocumentEventListener> listener =
          new CloseListener(std::weak_ptr<DocumentState>(document));
      Reference<css::document::XDocumentEventBroadcaster>(document->model, UNO_QUERY_THROW)
          ->addDocumentEventListener(listener);
      document->listener = listener;
      Reference<css::frame::XController> controller = document->model->getCurrentController();
      Reference<css::frame::XDispatchProviderInterception> frame(
          controller.is() ? controller->getFrame() : Reference<css::frame::XFrame>(), UNO_QUERY);
      if (frame.is()) {
        Reference<css::frame::XDispatchProviderInterceptor> interceptor =
            new CloseInterceptor(std::weak_ptr<DocumentState>(document));
        frame->registerDispatchProviderInterceptor(interceptor);
        document->interceptor = interceptor;
      }
      if (!session_->autoCalculation) Calculation(*document, false);
      if (session_->GetBatch().Active()) LockControllers(*document, true);
    });
    return std::make_shared<LoWorkbook>(session_, document);
  }

  std::shared_ptr<Session> session_;
};

}  // namespace
}  // namespace lo

LibreOfficeLauncher::LibreOfficeLauncher(LibreOfficeOptions options)
    : options_(std::move(options)) {}

std::unique_ptr<Application> LibreOfficeLauncher::Start() {
  try {
    try {
      return std::make_unique<lo::LoApplication>(std::make_shared<lo::Session>(options_));
    } catch (const SpreadsheetError&) {
      // The failed start discarded its kept profile: once more, with one made anew.
      if (options_.keptProfiles.empty()) throw;
    }
    return std::make_unique<lo::LoApplication>(std::make_shared<lo::Session>(options_));
  } catch (const SpreadsheetError&) {
    throw;
  } catch (const std::exception& e) {
    throw SpreadsheetError(Tr("Cannot start LibreOffice: {}", {e.what()}));
  }
}

std::optional<LibreOfficeInstance> LibreOfficeInstanceOf(Application& application) {
  auto* office = dynamic_cast<lo::LoApplication*>(&application);
  if (!office) return std::nullopt;
  return office->Instance();
}

std::string LibreOfficeKeptProfileFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/veltexcel";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/veltexcel";
  return {};
}

bool LibreOfficeInstanceRunning(const LibreOfficeInstance& instance) {
  return lo::ProcessGroupAlive(instance.processGroup);
}

}  // namespace velt
