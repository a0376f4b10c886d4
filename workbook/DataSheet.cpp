#include "DataSheet.h"

namespace velt {

void WriteDataSheetHeader(Worksheet& sheet) {
  // Each width follows its column's title, in the order the object model is driven.
  sheet.SetCellText(1, 1, kDataSheetHeader[0]);
  sheet.SetColumnWidth(1, kAddressColumnWidth);
  sheet.SetCellText(1, 2, kDataSheetHeader[1]);
  sheet.SetColumnWidth(2, kNameColumnWidth);
  sheet.SetCellText(1, 3, kDataSheetHeader[2]);
  sheet.SetCellText(1, 4, kDataSheetHeader[3]);
}

void SetDataSheetColumnWidths(Worksheet& sheet) {
  sheet.SetColumnWidth(1, kAddressColumnWidth);
  sheet.SetColumnWidth(2, kNameColumnWidth);
}

}  // namespace velt
