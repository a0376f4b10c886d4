// veltexcel-new-workbook: makes a first workbook for VeltExcel, and shows a sheet as a table.
//   veltexcel-new-workbook create FILE          an empty sheet "ВЕЛТ" with its header row
//   veltexcel-new-workbook create --demo FILE   the demo sheet, which uses every form
//   veltexcel-new-workbook print FILE           the sheet "ВЕЛТ" as a text table
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "DataSheet.h"
#include "DemoSheet.h"
#include "LibreOfficeSpreadsheet.h"
#include "SaveTargets.h"

namespace {

constexpr const char* kUsage =
    "usage: veltexcel-new-workbook create [--demo] FILE   a new workbook (.xls, .xlsx or .ods)\n"
    "       veltexcel-new-workbook print FILE             its sheet \"ВЕЛТ\" as a table\n"
    "create makes the sheet \"ВЕЛТ\" with its header row; --demo fills it with requests\n"
    "that the demo database of tmsim answers. An existing FILE is left alone.\n"
    "Exit codes: 0 done, 1 the office failed, 2 bad arguments or FILE exists.\n";

void WriteEmptyDataSheet(velt::Workbook& workbook) {
  auto sheet = workbook.AddWorksheet();
  sheet->SetName(velt::kDataSheetName);
  sheet->Select();
  velt::WriteDataSheetHeader(*sheet);
  velt::SetDataSheetColumnWidths(*sheet);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "veltexcel-new-workbook " << VELT_VERSION << "\n";
    return 0;
  }
  if (args.size() == 1 && args[0] == "--help") {
    std::cout << kUsage;
    return 0;
  }
  const bool demo = args.size() == 3 && args[0] == "create" && args[1] == "--demo";
  const bool create = demo || (args.size() == 2 && args[0] == "create");
  const bool print = args.size() == 2 && args[0] == "print";
  if (!create && !print) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string path = args.back();
  std::error_code ec;
  if (create && velt::SaveTargetKindOf(path) != velt::SaveTargetKind::kWorkbook) {
    std::cerr << "veltexcel-new-workbook: " << path
              << ": name a file ending in .xls, .xlsx or .ods\n";
    return 2;
  }
  if (create && std::filesystem::exists(path, ec)) {
    std::cerr << "veltexcel-new-workbook: " << path << " exists; it is left as it is\n";
    return 2;
  }
  try {
    velt::LibreOfficeOptions options;
    options.headless = true;
    velt::LibreOfficeLauncher launcher(options);
    auto application = launcher.Start();
    application->SetDisplayAlerts(false);
    if (create) {
      auto workbook = application->Add();
      if (demo) {
        velt::WriteDemoSheet(*workbook);
      } else {
        WriteEmptyDataSheet(*workbook);
      }
      workbook->SaveAs(path);
      std::cout << (demo ? "demo workbook: " : "new workbook: ") << path << "\n";
    } else {
      auto workbook = application->Open(path);
      auto sheet = workbook->WorksheetByName(velt::kDataSheetName);
      std::cout << velt::FormatSheet(*sheet, velt::kDemoRows, velt::kDemoColumns);
    }
  } catch (const velt::SpreadsheetError& e) {
    std::cerr << "veltexcel-new-workbook: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
