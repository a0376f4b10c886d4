// The main window's settings file: section "TForm1" with the window placement and the stored
// control properties, section "TForm1.MRUManager1" with the recent workbooks. The window owns
// one SettingsStorage and one MainWindowSettings; this library knows nothing of widgets (the
// headless updater reads the same file).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <functional>

#include "AtomicFile.h"
#include "RecentList.h"

namespace velt {

inline constexpr char kSettingsFileName[] = "VeltExcel.ini";
inline constexpr char kFormSection[] = "TForm1";
inline constexpr char kRecentSection[] = "TForm1.MRUManager1";
inline constexpr char kDefaultServerText[] = "Сервер ТМ";

// Where the settings live and whether the program runs in command-line mode.
struct SettingsLocation {
  std::string path;
  bool commandLineMode = false;  // a first argument named the settings file
};

// What the default location depends on besides the executable.
struct SettingsEnvironment {
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME; used only when it is an absolute path
  std::string home;           // $HOME
  // Whether the program may create and replace files in a folder.
  std::function<bool(const std::string& folder)> folderWritable;

  // The process's environment, and access(2) for writability.
  static SettingsEnvironment OfProcess();
};

// With at least one argument the first one is the path, exactly as passed. Otherwise
// "VeltExcel.ini" in the folder of the executable (executablePath) where that folder is
// writable (a build folder, a portable copy), or in the current folder when the executable is
// unknown; an installed program's folder (/usr/bin) is not writable, so its settings live in
// $XDG_CONFIG_HOME/veltexcel/ (by default ~/.config/veltexcel/).
SettingsLocation ChooseSettingsLocation(const std::vector<std::string>& arguments,
                                        const std::string& executablePath,
                                        const SettingsEnvironment& environment);
// The same for main()'s arguments (argv[0] is the program), with the executable found through
// /proc/self/exe and the process's environment. Pass the arguments left after the toolkit took
// its own. Creates the per-user folder when it chooses one, so that the first save can succeed.
SettingsLocation SettingsLocationFromCommandLine(int argc, const char* const* argv);

// The cycle time's range in seconds: the spin field's and what a stored value is held to.
inline constexpr int kCycleMinSeconds = 1;
inline constexpr int kCycleMaxSeconds = 1000;

struct ScreenSize {
  int32_t width = 0;
  int32_t height = 0;
};

// The window placement as the Windows program stores it. Absent fields are neither applied
// nor written; the window fills in what it knows.
struct WindowPlacement {
  std::optional<int32_t> flags;          // "Flags"
  std::optional<int32_t> showCmd;        // "ShowCmd": 1 normal, 2 minimised, 3 maximised
  std::optional<int32_t> pixelsPerInch;  // "PixelsPerInch"
  // "MinMaxPos": minimised x, y, maximised x, y.
  std::optional<std::array<int32_t, 4>> minMaxPos;
  // "NormPos": left, top, right, bottom of the normal window rectangle.
  std::optional<std::array<int32_t, 4>> normPos;
  // "Visible": on save, true when the window is being destroyed.
  std::optional<bool> visible;

  bool operator==(const WindowPlacement&) const = default;
};

// The stored state of the main window. The initial values are those of the first start.
struct MainWindowSettings {
  WindowPlacement placement;
  std::string edit1Text = kDefaultServerText;  // "Edit1_Text": the TM server text
  int32_t rxSpinEdit1Value = 10;               // "RxSpinEdit1_Value": cycle time, 1..1000 s
  int32_t timer1Interval = 5000;               // "Timer1_Interval": cycle timer, ms (> 0)
  bool n8Checked = true;    // "N8_Checked": "Обновление по циклу"
  bool n9Checked = true;    // "N9_Checked": "Автосохранение при выходе"
  bool n21Checked = false;  // "N21_Checked": "Сохранение после обновления"
  std::string openDialog1FileName;  // "OpenDialog1_FileName": last workbook chosen
  std::string openFileName;         // "openfilename": last workbook opened

  bool operator==(const MainWindowSettings&) const = default;
};

class SettingsStorage {
 public:
  // A settings file is small; anything larger is not ours and is never overwritten.
  static constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;

  explicit SettingsStorage(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  // Reads the file and applies every stored value that is present and converts over `form`
  // (the rest keep the values passed in: the defaults at first start, the controls' state
  // later); a "FormVersion" below 0 keeps all of section TForm1 from being applied. Texts are
  // trimmed. The cycle time is rounded and held to 1..1000; a non-positive interval is
  // ignored. The recent list is replaced by the stored one. A missing, damaged or unreadable
  // file never fails: what cannot be read is simply not applied. `screen` selects the
  // placement stored for that screen size, when there is one. ok(): the file existed and was
  // read (its content may still be junk); otherwise why not (code ENOENT: there is none).
  Result<> Load(MainWindowSettings& form, RecentList& recent, ScreenSize screen = {});

  // Writes the settings: does nothing (and succeeds; Saved() stays false) unless Load ran
  // before. The file is read again and only this program's keys are replaced, so other sections
  // and unknown keys stay; the recent section is rewritten from Item_0 up. A file that exists
  // but cannot be read is not overwritten (a failure). The write replaces the file in one step (see
  // WriteFileAtomically); `probe` is for tests. The placement's screen twins
  // ("NormPos(1920x1080)") are written when the screen size is known. The failure names the
  // file; the value names what could not be stored on one line and was left out (a path with
  // a line break), or is empty.
  Result<std::string> Save(const MainWindowSettings& form, const RecentList& recent,
                           ScreenSize screen = {}, const AtomicWriteProbe& probe = {});

  bool Loaded() const { return loaded_; }
  // A save succeeded since the last load: a second save on window destruction is not needed.
  bool Saved() const { return saved_; }

 private:
  std::string path_;
  bool loaded_ = false;
  bool saved_ = false;
};

}  // namespace velt
