#include "ProgramInfo.h"

#include <cstring>
#include <iostream>

namespace velt {

std::optional<int> AnswerProgramInfo(int argc, const char* const* argv) {
  if (argc != 2) return std::nullopt;
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "veltexcel " << VELT_VERSION << "\n";
    return 0;
  }
  if (std::strcmp(argv[1], "--help") == 0) {
    std::cout << "usage: veltexcel [SETTINGS.ini]\n"
                 "Fills the sheet \"ВЕЛТ\" of a LibreOffice Calc workbook with telemetry from a "
                 "TM server.\n"
                 "Without an argument: the main window, with the settings in VeltExcel.ini beside "
                 "the program\n"
                 "or in ~/.config/veltexcel/. With SETTINGS.ini: command-line mode (connect, open "
                 "the last\n"
                 "workbook, wait in the notification area, end when the workbook is closed).\n"
                 "  --help      this text\n"
                 "  --version   the version\n"
                 "See also: veltexcel-update(1), veltexcel-new-workbook(1), tmsim(1).\n";
    return 0;
  }
  return std::nullopt;
}

}  // namespace velt
