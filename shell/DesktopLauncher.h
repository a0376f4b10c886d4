// "Создать иконку на столе": a desktop launcher that starts the program in command-line mode on
// a settings file of its own for the open workbook, so that a double click connects, opens
// that workbook and keeps it updated from the tray.
#pragma once

#include <string>

#include "Result.h"
#include "Settings.h"

namespace velt {

// Where "Создать иконку на столе" puts its files, and what the launcher starts.
struct LauncherPlaces {
  std::string desktopDir;   // the user's desktop folder
  std::string settingsDir;  // where per-workbook settings files go
  std::string executable;   // the veltexcel executable
};

// The settings file is `<settingsDir>/<workbook name>.ini` with the current settings and the
// workbook as the one to open; the launcher is `<desktopDir>/veltexcel-<workbook name>.desktop`.
// Existing files are updated in place (other keys of the settings file stay). The failure says
// what went wrong. `made`, when given, receives the two paths written.
struct LauncherFiles {
  std::string launcher;
  std::string settings;
};
Result<> CreateDesktopLauncher(const LauncherPlaces& places, const std::string& workbookPath,
                               const MainWindowSettings& current, LauncherFiles* made = nullptr);

// The one message that tells the user what was created and where.
std::string LauncherCreatedText(const LauncherFiles& made, const std::string& workbookPath);

// A value for the Exec key of a desktop entry that runs `program` with `argument`, each quoted
// as the desktop entry format asks.
std::string DesktopExecLine(const std::string& program, const std::string& argument);

}  // namespace velt
