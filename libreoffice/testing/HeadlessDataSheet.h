// A headless LibreOffice with a new workbook whose only added sheet is the data sheet, for
// integration tests and benchmarks.
#pragma once

#include <memory>

#include "LibreOfficeSpreadsheet.h"

namespace velt::testsupport {

struct HeadlessDataSheet {
  std::unique_ptr<Application> application;
  std::shared_ptr<Workbook> workbook;
  std::shared_ptr<Worksheet> sheet;
};

// Throws SpreadsheetError when the office cannot be started.
HeadlessDataSheet StartHeadlessDataSheet();

}  // namespace velt::testsupport
