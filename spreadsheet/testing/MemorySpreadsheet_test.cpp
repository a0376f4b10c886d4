#include "MemorySpreadsheet.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

TEST(MemorySpreadsheet, FilesRoundTripThroughSaveAsAndOpen) {
  MemoryOffice office;
  {
    auto app = office.Start();
    auto wb = app->Add();
    auto sheet = wb->AddWorksheet();
    sheet->SetName("ВЕЛТ");
    sheet->SetCellText(1, 1, "ТМ адрес");
    sheet->SetCellNumber(2, 4, 1.5);
    sheet->SetCellInteger(3, 4, -1);
    wb->SaveAs("/tmp/a.xls");
  }
  EXPECT_EQ(office.Running(), 0);
  auto app = office.Start();
  auto wb = app->Open("/tmp/a.xls");
  auto sheet = wb->WorksheetByName("ВЕЛТ");
  EXPECT_EQ(sheet->CellText(1, 1), "ТМ адрес");
  EXPECT_EQ(sheet->CellText(2, 4), "1.5");
  EXPECT_EQ(sheet->CellText(3, 4), "-1");
  EXPECT_EQ(sheet->CellText(9, 9), "");
  EXPECT_THROW(wb->WorksheetByName("нет"), SpreadsheetError);
  EXPECT_THROW(app->Open("/tmp/missing.xls"), SpreadsheetError);
}

TEST(MemorySpreadsheet, FaultsHitTheArmedCallsOnly) {
  MemoryOffice office;
  auto app = office.Start();
  auto wb = app->Add();
  auto sheet = wb->AddWorksheet();
  office.FailCell(2, 4, MemoryOffice::Access::Write);
  EXPECT_NO_THROW(sheet->CellText(2, 4));
  EXPECT_THROW(sheet->SetCellNumber(2, 4, 1), SpreadsheetError);
  EXPECT_NO_THROW(sheet->SetCellNumber(2, 5, 1));

  office.FailCall(office.CallCount() + 2);
  EXPECT_NO_THROW(sheet->CellText(1, 1));
  EXPECT_THROW(sheet->CellText(1, 1), SpreadsheetError);
  EXPECT_NO_THROW(sheet->CellText(1, 1));

  office.FailOperation("screenupdating");
  EXPECT_THROW(app->SetScreenUpdating(false, 0), SpreadsheetError);
  EXPECT_NO_THROW(app->SetCalculation(xlCalculationManual, 0));

  office.FailFromCall(office.CallCount() + 1);
  EXPECT_THROW(sheet->CellText(1, 1), SpreadsheetError);
  EXPECT_THROW(wb->Save(), SpreadsheetError);
}

// As the LibreOffice backend: the handler runs while the workbook is open, once per request; the
// program closes the workbook by releasing the application. Without a handler the close is
// Calc's own.
TEST(MemorySpreadsheet, UserCloseRunsTheHandlerWhileTheWorkbookIsOpen) {
  MemoryOffice office;
  auto app = office.Start();
  auto wb = std::static_pointer_cast<MemoryWorkbook>(app->Add());
  int calls = 0;
  wb->SetBeforeCloseHandler([&] {
    ++calls;
    EXPECT_NO_THROW(wb->AddWorksheet());
  });
  wb->CloseByUser();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(wb->IsClosed());
  app.reset();
  EXPECT_TRUE(wb->IsClosed());
  EXPECT_THROW(wb->AddWorksheet(), SpreadsheetError);
  wb->CloseByUser();
  EXPECT_EQ(calls, 1);

  auto app2 = office.Start();
  auto plain = std::static_pointer_cast<MemoryWorkbook>(app2->Add());
  plain->CloseByUser();
  EXPECT_TRUE(plain->IsClosed());
}

TEST(MemorySpreadsheet, PassWritesLeaveAnUnchangedWorkbookUnchanged) {
  MemoryOffice office;
  auto app = office.Start();
  auto wb = std::static_pointer_cast<MemoryWorkbook>(app->Add());
  auto sheet = wb->AddWorksheet();
  wb->SetSaved(true);
  app->SetScreenUpdating(false, 0);
  sheet->SetCellNumber(1, 1, 2);
  app->SetScreenUpdating(true, 0);
  EXPECT_TRUE(wb->IsSaved());
  EXPECT_TRUE(wb->ConfirmUserClose());
  sheet->SetCellNumber(1, 2, 3);  // not in a pass
  EXPECT_FALSE(wb->IsSaved());
  office.SetUserCloseAnswer(MemoryOffice::CloseAnswer::Cancel);
  EXPECT_FALSE(wb->ConfirmUserClose());
}

}  // namespace
}  // namespace velt

#include "UserLocale.h"

namespace velt {
namespace {

TEST(UserLocale, NamesMapToWindowsLocaleIds) {
  const std::pair<const char*, int32_t> cases[] = {
      {"ru_RU.UTF-8", 0x0419}, {"ru_UA.UTF-8", 0x0419}, {"en_US.UTF-8", 0x0409},
      {"en_GB", 0x0809},       {"C", 0x0409},           {"", 0x0409},
      {"POSIX", 0x0409},       {"xx_YY", 0x0409},       {"uk_UA.KOI8-U@euro", 0x0422},
  };
  for (const auto& [name, lcid] : cases) EXPECT_EQ(LocaleIdFromName(name), lcid) << name;
}

}  // namespace
}  // namespace velt
