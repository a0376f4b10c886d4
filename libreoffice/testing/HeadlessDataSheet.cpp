#include "HeadlessDataSheet.h"

#include "DataSheet.h"

namespace velt::testsupport {

HeadlessDataSheet StartHeadlessDataSheet() {
  LibreOfficeOptions options;
  options.headless = true;
  HeadlessDataSheet office;
  office.application = LibreOfficeLauncher(options).Start();
  office.workbook = office.application->Add();
  office.sheet = office.workbook->AddWorksheet();
  office.sheet->SetName(kDataSheetName);
  return office;
}

}  // namespace velt::testsupport
