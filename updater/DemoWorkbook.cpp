// veltexcel-demo-workbook: makes the demo workbook and prints a filled sheet as a table.
//   veltexcel-demo-workbook create PATH   a workbook whose sheet "ВЕЛТ" uses every form
//   veltexcel-demo-workbook print PATH    the sheet "ВЕЛТ" as a text table
#include <iostream>
#include <string>
#include <vector>

#include "DataSheet.h"
#include "DemoSheet.h"
#include "LibreOfficeSpreadsheet.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "veltexcel-demo-workbook " << VELT_VERSION << "\n";
    return 0;
  }
  if (argc != 3 || (std::string(argv[1]) != "create" && std::string(argv[1]) != "print")) {
    std::cerr << "usage: veltexcel-demo-workbook create|print PATH\n";
    return 2;
  }
  const std::string command = argv[1];
  const std::string path = argv[2];
  try {
    velt::LibreOfficeOptions options;
    options.headless = true;
    velt::LibreOfficeLauncher launcher(options);
    auto application = launcher.Start();
    application->SetDisplayAlerts(false);
    if (command == "create") {
      auto workbook = application->Add();
      velt::WriteDemoSheet(*workbook);
      workbook->SaveAs(path);
      std::cout << "demo workbook: " << path << "\n";
    } else {
      auto workbook = application->Open(path);
      auto sheet = workbook->WorksheetByName(velt::kDataSheetName);
      std::cout << velt::FormatSheet(*sheet, velt::kDemoRows, velt::kDemoColumns);
    }
  } catch (const velt::SpreadsheetError& e) {
    std::cerr << "veltexcel-demo-workbook: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
