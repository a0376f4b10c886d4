// The workbook operations on a real headless LibreOffice.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "LibreOfficeSpreadsheet.h"
#include "TemporaryDirectory.h"
#include "WorkbookOperations.h"
#include "WorkbookOperationsFakes.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

using testsupport::TemporaryDirectory;

TEST(WorkbookOperationsOnLibreOffice, NewWorkbookWithDataSheetReopensFromItsFile) {
  TemporaryDirectory dir("velt-ops-soffice");
  ASSERT_FALSE(dir.path().empty());
  const std::string path = (dir.path() / "новая книга.xls").string();

  LibreOfficeOptions options;
  options.headless = true;
  LibreOfficeLauncher launcher(options);
  ScriptedDialogs dialogs;
  dialogs.answers = {true, true};
  RecordingView view;  // autosave on, as at first start
  {
    WorkbookOperations ops(launcher, dialogs, view);
    ops.ExOpen(path);
    ASSERT_EQ(dialogs.shown, (std::vector<std::string>{"ask: Нет указанного файла - Создать?",
                                                       "ask: Нет листа ВЕЛТ - Создать?"}));
    ASSERT_TRUE(ops.SheetReady());
    ASSERT_TRUE(fs::exists(path));
    ASSERT_NE(ops.ExAp(), nullptr);
    const auto instance = LibreOfficeInstanceOf(*ops.ExAp());
    ASSERT_TRUE(instance);

    ops.Close();
    // Zombies awaiting init do not count.
    EXPECT_FALSE(LibreOfficeInstanceRunning(*instance));
    EXPECT_EQ(view.OpenState(), false);
  }
  EXPECT_EQ(dialogs.shown.size(), 2u) << dialogs.shown.back();

  // An Excel 97 workbook: the compound-file signature.
  std::ifstream file(path, std::ios::binary);
  std::string signature(8, '\0');
  file.read(signature.data(), 8);
  EXPECT_EQ(signature, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");

  auto app = launcher.Start();
  auto workbook = app->Open(path);
  auto sheet = workbook->WorksheetByName("ВЕЛТ");
  EXPECT_EQ(sheet->Name(), "ВЕЛТ");
  EXPECT_EQ(sheet->CellText(1, 1), "ТМ адрес");
  EXPECT_EQ(sheet->CellText(1, 2), "Наименование параметра");
  EXPECT_EQ(sheet->CellText(1, 3), "№ архива");
  EXPECT_EQ(sheet->CellText(1, 4), "Значение");
  EXPECT_EQ(sheet->CellText(2, 1), "");
}

}  // namespace
}  // namespace velt
