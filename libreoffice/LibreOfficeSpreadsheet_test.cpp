// The LibreOffice backend against a real headless soffice. A second UNO connection (the probe)
// looks at the documents from outside and plays the user.
#include "LibreOfficeSpreadsheet.h"
#include "OfficeConnection.h"
#include "PostQueue.h"
#include "TemporaryDirectory.h"
#include "VirtualDisplay.h"

#include "LibreOfficeProcess.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/XUndoManager.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSheetAnnotation.hpp>
#include <com/sun/star/sheet/XSheetAnnotations.hpp>
#include <com/sun/star/sheet/XSheetAnnotationsSupplier.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/CellProtection.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

namespace velt {
namespace {

namespace css = ::com::sun::star;
namespace fs = std::filesystem;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using namespace std::chrono_literals;

rtl::OUString U(const std::string& text) {
  return rtl::OStringToOUString(rtl::OString(text.c_str()), RTL_TEXTENCODING_UTF8);
}
std::string S(const rtl::OUString& text) {
  return rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr();
}

std::string UrlOf(const std::string& path) {
  rtl::OUString url;
  osl::FileBase::getFileURLFromSystemPath(U(path), url);
  return S(url);
}

bool GroupAlive(pid_t group) {
  return lo::ProcessGroupAlive(group);
}

// Waits, with retries, until `done` holds or the limit passes.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 15000ms) {
  return testsupport::Eventually(done, limit, 20ms);
}

void ExpectLeftNothing(const LibreOfficeInstance& instance) {
  EXPECT_FALSE(GroupAlive(instance.processGroup)) << "soffice group " << instance.processGroup;
  EXPECT_FALSE(fs::exists(instance.profileDir)) << instance.profileDir;
  for (const std::string& socket : instance.socketFiles) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(socket))) << socket;
  }
}

// Work handed to "the program's thread": the test runs it when it chooses.
using testsupport::PostQueue;

// A second connection to the instance: sees documents as the office has them, and acts as the
// user would.
class Probe {
 public:
  explicit Probe(const std::string& pipe) try
      : office_(pipe), context_(office_.Context()), desktop_(office_.Desktop()) {
  } catch (const css::uno::Exception& e) {
    throw std::runtime_error("probe: " + S(e.Message));
  }

  int DocumentCount() {
    int count = 0;
    auto e = desktop_->getComponents()->createEnumeration();
    while (e->hasMoreElements()) {
      e->nextElement();
      ++count;
    }
    return count;
  }

  Reference<css::frame::XModel> Model(const std::string& path) {
    std::string url = UrlOf(path);
    auto e = desktop_->getComponents()->createEnumeration();
    while (e->hasMoreElements()) {
      Reference<css::frame::XModel> model(e->nextElement(), UNO_QUERY);
      if (model.is() && S(model->getURL()) == url) return model;
    }
    throw std::runtime_error("no document " + url);
  }

  Reference<css::sheet::XSpreadsheet> Sheet(const std::string& path, const std::string& name) {
    Reference<css::sheet::XSpreadsheetDocument> document(Model(path), UNO_QUERY_THROW);
    return Reference<css::sheet::XSpreadsheet>(document->getSheets()->getByName(U(name)),
                                               UNO_QUERY_THROW);
  }

  // The heights (1/100 mm) of the first `rows` rows.
  std::vector<int32_t> RowHeights(const std::string& path, const std::string& sheet, int rows) {
    Reference<css::table::XColumnRowRange> range(Sheet(path, sheet), UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> all(range->getRows(), UNO_QUERY_THROW);
    std::vector<int32_t> heights;
    for (int i = 0; i < rows; ++i) {
      sal_Int32 height = 0;
      Reference<css::beans::XPropertySet>(all->getByIndex(i), UNO_QUERY_THROW)
          ->getPropertyValue("Height") >>= height;
      heights.push_back(height);
    }
    return heights;
  }

  std::vector<std::string> SheetNames(const std::string& path) {
    Reference<css::sheet::XSpreadsheetDocument> document(Model(path), UNO_QUERY_THROW);
    std::vector<std::string> names;
    for (const rtl::OUString& n : document->getSheets()->getElementNames()) names.push_back(S(n));
    return names;
  }

  std::string ActiveSheet(const std::string& path) {
    Reference<css::sheet::XSpreadsheetView> view(Model(path)->getCurrentController(),
                                                 UNO_QUERY_THROW);
    return S(Reference<css::container::XNamed>(view->getActiveSheet(), UNO_QUERY_THROW)->getName());
  }

  void SetFormat(const std::string& path, const std::string& sheet, int row, int column,
                 const std::string& code) {
    Reference<css::util::XNumberFormatsSupplier> supplier(Model(path), UNO_QUERY_THROW);
    auto formats = supplier->getNumberFormats();
    css::lang::Locale locale;
    sal_Int32 key = formats->queryKey(U(code), locale, false);
    if (key == -1) key = formats->addNew(U(code), locale);
    Reference<css::beans::XPropertySet> cell(
        Sheet(path, sheet)->getCellByPosition(column - 1, row - 1), UNO_QUERY_THROW);
    cell->setPropertyValue("NumberFormat", Any(key));
  }

  void SetValue(const std::string& path, const std::string& sheet, int row, int column, double v) {
    Sheet(path, sheet)->getCellByPosition(column - 1, row - 1)->setValue(v);
  }
  void SetFormula(const std::string& path, const std::string& sheet, int row, int column,
                  const std::string& formula) {
    Sheet(path, sheet)->getCellByPosition(column - 1, row - 1)->setFormula(U(formula));
  }
  std::string Text(const std::string& path, const std::string& sheet, int row, int column) {
    Reference<css::text::XText> text(Sheet(path, sheet)->getCellByPosition(column - 1, row - 1),
                                     UNO_QUERY_THROW);
    return S(text->getString());
  }

  // Every cell of the area as "kind:value|formula", to compare two sheets.
  std::vector<std::string> Contents(const std::string& path, const std::string& sheet, int rows,
                                    int columns) {
    auto range = Sheet(path, sheet)->getCellRangeByPosition(0, 0, columns - 1, rows - 1);
    auto data = Reference<css::sheet::XCellRangeData>(range, UNO_QUERY_THROW)->getDataArray();
    auto formulas =
        Reference<css::sheet::XCellRangeFormula>(range, UNO_QUERY_THROW)->getFormulaArray();
    std::vector<std::string> cells;
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < columns; ++c) {
        const Any& value = data[r][c];
        std::ostringstream cell;
        cell << r + 1 << "," << c + 1 << " ";
        double number;
        rtl::OUString text;
        if (value >>= number) {
          cell << "n:" << number;
        } else if (value >>= text) {
          cell << "s:" << S(text);
        } else {
          cell << "void";
        }
        cell << "|" << S(formulas[r][c]);
        cells.push_back(cell.str());
      }
    }
    return cells;
  }

  // Every cell of column `column`, rows 1..rows, as "row type format".
  std::vector<std::string> Kinds(const std::string& path, const std::string& sheet, int rows,
                                 int column) {
    std::vector<std::string> cells;
    for (int r = 1; r <= rows; ++r) {
      auto cell = Sheet(path, sheet)->getCellByPosition(column - 1, r - 1);
      sal_Int32 format = 0;
      Reference<css::beans::XPropertySet>(cell, UNO_QUERY_THROW)
          ->getPropertyValue("NumberFormat") >>= format;
      cells.push_back(std::to_string(r) + " " + std::to_string(static_cast<int>(cell->getType())) +
                      " " + std::to_string(format));
    }
    return cells;
  }

  void AddNote(const std::string& path, const std::string& sheet, int row, int column,
               const std::string& text) {
    auto target = Sheet(path, sheet);
    Reference<css::sheet::XSheetAnnotationsSupplier> supplier(target, UNO_QUERY_THROW);
    css::table::CellAddress at;
    at.Sheet = Reference<css::sheet::XCellRangeAddressable>(target, UNO_QUERY_THROW)
                   ->getRangeAddress()
                   .Sheet;
    at.Column = column - 1;
    at.Row = row - 1;
    supplier->getAnnotations()->insertNew(at, U(text));
  }

  // "row,column:text" of every note on the sheet.
  std::vector<std::string> Notes(const std::string& path, const std::string& sheet) {
    Reference<css::sheet::XSheetAnnotationsSupplier> supplier(Sheet(path, sheet), UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> notes(supplier->getAnnotations(), UNO_QUERY_THROW);
    std::vector<std::string> all;
    for (sal_Int32 i = 0; i < notes->getCount(); ++i) {
      Reference<css::sheet::XSheetAnnotation> note(notes->getByIndex(i), UNO_QUERY_THROW);
      auto at = note->getPosition();
      all.push_back(std::to_string(at.Row + 1) + "," + std::to_string(at.Column + 1) + ":" +
                    S(Reference<css::text::XTextRange>(note, UNO_QUERY_THROW)->getString()));
    }
    std::sort(all.begin(), all.end());
    return all;
  }

  int32_t ColumnWidth(const std::string& path, const std::string& sheet, int column) {
    Reference<css::table::XColumnRowRange> range(Sheet(path, sheet), UNO_QUERY_THROW);
    Reference<css::beans::XPropertySet> col(range->getColumns()->getByIndex(column - 1),
                                            UNO_QUERY_THROW);
    return col->getPropertyValue("Width").get<sal_Int32>();
  }

  bool Modified(const std::string& path) {
    return Reference<css::util::XModifiable>(Model(path), UNO_QUERY_THROW)->isModified();
  }
  bool AutomaticCalculation(const std::string& path) {
    return Reference<css::sheet::XCalculatable>(Model(path), UNO_QUERY_THROW)
        ->isAutomaticCalculationEnabled();
  }
  // Locks or unlocks the cells of a rectangle (1-based, inclusive) for sheet protection.
  void SetLocked(const std::string& path, const std::string& sheet, int top, int left, int bottom,
                 int right, bool locked) {
    Reference<css::beans::XPropertySet> range(
        Sheet(path, sheet)->getCellRangeByPosition(left - 1, top - 1, right - 1, bottom - 1),
        UNO_QUERY_THROW);
    css::util::CellProtection protection;
    range->getPropertyValue("CellProtection") >>= protection;
    protection.IsLocked = locked;
    range->setPropertyValue("CellProtection", Any(protection));
  }
  void Protect(const std::string& path, const std::string& sheet) {
    Reference<css::util::XProtectable>(Sheet(path, sheet), UNO_QUERY_THROW)->protect("");
  }
  bool WindowVisible(const std::string& path) {
    Reference<css::awt::XWindow2> window(
        Model(path)->getCurrentController()->getFrame()->getContainerWindow(), UNO_QUERY_THROW);
    return window->isVisible();
  }

  // A value of the office's configuration, e.g. ("/org.openoffice.Office.Common/Misc", "X").
  Any Setting(const std::string& node, const std::string& name) {
    auto provider = css::configuration::theDefaultProvider::get(context_);
    css::beans::NamedValue path;
    path.Name = "nodepath";
    path.Value <<= U(node);
    Sequence<Any> args(1);
    args.getArray()[0] <<= path;
    Reference<css::container::XNameAccess> access(
        provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationAccess",
                                              args),
        UNO_QUERY_THROW);
    return access->getByName(U(name));
  }

  // What the user's File > Close does, sent from outside the program.
  void CloseLikeUser(const std::string& path) { Dispatch(path, ".uno:CloseDoc"); }
  // A command on the document's frame, as its menu or keys send it.
  void Dispatch(const std::string& path, const char* command) {
    Reference<css::frame::XDispatchProvider> frame(Model(path)->getCurrentController()->getFrame(),
                                                   UNO_QUERY_THROW);
    css::frame::DispatchHelper::create(context_)->executeDispatch(
        frame, rtl::OUString::createFromAscii(command), "", 0, {});
  }

 private:
  testsupport::OfficeConnection office_;
  Reference<css::uno::XComponentContext> context_;
  Reference<css::frame::XDesktop2> desktop_;
};

// A folder that goes with the test; dir / "name" is a path in it.
class TempDir {
 public:
  std::string operator/(const std::string& name) const { return dir_.File(name); }

 private:
  testsupport::TemporaryDirectory dir_{"velt-lo-test"};
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(n, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(n));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

const std::string kXlsMagic("\xD0\xCF\x11\xE0", 4);
const std::string kZipMagic("PK\x03\x04", 4);
const unsigned char kPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
    0x00, 0x90, 0x77, 0x53, 0xde, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xc9, 0xfe, 0x92,
    0xef, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// One office for the suite: a start costs about a second. Each test works in workbooks of
// its own.
class LibreOfficeTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    queue_ = new PostQueue;
    LibreOfficeOptions options;
    options.poster = queue_->MakePoster();
    options.lcid = 0x0409;
    application_ = LibreOfficeLauncher(options).Start().release();
    instance_ = new LibreOfficeInstance(*LibreOfficeInstanceOf(*application_));
    probe_ = new Probe(instance_->pipeName);
  }
  static void TearDownTestSuite() {
    delete probe_;
    delete application_;
    ExpectLeftNothing(*instance_);
    delete instance_;
    delete queue_;
  }
  void TearDown() override {
    // Leave the shared instance as a test found it.
    if (application_) {
      try {
        application_->SetScreenUpdating(true, 0);
        application_->SetCalculation(xlCalculationAutomatic, 0);
      } catch (const SpreadsheetError&) {
      }
    }
    queue_->RunAll();
  }

  Application& App() { return *application_; }
  Probe& Office() { return *probe_; }

  // A new workbook saved at `path`, with its first sheet renamed `sheet`.
  std::pair<std::shared_ptr<Workbook>, std::shared_ptr<Worksheet>> NewWorkbook(
      const std::string& path, const std::string& sheet = "ВЕЛТ") {
    auto workbook = App().Add();
    auto worksheet = workbook->AddWorksheet();
    worksheet->SetName(sheet);
    workbook->SaveAs(path);
    return {workbook, worksheet};
  }

  static PostQueue* queue_;
  static Application* application_;
  static LibreOfficeInstance* instance_;
  static Probe* probe_;
  TempDir dir_;
};

PostQueue* LibreOfficeTest::queue_ = nullptr;
Application* LibreOfficeTest::application_ = nullptr;
LibreOfficeInstance* LibreOfficeTest::instance_ = nullptr;
Probe* LibreOfficeTest::probe_ = nullptr;

class SaveFormatTest : public LibreOfficeTest,
                       public testing::WithParamInterface<std::pair<const char*, std::string>> {};

TEST_P(SaveFormatTest, SavedWorkbookReopensWithItsValues) {
  auto [extension, magic] = GetParam();
  std::string path = dir_ / (std::string("book") + extension);
  {
    auto [workbook, sheet] = NewWorkbook(path);
    sheet->SetCellNumber(1, 1, 1.5);
    sheet->SetCellInteger(2, 1, -7);
    sheet->SetCellText(3, 1, "н\\д");
    sheet->SetCellText(4, 1, "=1+1");
    sheet->SetCellText(5, 1, "001");
    sheet->SetCellNumber(6, 1, 12345678.25);
    workbook->SaveAs(path);
  }
  EXPECT_EQ(ReadBytes(path, 4), magic);
  // The saved file itself is still open in the office (and locked); reopen a copy.
  std::string copy = dir_ / (std::string("copy") + extension);
  fs::copy_file(path, copy);
  auto reopened = App().Open(copy);
  auto sheet = reopened->WorksheetByName("велт");  // Calc's lookup ignores case, as Excel's
  EXPECT_EQ(sheet->Name(), "ВЕЛТ");
  EXPECT_EQ(sheet->CellText(1, 1), "1.5");
  EXPECT_EQ(sheet->CellText(2, 1), "-7");
  EXPECT_EQ(sheet->CellText(3, 1), "н\\д");
  EXPECT_EQ(sheet->CellText(4, 1), "=1+1");
  EXPECT_EQ(sheet->CellText(5, 1), "001");
  EXPECT_EQ(sheet->CellText(6, 1), "12345678.25");
  EXPECT_EQ(sheet->CellText(7, 1), "");
  EXPECT_EQ(Office().Sheet(copy, "ВЕЛТ")->getCellByPosition(0, 3)->getType(),
            css::table::CellContentType_TEXT);
}

INSTANTIATE_TEST_SUITE_P(Formats, SaveFormatTest,
                         testing::Values(std::make_pair(".xls", kXlsMagic),
                                         std::make_pair(".xlsx", kZipMagic),
                                         std::make_pair(".ods", kZipMagic),
                                         // Any other name: the normal (97-2003) workbook.
                                         std::make_pair(".dat", kXlsMagic)),
                         [](const auto& test) { return std::string(test.param.first + 1); });

TEST_F(LibreOfficeTest, SaveKeepsTheFormatOfTheFile) {
  std::string path = dir_ / "keep.xls";
  auto [workbook, sheet] = NewWorkbook(path);
  sheet->SetCellText(1, 1, "after save");
  workbook->Save();
  EXPECT_EQ(ReadBytes(path, 4), kXlsMagic);
  fs::copy_file(path, dir_ / "keep-copy.xls");
  EXPECT_EQ(App().Open(dir_ / "keep-copy.xls")->WorksheetByName("ВЕЛТ")->CellText(1, 1),
            "after save");
}

TEST_F(LibreOfficeTest, SaveOfAnUnsavedWorkbookFails) {
  auto workbook = App().Add();
  EXPECT_THROW(workbook->Save(), SpreadsheetError);
}

TEST_F(LibreOfficeTest, SetSavedMapsToModified) {
  std::string path = dir_ / "saved.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  sheet->SetCellNumber(1, 1, 3);
  EXPECT_TRUE(Office().Modified(path));
  workbook->SetSaved(true);
  EXPECT_FALSE(Office().Modified(path));
  workbook->SetSaved(false);
  EXPECT_TRUE(Office().Modified(path));
}

TEST_F(LibreOfficeTest, WorksheetLookup) {
  std::string path = dir_ / "lookup.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  EXPECT_EQ(workbook->WorksheetByName("ВЕЛТ")->Name(), "ВЕЛТ");
  EXPECT_EQ(workbook->WorksheetByName("вЕлТ")->Name(), "ВЕЛТ");
  EXPECT_THROW(workbook->WorksheetByName("ВЕЛТ2"), SpreadsheetError);
  EXPECT_THROW(workbook->WorksheetByName(""), SpreadsheetError);
  // Names Calc refuses without a word: the call must not pretend the sheet took them.
  auto other = workbook->AddWorksheet();
  std::string before = other->Name();
  for (const char* refused : {"a/b", "x:y", "[q]", "a?b", "a*b", "a\\b", "'lead", "велт"}) {
    EXPECT_THROW(other->SetName(refused), SpreadsheetError) << refused;
    EXPECT_EQ(other->Name(), before);
  }
  other->SetName("Другой лист");
  EXPECT_EQ(workbook->WorksheetByName("другой ЛИСТ")->Name(), "Другой лист");
}

TEST_F(LibreOfficeTest, AddedWorksheetGoesBeforeTheActiveOneAndBecomesActive) {
  std::string path = dir_ / "add.xlsx";
  auto workbook = App().Add();
  workbook->SaveAs(path);
  auto names = Office().SheetNames(path);
  ASSERT_EQ(names.size(), 1u);
  auto added = workbook->AddWorksheet();
  std::string name = added->Name();
  EXPECT_EQ(Office().SheetNames(path), (std::vector<std::string>{name, names[0]}));
  EXPECT_EQ(Office().ActiveSheet(path), name);
  workbook->WorksheetByName(names[0])->Select();
  EXPECT_EQ(Office().ActiveSheet(path), names[0]);
  added->Select();
  EXPECT_EQ(Office().ActiveSheet(path), name);
  EXPECT_NE(workbook->AddWorksheet()->Name(), name);
}

TEST_F(LibreOfficeTest, ColumnWidthInCharacters) {
  std::string path = dir_ / "width.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  sheet->SetColumnWidth(1, 12);
  sheet->SetColumnWidth(2, 32);
  EXPECT_EQ(Office().ColumnWidth(path, "ВЕЛТ", 1), 2489);
  EXPECT_EQ(Office().ColumnWidth(path, "ВЕЛТ", 2), 6405);
  EXPECT_THROW(sheet->SetColumnWidth(0, 12), SpreadsheetError);
  EXPECT_THROW(sheet->SetColumnWidth(1, -1), SpreadsheetError);
}

// A cell reads as its value as text in the user's locale, not as Calc
// displays it; the same through the direct and the batched path, with manual calculation as the
// pass has it, in every file format (the workbook is saved and opened again, so that formulas
// come from the file).
struct ValueTextCase {
  const char* what;
  std::function<void(Probe&, Worksheet&, const std::string& path, int row)> put;
  const char* russian;
  const char* english;
};

std::function<void(Probe&, Worksheet&, const std::string&, int)> Number(double value,
                                                                        std::string format = {}) {
  return [=](Probe& office, Worksheet&, const std::string& path, int row) {
    office.SetValue(path, "ВЕЛТ", row, 1, value);
    if (!format.empty()) office.SetFormat(path, "ВЕЛТ", row, 1, format);
  };
}
std::function<void(Probe&, Worksheet&, const std::string&, int)> Formula(std::string formula,
                                                                         std::string format = {}) {
  return [=](Probe& office, Worksheet&, const std::string& path, int row) {
    office.SetFormula(path, "ВЕЛТ", row, 1, formula);
    if (!format.empty()) office.SetFormat(path, "ВЕЛТ", row, 1, format);
  };
}
std::function<void(Probe&, Worksheet&, const std::string&, int)> Text(std::string text) {
  return [=](Probe&, Worksheet& sheet, const std::string&, int row) {
    sheet.SetCellText(row, 1, text);
  };
}

const std::vector<ValueTextCase>& ValueTextCases() {
  // 46357 is 01.12.2026.
  static const std::vector<ValueTextCase> cases = {
      {"integer as 0.00", Number(2, "0.00"), "2", "2"},
      {"integer, general", Number(2), "2", "2"},
      {"fraction, general", Number(2.5), "2,5", "2.5"},
      {"fraction as 0", Number(2.5, "0"), "2,5", "2.5"},
      {"negative as 0.0", Number(-3.75, "0.0"), "-3,75", "-3.75"},
      {"thousands", Number(1234567.5, "#,##0.00"), "1234567,5", "1234567.5"},
      {"large integer", Number(123456789012, "0"), "123456789012", "123456789012"},
      {"percentage", Number(0.25, "0%"), "0,25", "0.25"},
      {"currency", Number(1234.5, "#,##0.00 [$₽-419]"), "1234,5", "1234.5"},
      {"scientific", Number(0.000125, "0.00E+00"), "0,000125", "0.000125"},
      {"date-time", Number(46357.5, "DD.MM.YYYY HH:MM"), "01.12.2026 12:00:00",
       "12/1/2026 12:00:00 PM"},
      {"date-time at midnight", Number(46357, "YYYY-MM-DD HH:MM:SS"), "01.12.2026", "12/1/2026"},
      {"date, short year", Number(46357, "DD.MM.YY"), "01.12.2026", "12/1/2026"},
      {"date with a time", Number(46357.375, "DD.MM.YY"), "01.12.2026 9:00:00",
       "12/1/2026 9:00:00 AM"},
      {"time", Number(0.375, "HH:MM"), "9:00:00", "9:00:00 AM"},
      {"time with seconds", Number(0.5 + 61.0 / 86400, "HH:MM:SS"), "12:01:01", "12:01:01 PM"},
      {"boolean", Number(1, "BOOLEAN"), "ИСТИНА", "TRUE"},
      {"text like a number", Text("0012"), "0012", "0012"},
      {"text like a decimal", Text("2,50"), "2,50", "2,50"},
      {"text like a date", Text("01.12.2026 10:00"), "01.12.2026 10:00", "01.12.2026 10:00"},
      {"text", Text("#TT1:2:3"), "#TT1:2:3", "#TT1:2:3"},
      {"formula, integer", Formula("=1+1"), "2", "2"},
      {"formula, fraction as 0.00", Formula("=5/2", "0.00"), "2,5", "2.5"},
      {"formula, an eighth", Formula("=1/8"), "0,125", "0.125"},
      {"formula, a third", Formula("=1/3"), "0,3333333333333333", "0.3333333333333333"},
      {"formula, date-time", Formula("=46357+10/24", "DD.MM.YYYY HH:MM"), "01.12.2026 10:00:00",
       "12/1/2026 10:00:00 AM"},
      {"formula, address text", Formula("=\"#TT1:\"&\"2:3\""), "#TT1:2:3", "#TT1:2:3"},
      {"formula, empty text", Formula("=\"\""), "", ""},
      {"formula, division by zero", Formula("=1/0"), "", ""},
      {"formula, not available", Formula("=NA()"), "", ""},
      {"empty", [](Probe&, Worksheet&, const std::string&, int) {}, "", ""},
  };
  return cases;
}

class CellValueTextTest : public testing::TestWithParam<std::tuple<const char*, int32_t>> {};

TEST_P(CellValueTextTest, DirectAndBatchedReadsGiveTheValueAsText) {
  const auto [extension, lcid] = GetParam();
  const auto& cases = ValueTextCases();
  TempDir dir;
  const std::string path = dir / (std::string("values") + extension);
  LibreOfficeOptions options;
  options.lcid = lcid;
  auto application = LibreOfficeLauncher(options).Start();
  Probe office(LibreOfficeInstanceOf(*application)->pipeName);
  {
    auto workbook = application->Add();
    auto sheet = workbook->AddWorksheet();
    sheet->SetName("ВЕЛТ");
    workbook->SaveAs(path);
    for (size_t i = 0; i < cases.size(); ++i) {
      cases[i].put(office, *sheet, path, static_cast<int>(i) + 1);
    }
    workbook->Save();
  }
  auto workbook = application->Open(path);
  auto sheet = workbook->WorksheetByName("ВЕЛТ");

  // As the pass has it: manual calculation, then cell by cell or batched.
  application->SetCalculation(xlCalculationManual, lcid);
  std::vector<std::string> direct, batched, batchedUpward;
  for (size_t i = 0; i < cases.size(); ++i) {
    direct.push_back(sheet->CellText(static_cast<int32_t>(i) + 1, 1));
  }
  application->SetScreenUpdating(false, lcid);
  for (size_t i = 0; i < cases.size(); ++i) {
    batched.push_back(sheet->CellText(static_cast<int32_t>(i) + 1, 1));
  }
  application->SetScreenUpdating(true, lcid);
  application->SetScreenUpdating(false, lcid);
  for (size_t i = cases.size(); i-- > 0;) {
    batchedUpward.insert(batchedUpward.begin(), sheet->CellText(static_cast<int32_t>(i) + 1, 1));
  }
  application->SetScreenUpdating(true, lcid);
  application->SetCalculation(xlCalculationAutomatic, lcid);

  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    std::string expected = lcid == 0x0419 ? cases[i].russian : cases[i].english;
    // Calc saves a boolean value into .xls as a number whose format shows TRUE or FALSE; it
    // comes back as that number.
    if (std::string(extension) == ".xls" && std::string(cases[i].what) == "boolean") {
      expected = "1";
    }
    EXPECT_EQ(direct[i], expected);
    EXPECT_EQ(batched[i], expected);
    EXPECT_EQ(batchedUpward[i], expected);
  }
}

INSTANTIATE_TEST_SUITE_P(FormatsAndLocales, CellValueTextTest,
                         testing::Combine(testing::Values(".ods", ".xlsx", ".xls"),
                                          testing::Values(0x0419, 0x0409)),
                         [](const auto& test) {
                           std::string name = std::get<0>(test.param) + 1;
                           return name +
                                  (std::get<1>(test.param) == 0x0419 ? "_russian" : "_english");
                         });

TEST_F(LibreOfficeTest, ReadsAndWritesOutsideTheSheetFail) {
  std::string path = dir_ / "range.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  for (bool batched : {false, true}) {
    App().SetScreenUpdating(!batched, 0);
    EXPECT_THROW(sheet->CellText(0, 1), SpreadsheetError);
    EXPECT_THROW(sheet->CellText(1, 16385), SpreadsheetError);
    EXPECT_THROW(sheet->SetCellNumber(1048577, 1, 1), SpreadsheetError);
    EXPECT_THROW(sheet->SetCellText(1, 0, "x"), SpreadsheetError);
    EXPECT_EQ(sheet->CellText(1048576, 16384), "");
  }
  App().SetScreenUpdating(true, 0);
}

// The same calls on two sheets, one cell by cell and one in bulk, must read the same texts and
// leave the same cells: numbers, 16-bit integers, literal texts, empty texts, formulas that are
// never written, number formats, reads along columns and rows and of cells just written.
class BatchEquivalenceTest : public LibreOfficeTest, public testing::WithParamInterface<int32_t> {};

TEST_P(BatchEquivalenceTest, BatchedAndDirectCallsLeaveTheSameSheet) {
  const int32_t calculation = GetParam();
  const int rows = 150;
  std::string path = dir_ / "same.xlsx";
  auto workbook = App().Add();
  auto direct = workbook->AddWorksheet();
  direct->SetName("direct");
  auto batched = workbook->AddWorksheet();
  batched->SetName("batched");
  workbook->SaveAs(path);
  for (const char* name : {"direct", "batched"}) {
    for (int row = 1; row <= rows; row += 3) {
      Office().SetFormula(path, name, row, 8, "=A" + std::to_string(row) + "*2");
      Office().SetFormula(path, name, row + 1, 8, "=B" + std::to_string(row) + "&\"!\"");
    }
    for (int row = 1; row <= rows; ++row) {
      Office().SetFormat(path, name, row, 6, "0.00");
      Office().SetFormat(path, name, row, 7, "DD.MM.YYYY");
    }
    for (int row = 2; row <= rows; row += 17) Office().AddNote(path, name, row, 4, "note");
    Office().SetValue(path, name, 10, 6, 3);
    Office().SetValue(path, name, 11, 7, 45306);
  }

  const std::vector<std::string> texts = {"н\\д", "=1+1", "001",  "",     "abc",
                                          " 12",  "1,5",  "TRUE", "ВЕЛТ", "a\nb"};
  auto run = [&](Worksheet& sheet, bool bulk) {
    std::vector<std::string> seen;
    std::mt19937 random(20240115);
    App().SetCalculation(calculation, 0);
    App().SetScreenUpdating(!bulk, 0);
    for (int step = 0; step < 1500; ++step) {
      int kind = static_cast<int>(random() % 100);
      int row = 1 + static_cast<int>(random() % rows);
      int column = 1 + static_cast<int>(random() % 7);
      if (kind < 30) {
        sheet.SetCellNumber(row, column,
                            static_cast<double>(static_cast<int>(random() % 20001) - 10000) / 8);
      } else if (kind < 40) {
        sheet.SetCellInteger(row, column, static_cast<int16_t>(random() % 65536 - 32768));
      } else if (kind < 55) {
        sheet.SetCellText(row, column, texts[random() % texts.size()]);
      } else if (kind < 90) {
        seen.push_back(sheet.CellText(row, 1 + static_cast<int>(random() % 8)));
      } else if (kind < 95) {
        for (int c = 1; c <= 8; ++c) seen.push_back(sheet.CellText(row, c));  // along a row
      } else {
        for (int r = row; r <= std::min(rows, row + 40); ++r) seen.push_back(sheet.CellText(r, 1));
      }
    }
    App().SetScreenUpdating(true, 0);
    App().SetCalculation(xlCalculationAutomatic, 0);
    return seen;
  };
  auto directReads = run(*direct, false);
  auto batchedReads = run(*batched, true);
  ASSERT_EQ(directReads.size(), batchedReads.size());
  for (size_t i = 0; i < directReads.size(); ++i) {
    ASSERT_EQ(directReads[i], batchedReads[i]) << "read " << i;
  }
  EXPECT_EQ(Office().Contents(path, "direct", rows + 1, 9),
            Office().Contents(path, "batched", rows + 1, 9));
  EXPECT_EQ(Office().Notes(path, "direct"), Office().Notes(path, "batched"));
  EXPECT_EQ(Office().Notes(path, "batched").size(), static_cast<size_t>((rows - 2) / 17 + 1));
}

INSTANTIATE_TEST_SUITE_P(Calculation, BatchEquivalenceTest,
                         testing::Values(xlCalculationManual, xlCalculationAutomatic),
                         [](const auto& test) {
                           return test.param == xlCalculationManual ? "manual" : "automatic";
                         });

TEST_F(LibreOfficeTest, BulkWritesStayLiteral) {
  std::string path = dir_ / "literal.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  App().SetScreenUpdating(false, 0);
  sheet->SetCellText(1, 1, "=1+1");
  sheet->SetCellText(2, 1, "001");
  sheet->SetCellText(3, 1, "н\\д");
  sheet->SetCellInteger(4, 1, 32767);
  sheet->SetCellNumber(5, 1, 0.1);
  App().SetScreenUpdating(true, 0);
  auto cells = Office().Contents(path, "ВЕЛТ", 5, 1);
  EXPECT_EQ(cells, (std::vector<std::string>{"1,1 s:=1+1|=1+1", "2,1 s:001|'001", "3,1 s:н\\д|н\\д",
                                             "4,1 n:32767|32767", "5,1 n:0.1|0.1"}));
}

// A pass's writes leave the rows as high as the user left them: Calc would fit each row it
// stores into to what it shows (the 17 px rows of an .xls grow by a few pixels).
TEST_F(LibreOfficeTest, PassWritesKeepTheRowHeights) {
  const std::string path = dir_ / "heights.xls";
  auto [workbook, sheet] = NewWorkbook(path);
  App().SetScreenUpdating(false, 0);
  for (int32_t row = 1; row <= 40; ++row) {
    sheet->SetCellText(row, 1, "#TT1:2:" + std::to_string(row));
  }
  App().SetScreenUpdating(true, 0);
  workbook->SaveAs(path);
  const std::string copy = dir_ / "heights-copy.xls";
  fs::copy_file(path, copy);
  auto reopened = App().Open(copy);
  auto data = reopened->WorksheetByName("ВЕЛТ");
  const std::vector<int32_t> before = Office().RowHeights(copy, "ВЕЛТ", 42);
  App().SetCalculation(xlCalculationManual, 0);
  App().SetScreenUpdating(false, 0);
  for (int32_t row = 1; row <= 40; ++row) {
    (void)data->CellText(row, 1);
    if (row % 3 == 0) {
      data->SetCellText(row, 4, "н\\д");
    } else {
      data->SetCellNumber(row, 4, row * 1.25);
    }
    if (row % 5 == 0) data->SetCellNumber(row, 5, 1e6 + row);
  }
  App().SetScreenUpdating(true, 0);
  App().SetCalculation(xlCalculationAutomatic, 0);
  EXPECT_EQ(data->CellText(3, 4), "н\\д");
  EXPECT_EQ(Office().RowHeights(copy, "ВЕЛТ", 42), before);
}

TEST_F(LibreOfficeTest, BufferedWriteIsReadBack) {
  std::string path = dir_ / "readback.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  App().SetScreenUpdating(false, 0);
  EXPECT_EQ(sheet->CellText(1, 4), "");
  sheet->SetCellNumber(1, 4, 2.5);
  EXPECT_EQ(sheet->CellText(1, 4), "2.5");
  sheet->SetCellText(1, 4, "н\\д");
  EXPECT_EQ(sheet->CellText(1, 4), "н\\д");
  // Another object for the same sheet sees the same cells.
  auto again = workbook->WorksheetByName("ВЕЛТ");
  sheet->SetCellText(2, 4, "x");
  EXPECT_EQ(again->CellText(2, 4), "x");
  App().SetScreenUpdating(true, 0);
  EXPECT_EQ(Office().Text(path, "ВЕЛТ", 1, 4), "н\\д");
}

TEST_F(LibreOfficeTest, BufferIsStoredBeforeOtherOperations) {
  std::string path = dir_ / "order.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  App().SetScreenUpdating(false, 0);
  sheet->SetCellText(1, 1, "saved with the file");
  workbook->SaveAs(path);
  App().SetScreenUpdating(true, 0);
  fs::copy_file(path, dir_ / "order-copy.xlsx");
  EXPECT_EQ(App().Open(dir_ / "order-copy.xlsx")->WorksheetByName("ВЕЛТ")->CellText(1, 1),
            "saved with the file");
}

TEST_F(LibreOfficeTest, FailedBulkWriteIsReportedAndUnlocks) {
  std::string path = dir_ / "protected.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  App().SetScreenUpdating(false, 0);
  sheet->SetCellText(1, 1, "x");
  Office().Protect(path, "ВЕЛТ");
  EXPECT_THROW(App().SetScreenUpdating(true, 0), SpreadsheetError);
  // Back to cell-by-cell, and the instance still works.
  EXPECT_EQ(sheet->CellText(1, 1), "");
  auto other = App().Add()->AddWorksheet();
  other->SetCellText(1, 1, "y");
  EXPECT_EQ(other->CellText(1, 1), "y");
}

// A locked cell of a protected sheet cannot be written, alone or within a range, cell by cell
// or batched; the batched write is refused by the write call itself, and what was buffered
// before it is stored.
class LockedCellTest : public LibreOfficeTest, public testing::WithParamInterface<bool> {};

TEST_P(LockedCellTest, LockedCellsAreRefusedAloneAndInRanges) {
  const bool batched = GetParam();
  std::string path = dir_ / "locked.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  sheet->SetCellText(4, 4, "old");
  sheet->SetCellText(1, 6, "old");
  Office().SetLocked(path, "ВЕЛТ", 1, 4, 3, 5, false);  // D1:E3 unlocked
  Office().Protect(path, "ВЕЛТ");

  App().SetScreenUpdating(!batched, 0);
  struct Write {
    int32_t row, column;
    bool refused;
  };
  // D1:D3 and E1:E3 make ranges; D4 and F1 are locked, alone and beside written cells.
  const Write writes[] = {{1, 4, false}, {2, 4, false}, {3, 4, false}, {1, 5, false},
                          {2, 5, false}, {4, 4, true},  {1, 6, true},  {3, 5, false}};
  for (const Write& w : writes) {
    SCOPED_TRACE(testing::Message() << "cell " << w.row << "," << w.column);
    if (w.refused) {
      EXPECT_THROW(sheet->SetCellNumber(w.row, w.column, 7), SpreadsheetError);
      EXPECT_THROW(sheet->SetCellText(w.row, w.column, "x"), SpreadsheetError);
    } else if (w.column == 5) {
      EXPECT_NO_THROW(sheet->SetCellText(w.row, w.column, "t" + std::to_string(w.row)));
    } else {
      EXPECT_NO_THROW(sheet->SetCellNumber(w.row, w.column, w.row * 1.5));
    }
  }
  EXPECT_NO_THROW(App().SetScreenUpdating(true, 0));
  EXPECT_EQ(Office().Contents(path, "ВЕЛТ", 4, 6),
            (std::vector<std::string>{
                "1,1 s:|", "1,2 s:|", "1,3 s:|", "1,4 n:1.5|1.5", "1,5 s:t1|t1", "1,6 s:old|old",
                "2,1 s:|", "2,2 s:|", "2,3 s:|", "2,4 n:3|3",     "2,5 s:t2|t2", "2,6 s:|",
                "3,1 s:|", "3,2 s:|", "3,3 s:|", "3,4 n:4.5|4.5", "3,5 s:t3|t3", "3,6 s:|",
                "4,1 s:|", "4,2 s:|", "4,3 s:|", "4,4 s:old|old", "4,5 s:|",     "4,6 s:|"}));
}

INSTANTIATE_TEST_SUITE_P(Paths, LockedCellTest, testing::Bool(),
                         [](const auto& test) { return test.param ? "batched" : "direct"; });

// Writes scattered down a column, batched, leave every cell between them as cell-by-cell writes
// do: whatever it holds (nothing, a format, a note, a value, a formula), on a protected sheet
// too, where one cell between them is locked.
class ScatteredWriteTest : public LibreOfficeTest, public testing::WithParamInterface<bool> {};

TEST_P(ScatteredWriteTest, CellsBetweenWrittenCellsKeepWhatTheyHold) {
  const bool isProtected = GetParam();
  struct Between {
    const char* kind;
    std::function<void(Probe&, const std::string&, const char*, int)> make;
  };
  const Between kinds[] = {
      {"empty", [](Probe&, const std::string&, const char*, int) {}},
      {"format", [](Probe& o, const std::string& p, const char* s,
                    int r) { o.SetFormat(p, s, r, 5, "0.00"); }},
      {"note",
       [](Probe& o, const std::string& p, const char* s, int r) { o.AddNote(p, s, r, 5, "kept"); }},
      {"number",
       [](Probe& o, const std::string& p, const char* s, int r) { o.SetValue(p, s, r, 5, 7); }},
      {"formula", [](Probe& o, const std::string& p, const char* s,
                     int r) { o.SetFormula(p, s, r, 5, "=D" + std::to_string(r) + "+1"); }},
      {"empty_formula", [](Probe& o, const std::string& p, const char* s,
                           int r) { o.SetFormula(p, s, r, 5, "=\"\""); }},
      {"date", [](Probe& o, const std::string& p, const char* s, int r) {
         o.SetFormat(p, s, r, 5, "DD.MM.YYYY");
         o.SetValue(p, s, r, 5, 45306);
       }}};
  const int kinds_n = static_cast<int>(std::size(kinds));
  // Written: every third row; between them two cells of one kind, each kind in turn.
  const int rows = 3 * 2 * kinds_n + 1;
  std::string path = dir_ / "scattered.ods";
  auto workbook = App().Add();
  std::map<std::string, std::shared_ptr<Worksheet>> sheets;
  for (const char* name : {"direct", "batched"}) {
    sheets[name] = workbook->AddWorksheet();
    sheets[name]->SetName(name);
  }
  workbook->SaveAs(path);
  for (const char* name : {"direct", "batched"}) {
    for (int r = 1; r <= rows; ++r) {
      if (r % 3 != 1) kinds[((r - 1) / 3) % kinds_n].make(Office(), path, name, r);
    }
    Office().AddNote(path, name, rows, 5, "on a written cell");
    if (isProtected) {
      Office().SetLocked(path, name, 1, 5, rows, 5, false);
      Office().SetLocked(path, name, 3, 5, 3, 5, true);  // an empty cell
      Office().Protect(path, name);
    }
  }
  for (const char* name : {"direct", "batched"}) {
    App().SetScreenUpdating(std::string(name) == "direct", 0);
    for (int r = 1; r <= rows; r += 3) {
      if (r % 2 == 0) {
        sheets[name]->SetCellText(r, 5, "t" + std::to_string(r));
      } else {
        sheets[name]->SetCellNumber(r, 5, r * 1.5);
      }
    }
    EXPECT_NO_THROW(App().SetScreenUpdating(true, 0)) << name;
  }
  EXPECT_EQ(Office().Contents(path, "direct", rows, 5),
            Office().Contents(path, "batched", rows, 5));
  EXPECT_EQ(Office().Kinds(path, "direct", rows, 5), Office().Kinds(path, "batched", rows, 5));
  EXPECT_EQ(Office().Notes(path, "direct"), Office().Notes(path, "batched"));
  EXPECT_EQ(Office().Notes(path, "batched").size(), static_cast<size_t>(4 + 1));
}

INSTANTIATE_TEST_SUITE_P(Sheets, ScatteredWriteTest, testing::Bool(),
                         [](const auto& test) { return test.param ? "protected" : "open"; });

TEST_F(LibreOfficeTest, CalculationModes) {
  std::string path = dir_ / "calc.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  Office().SetFormula(path, "ВЕЛТ", 1, 2, "=A1*2");
  App().SetCalculation(xlCalculationManual, 0);
  EXPECT_FALSE(Office().AutomaticCalculation(path));
  sheet->SetCellNumber(1, 1, 5);
  EXPECT_EQ(sheet->CellText(1, 2), "0");  // held until calculation is automatic again
  App().SetCalculation(xlCalculationAutomatic, 0);
  EXPECT_TRUE(Office().AutomaticCalculation(path));
  EXPECT_EQ(sheet->CellText(1, 2), "10");
  EXPECT_THROW(App().SetCalculation(2, 0), SpreadsheetError);
}

TEST_F(LibreOfficeTest, PassesLeaveModifiedStateAndUndoHistoryAsTheUserLeftThem) {
  for (const bool userEdit : {false, true}) {
    SCOPED_TRACE(userEdit);
    const std::string path = dir_ / (userEdit ? "undo-edited.ods" : "undo.ods");
    auto [workbook, sheet] = NewWorkbook(path);
    Office().SetFormula(path, "ВЕЛТ", 1, 2, "=A1*2");
    workbook->SetSaved(true);
    Reference<css::document::XUndoManager> undo =
        Reference<css::document::XUndoManagerSupplier>(Office().Model(path), UNO_QUERY_THROW)
            ->getUndoManager();
    undo->clear();
    if (userEdit) Office().SetFormula(path, "ВЕЛТ", 5, 1, "note");
    const auto titles = undo->getAllUndoActionTitles();
    // Three passes, each with the calculation switch, which alone makes Calc mark the document
    // modified.
    for (int pass = 1; pass <= 3; ++pass) {
      App().SetCalculation(xlCalculationManual, 0);
      App().SetScreenUpdating(false, 0);
      sheet->SetCellNumber(1, 1, pass);
      sheet->SetCellText(2, 4, "н\\д");
      App().SetScreenUpdating(true, 0);
      App().SetCalculation(xlCalculationAutomatic, 0);
    }
    EXPECT_EQ(Office().Modified(path), userEdit);
    EXPECT_EQ(undo->getAllUndoActionTitles(), titles);
    EXPECT_EQ(sheet->CellText(1, 2), "6");
    if (!userEdit) continue;
    // The user's Ctrl+Z takes back the user's own edit, and no value of a pass.
    undo->undo();
    EXPECT_EQ(sheet->CellText(5, 1), "");
    EXPECT_EQ(sheet->CellText(1, 1), "3");
    EXPECT_EQ(sheet->CellText(2, 4), "н\\д");
  }
}

TEST_F(LibreOfficeTest, BulkModeFollowsTheCalculationMode) {
  std::string path = dir_ / "calcbulk.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  Office().SetFormula(path, "ВЕЛТ", 1, 2, "=A1*2");
  Office().SetFormula(path, "ВЕЛТ", 2, 2, "=A2&\"!\"");
  App().SetScreenUpdating(false, 0);
  EXPECT_EQ(sheet->CellText(1, 2), "0");
  sheet->SetCellNumber(1, 1, 5);
  sheet->SetCellText(2, 1, "x");
  // Automatic: formulas see buffered writes, as they would see direct ones.
  EXPECT_EQ(sheet->CellText(1, 2), "10");
  EXPECT_EQ(sheet->CellText(2, 2), "x!");
  App().SetCalculation(xlCalculationManual, 0);
  sheet->SetCellNumber(1, 1, 7);
  sheet->SetCellText(2, 1, "y");
  EXPECT_EQ(sheet->CellText(1, 2), "10");
  EXPECT_EQ(sheet->CellText(2, 2), "x!");
  App().SetCalculation(xlCalculationAutomatic, 0);
  EXPECT_EQ(sheet->CellText(1, 2), "14");
  EXPECT_EQ(sheet->CellText(2, 2), "y!");
  App().SetScreenUpdating(true, 0);
}

struct BadFile {
  const char* name;
  std::string bytes;  // empty: do not create
};

void PrintTo(const BadFile& bad, std::ostream* out) {
  *out << bad.name;
}

class OpenFailureTest : public LibreOfficeTest, public testing::WithParamInterface<BadFile> {};

TEST_P(OpenFailureTest, FailsAndLeavesNothingOpen) {
  const BadFile& bad = GetParam();
  std::string path = dir_ / bad.name;
  if (std::string(bad.name) == "folder.xls") fs::create_directory(path);
  if (!bad.bytes.empty()) WriteBytes(path, bad.bytes);
  int before = Office().DocumentCount();
  try {
    App().Open(path);
    FAIL() << "opened " << bad.name;
  } catch (const SpreadsheetError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  EXPECT_EQ(Office().DocumentCount(), before);
}

std::string RandomBytes() {
  std::mt19937 random(7);
  std::string bytes(4096, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenFailureTest,
    testing::Values(BadFile{"missing.xls", ""}, BadFile{"folder.xls", ""},
                    BadFile{"random.xlsx", RandomBytes()}, BadFile{"random.xls", RandomBytes()},
                    BadFile{"text.xls", "just some words\nand more\n"},
                    BadFile{"image.xlsx", std::string(std::begin(kPng), std::end(kPng))},
                    BadFile{"image.png", std::string(std::begin(kPng), std::end(kPng))},
                    BadFile{"broken.xlsx", kZipMagic + std::string(200, 'x')}),
    [](const auto& test) {
      std::string name = test.param.name;
      for (char& c : name) c = c == '.' ? '_' : c;
      return name;
    });

// The user's close commands reach the handler on the program's thread while the workbook is
// still there (the program then closes it by releasing the office); each command is one request.
class UserCloseCommandTest : public LibreOfficeTest,
                             public testing::WithParamInterface<const char*> {};

TEST_P(UserCloseCommandTest, ReachesTheHandlerWhileTheWorkbookIsOpen) {
  std::string path = dir_ / "close.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  int calls = 0;
  std::thread::id ranOn;
  std::string readInHandler;
  workbook->SetBeforeCloseHandler([&, sheet = sheet] {
    ++calls;
    ranOn = std::this_thread::get_id();
    readInHandler = sheet->CellText(1, 1);
  });
  sheet->SetCellText(1, 1, "still here");
  queue_->RunAll();
  Office().Dispatch(path, GetParam());
  ASSERT_TRUE(Eventually([] { return queue_->Size() > 0; }));
  EXPECT_EQ(calls, 0);  // nothing ran on the office's thread
  queue_->RunAll();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(readInHandler, "still here");
  // The close waits for the program.
  EXPECT_NO_THROW(workbook->Save());
  EXPECT_EQ(Office().Text(path, "ВЕЛТ", 1, 1), "still here");
  Office().Dispatch(path, GetParam());
  ASSERT_TRUE(Eventually([] { return queue_->Size() > 0; }));
  queue_->RunAll();
  EXPECT_EQ(calls, 2);
  workbook->SetBeforeCloseHandler({});
}

INSTANTIATE_TEST_SUITE_P(Commands, UserCloseCommandTest,
                         testing::Values(".uno:CloseDoc", ".uno:CloseWin", ".uno:CloseFrame",
                                         ".uno:Quit"),
                         [](const auto& test) { return std::string(test.param + 5); });

TEST_F(LibreOfficeTest, WithoutAHandlerCalcClosesAsItWould) {
  std::string path = dir_ / "plain.xlsx";
  auto [workbook, sheet] = NewWorkbook(path);
  Office().CloseLikeUser(path);
  ASSERT_TRUE(Eventually([&, sheet = sheet] {
    try {
      sheet->CellText(1, 1);
      return false;
    } catch (const SpreadsheetError&) {
      return true;
    }
  }));
  EXPECT_EQ(queue_->Size(), 0u);
  // The rest of the instance goes on.
  EXPECT_EQ(App().Add()->AddWorksheet()->CellText(1, 1), "");
}

TEST_F(LibreOfficeTest, BufferedWritesToAWorkbookClosedByTheUserGoWithIt) {
  std::string closing = dir_ / "closing.xlsx";
  std::string staying = dir_ / "staying.xlsx";
  auto [closingBook, closingSheet] = NewWorkbook(closing);
  auto [stayingBook, stayingSheet] = NewWorkbook(staying);
  App().SetScreenUpdating(false, 0);
  closingSheet->SetCellText(1, 1, "lost with the workbook");
  stayingSheet->SetCellText(1, 1, "kept");
  Office().CloseLikeUser(closing);  // no handler: Calc closes it
  ASSERT_TRUE(Eventually([&, sheet = closingSheet] {
    try {
      sheet->SetCellText(2, 1, "x");
      return false;
    } catch (const SpreadsheetError&) {
      return true;
    }
  }));
  App().SetScreenUpdating(true, 0);
  EXPECT_EQ(Office().Text(staying, "ВЕЛТ", 1, 1), "kept");
}

TEST_F(LibreOfficeTest, ProfileKeepsMacrosOffAndAsksNothing) {
  EXPECT_EQ(Office()
                .Setting("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel")
                .get<sal_Int32>(),
            3);
  EXPECT_TRUE(
      Office()
          .Setting("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution")
          .get<bool>());
  EXPECT_FALSE(
      Office().Setting("/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay").get<bool>());
  EXPECT_FALSE(Office().Setting("/org.openoffice.Office.Recovery/AutoSave", "Enabled").get<bool>());
}

TEST_F(LibreOfficeTest, HeadlessInstanceIgnoresVisible) {
  EXPECT_FALSE(instance_->canShow);
  App().SetVisible(true);
  App().SetDisplayAlerts(false);
  auto sheet = App().Add()->AddWorksheet();
  sheet->SetCellNumber(1, 1, 1);
  EXPECT_EQ(sheet->CellText(1, 1), "1");
  App().SetVisible(false);
}

// Instances of their own: these end or break the office.

TEST(LibreOfficeInstanceTest, StartFailuresAreClear) {
  struct Case {
    std::string soffice;
    std::string expected;
  };
  TempDir dir;
  std::string slow = dir / "slow-soffice";
  std::ofstream(slow) << "#!/bin/sh\nsleep 600\n";
  fs::permissions(slow, fs::perms::owner_all);
  for (const Case& c :
       {Case{"/nonexistent/soffice", "not installed"}, Case{"velt-no-such-office", "not installed"},
        Case{"/bin/false", "exit code 1"}, Case{slow, "did not come up"}}) {
    LibreOfficeOptions options;
    options.soffice = c.soffice;
    options.startTimeout = 1500ms;
    try {
      LibreOfficeLauncher(options).Start();
      ADD_FAILURE() << c.soffice << " started";
    } catch (const SpreadsheetError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

TEST(LibreOfficeInstanceTest, EveryStartIsANewInstanceAndReleaseLeavesNothing) {
  LibreOfficeLauncher launcher;
  auto first = launcher.Start();
  auto second = launcher.Start();
  auto a = *LibreOfficeInstanceOf(*first);
  auto b = *LibreOfficeInstanceOf(*second);
  EXPECT_NE(a.processGroup, b.processGroup);
  EXPECT_NE(a.pipeName, b.pipeName);
  EXPECT_TRUE(GroupAlive(a.processGroup));
  EXPECT_TRUE(fs::is_directory(a.profileDir));
  ASSERT_EQ(a.socketFiles.size(), 2u);
  for (const std::string& socket : a.socketFiles) EXPECT_TRUE(fs::exists(socket)) << socket;
  // A modified workbook does not hold up the release.
  TempDir dir;
  auto workbook = first->Add();
  auto sheet = workbook->AddWorksheet();
  workbook->SaveAs(dir / "modified.xlsx");
  sheet->SetCellText(1, 1, "unsaved");
  first.reset();
  ExpectLeftNothing(a);
  EXPECT_FALSE(fs::exists(dir / ".~lock.modified.xlsx#"));
  // The other instance was not touched.
  EXPECT_EQ(second->Add()->AddWorksheet()->CellText(1, 1), "");
  second.reset();
  ExpectLeftNothing(b);
  // Objects that outlive their application fail cleanly.
  EXPECT_THROW(sheet->CellText(1, 1), SpreadsheetError);
  EXPECT_THROW(sheet->SetCellNumber(1, 1, 1), SpreadsheetError);
  EXPECT_THROW(workbook->Save(), SpreadsheetError);
  EXPECT_THROW(workbook->AddWorksheet(), SpreadsheetError);
}

TEST(LibreOfficeInstanceTest, ReleaseDropsAPendingCloseNotification) {
  PostQueue queue;
  LibreOfficeOptions options;
  options.poster = queue.MakePoster();
  auto application = LibreOfficeLauncher(options).Start();
  auto instance = *LibreOfficeInstanceOf(*application);
  TempDir dir;
  auto workbook = application->Add();
  workbook->SaveAs(dir / "pending.xlsx");
  bool called = false;
  workbook->SetBeforeCloseHandler([&] { called = true; });
  {
    Probe probe(instance.pipeName);
    probe.CloseLikeUser(dir / "pending.xlsx");
  }
  ASSERT_TRUE(Eventually([&] { return queue.Size() > 0; }));
  application.reset();
  ExpectLeftNothing(instance);
  queue.RunAll();  // the program's loop gets to it only now
  EXPECT_FALSE(called);
}

TEST(LibreOfficeInstanceTest, OwnReleaseSendsNoCloseNotification) {
  PostQueue queue;
  LibreOfficeOptions options;
  options.poster = queue.MakePoster();
  auto application = LibreOfficeLauncher(options).Start();
  bool called = false;
  application->Add()->SetBeforeCloseHandler([&] { called = true; });
  application.reset();
  EXPECT_EQ(queue.Size(), 0u);
  EXPECT_FALSE(called);
}

TEST(LibreOfficeInstanceTest, KilledOfficeFailsEveryCall) {
  auto application = LibreOfficeLauncher().Start();
  auto instance = *LibreOfficeInstanceOf(*application);
  TempDir dir;
  std::string path = dir / "killed.xlsx";
  auto workbook = application->Add();
  auto sheet = workbook->AddWorksheet();
  workbook->SaveAs(path);
  sheet->SetCellText(1, 1, "before");
  ASSERT_TRUE(fs::exists(dir / ".~lock.killed.xlsx#"));
  ASSERT_EQ(kill(-instance.processGroup, SIGKILL), 0);
  EXPECT_THROW(sheet->CellText(1, 1), SpreadsheetError);
  try {
    sheet->SetCellText(1, 1, "after");
    ADD_FAILURE() << "wrote to a dead office";
  } catch (const SpreadsheetError& e) {
    EXPECT_NE(std::string(e.what()).find("no longer running"), std::string::npos) << e.what();
  }
  EXPECT_THROW(workbook->Save(), SpreadsheetError);
  EXPECT_THROW(application->Add(), SpreadsheetError);
  EXPECT_THROW(application->SetScreenUpdating(false, 0), SpreadsheetError);
  application.reset();
  ExpectLeftNothing(instance);
  // Its lock file would keep the workbook from opening again.
  EXPECT_FALSE(fs::exists(dir / ".~lock.killed.xlsx#"));
}

TEST(LibreOfficeInstanceTest, KilledOfficeDuringBulkMode) {
  auto application = LibreOfficeLauncher().Start();
  auto instance = *LibreOfficeInstanceOf(*application);
  auto sheet = application->Add()->AddWorksheet();
  application->SetScreenUpdating(false, 0);
  sheet->SetCellText(1, 1, "buffered");
  EXPECT_EQ(sheet->CellText(2, 1), "");
  ASSERT_EQ(kill(-instance.processGroup, SIGKILL), 0);
  ASSERT_TRUE(Eventually([&] {
    try {
      sheet->CellText(5000, 3);  // not fetched yet: must go to the office
      return false;
    } catch (const SpreadsheetError&) {
      return true;
    }
  }));
  EXPECT_THROW(application->SetScreenUpdating(true, 0), SpreadsheetError);
  application.reset();
  ExpectLeftNothing(instance);
}

TEST(LibreOfficeInstanceTest, HungOfficeFailsWithinTheBound) {
  LibreOfficeOptions options;
  options.callTimeout = 2000ms;
  auto application = LibreOfficeLauncher(options).Start();
  auto instance = *LibreOfficeInstanceOf(*application);
  auto sheet = application->Add()->AddWorksheet();
  sheet->SetCellNumber(1, 1, 1);
  ASSERT_EQ(kill(-instance.processGroup, SIGSTOP), 0);
  try {
    sheet->CellText(1, 1);
    ADD_FAILURE() << "a stopped office answered";
  } catch (const SpreadsheetError& e) {
    EXPECT_NE(std::string(e.what()).find("LibreOffice did not answer within 2 s"),
              std::string::npos)
        << e.what();
  }
  // Later calls fail at once, with the same reason.
  try {
    sheet->SetCellNumber(1, 1, 2);
    ADD_FAILURE() << "wrote to a stopped office";
  } catch (const SpreadsheetError& e) {
    EXPECT_NE(std::string(e.what()).find("did not answer"), std::string::npos) << e.what();
  }
  application.reset();
  ExpectLeftNothing(instance);
}

TEST(LibreOfficeInstanceTest, DeadDisplayFallsBackToHeadless) {
  const char* saved = std::getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  setenv("DISPLAY", ":97531", 1);
  LibreOfficeOptions options;
  options.headless = false;
  auto application = LibreOfficeLauncher(options).Start();
  if (saved) {
    setenv("DISPLAY", keep.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
  auto instance = *LibreOfficeInstanceOf(*application);
  EXPECT_FALSE(instance.canShow);
  application->SetVisible(true);
  EXPECT_EQ(application->Add()->AddWorksheet()->CellText(1, 1), "");
  application.reset();
  ExpectLeftNothing(instance);
}

// A visible instance on a virtual X server of the test's own, when Xvfb is installed.
TEST(LibreOfficeInstanceTest, VisibleInstanceShowsItsWindowsAndQuitsWithoutAsking) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  testsupport::VirtualDisplay x;
  ASSERT_FALSE(x.Display().empty()) << "Xvfb did not come up";
  {
    LibreOfficeOptions options;
    options.headless = false;
    auto application = LibreOfficeLauncher(options).Start();
    auto instance = *LibreOfficeInstanceOf(*application);
    EXPECT_TRUE(instance.canShow);
    TempDir dir;
    auto hidden = application->Add();  // before SetVisible: hidden, shown by SetVisible
    hidden->SaveAs(dir / "hidden.xlsx");
    application->SetVisible(true);
    application->SetDisplayAlerts(false);
    auto shown = application->Add();
    shown->SaveAs(dir / "shown.xlsx");
    {
      Probe probe(instance.pipeName);
      EXPECT_TRUE(probe.WindowVisible(dir / "shown.xlsx"));
      EXPECT_TRUE(probe.WindowVisible(dir / "hidden.xlsx"));
    }
    // Modified visible documents would make a plain terminate() ask whether to save.
    auto sheet = shown->AddWorksheet();
    sheet->SetCellText(1, 1, "unsaved");
    sheet->Select();
    application.reset();
    ExpectLeftNothing(instance);
  }
}

TEST(LibreOfficeInstanceTest, OfficeKilledDuringSaveLeavesNothingBesideTheWorkbook) {
  auto application = LibreOfficeLauncher().Start();
  auto instance = *LibreOfficeInstanceOf(*application);
  TempDir dir;
  const std::string path = dir / "big.xlsx";
  auto workbook = application->Add();
  auto sheet = workbook->AddWorksheet();
  application->SetScreenUpdating(false, 0);  // buffered: the writes go in bulk
  for (int32_t r = 1; r <= 20000; ++r) {
    for (int32_t c = 1; c <= 8; ++c) sheet->SetCellNumber(r, c, r * 0.37 + c);
  }
  application->SetScreenUpdating(true, 0);
  // Kill the office as soon as its temporary file shows beside the workbook.
  const fs::path folder = fs::path(path).parent_path();
  std::atomic<bool> done{false}, killed{false};
  std::thread killer([&] {
    while (!done && !killed) {
      std::error_code ec;
      for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind("lu", 0) == 0) {
          kill(-instance.processGroup, SIGKILL);
          killed = true;
          break;
        }
      }
    }
  });
  EXPECT_THROW(workbook->SaveAs(path), SpreadsheetError);
  done = true;
  killer.join();
  ASSERT_TRUE(killed) << "the save ended before its temporary file was seen";
  application.reset();
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path() != path) left.push_back(entry.path().filename().string());
  }
  EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace velt
