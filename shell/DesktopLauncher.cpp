#include "DesktopLauncher.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "AtomicFile.h"
#include "MainWindowLogic.h"

namespace velt {

namespace {

// Inside double quotes the format reserves " ` $ and \; the whole value then escapes \ again.
// A % would start a field code.
std::string QuoteArgument(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\') {
      quoted += "\\\\\\\\";
      continue;
    }
    if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
    if (c == '%') {
      quoted += "%%";
      continue;
    }
    quoted += c;
  }
  return quoted + "\"";
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

std::string DesktopExecLine(const std::string& program, const std::string& argument) {
  return QuoteArgument(program) + " " + QuoteArgument(argument);
}

Result<> CreateDesktopLauncher(const LauncherPlaces& places, const std::string& workbookPath,
                               const MainWindowSettings& current, LauncherFiles* made) {
  if (places.desktopDir.empty() || places.settingsDir.empty() || places.executable.empty() ||
      workbookPath.empty())
    return Failure{EINVAL, "Не удалось создать иконку на столе"};
  if (HasLineBreak(workbookPath) || HasLineBreak(places.executable))
    return Failure{EINVAL, "Не удалось создать иконку на столе: недопустимое имя файла"};

  const std::filesystem::path workbook(workbookPath);
  const std::string name = workbook.stem().string();
  std::error_code error;
  std::filesystem::create_directories(places.settingsDir, error);
  std::filesystem::create_directories(places.desktopDir, error);

  const std::string settingsPath =
      (std::filesystem::path(places.settingsDir) / (name + ".ini")).string();
  SettingsStorage storage(settingsPath);
  MainWindowSettings stored;
  RecentList recent;
  storage.Load(stored, recent);
  MainWindowSettings settings = current;
  settings.placement = {};
  settings.openDialog1FileName = workbookPath;
  settings.openFileName = workbookPath;
  const auto saved = storage.Save(settings, recent);
  if (!saved.ok()) return saved.error();

  const std::string launcherPath =
      (std::filesystem::path(places.desktopDir) / ("veltexcel-" + name + ".desktop")).string();
  const std::string entry =
      "[Desktop Entry]\nType=Application\nName=ВЕЛТ-Excel: " + workbook.filename().string() +
      "\nComment=Обновление телеметрии в книге " + workbookPath +
      "\nExec=" + DesktopExecLine(places.executable, settingsPath) +
      "\nIcon=x-office-spreadsheet\nTerminal=false\n";
  const auto written = WriteFileAtomically(launcherPath, entry);
  if (!written.ok()) return written.error();
  // File managers start only launchers marked executable.
  ::chmod(launcherPath.c_str(), 0755);
  if (made) *made = {launcherPath, settingsPath};
  return {};
}

std::string LauncherCreatedText(const LauncherFiles& made, const std::string& workbookPath) {
  return "Создана иконка на рабочем столе:\n" + made.launcher + "\n\nЕё файл настроек:\n" +
         made.settings +
         "\n\nДвойной щелчок по иконке запускает ВЕЛТ-Excel: программа "
         "соединяется с сервером, открывает книгу " +
         workbookPath + " и обновляет её по циклу, оставаясь в области уведомлений.";
}

}  // namespace velt
