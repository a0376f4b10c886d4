#include "Settings.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string_view>

#include "IniFile.h"
#include "PlacementText.h"

#include "Translation.h"

namespace velt {

namespace {

std::string ScreenTwin(const char* key, ScreenSize screen) {
  return ScreenTwinKey(key, screen.width, screen.height);
}

bool KnownScreen(ScreenSize screen) {
  return screen.width > 0 && screen.height > 0;
}

std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> ParseBoolean(std::string_view text) {
  auto is = [&](std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char c = text[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != word[i]) return false;
    }
    return true;
  };
  if (is("true")) return true;
  if (is("false")) return false;
  return std::nullopt;
}

const char* FormatBoolean(bool value) {
  return value ? "True" : "False";
}

std::optional<std::string> Text(const IniDocument& doc, const char* key) {
  auto value = doc.Value(kFormSection, key);
  // A NUL cannot travel through the C interfaces a text ends up in.
  if (value && value->find('\0') != std::string::npos) return std::nullopt;
  return value;
}

template <typename T, typename Parse>
void Apply(const IniDocument& doc, const std::string& key, Parse parse, T& target) {
  auto text = doc.Value(kFormSection, key);
  if (!text) return;
  if (auto value = parse(*text)) target = *value;
}

void ApplyPlacementRect(const IniDocument& doc, const char* key, ScreenSize screen,
                        std::optional<std::array<int32_t, 4>>& target) {
  if (KnownScreen(screen)) {
    if (auto text = doc.Value(kFormSection, ScreenTwin(key, screen))) {
      if (auto value = ParseFour(*text)) {
        target = value;
        return;
      }
    }
  }
  if (auto text = doc.Value(kFormSection, key)) {
    if (auto value = ParseFour(*text)) target = value;
  }
}

void ApplyForm(const IniDocument& doc, MainWindowSettings& form, ScreenSize screen) {
  if (auto version = doc.Value(kFormSection, "FormVersion")) {
    if (auto number = ParseIniInteger(*version); number && *number < 0) return;
  }
  auto integer = [](const std::string& s) { return ParseIniInteger(s); };
  auto boolean = [](const std::string& s) { return ParseBoolean(s); };

  WindowPlacement& p = form.placement;
  std::optional<int32_t> flags, showCmd, pixels;
  Apply(doc, "Flags", integer, flags);
  Apply(doc, "ShowCmd", integer, showCmd);
  Apply(doc, "PixelsPerInch", integer, pixels);
  if (flags) p.flags = flags;
  if (showCmd) p.showCmd = showCmd;
  if (pixels) p.pixelsPerInch = pixels;
  ApplyPlacementRect(doc, "MinMaxPos", screen, p.minMaxPos);
  ApplyPlacementRect(doc, "NormPos", screen, p.normPos);
  std::optional<bool> visible;
  Apply(doc, "Visible", boolean, visible);
  if (visible) p.visible = visible;

  if (auto text = Text(doc, "Edit1_Text")) form.edit1Text = *text;
  Apply(
      doc, "RxSpinEdit1_Value",
      [](const std::string& s) -> std::optional<int32_t> {
        auto number = ParseNumber(s);
        if (!number) return std::nullopt;
        // The spin field holds whole seconds within its range.
        const double held =
            std::fmin(std::fmax(std::round(*number), kCycleMinSeconds), kCycleMaxSeconds);
        return static_cast<int32_t>(held);
      },
      form.rxSpinEdit1Value);
  Apply(
      doc, "Timer1_Interval",
      [](const std::string& s) -> std::optional<int32_t> {
        // A zero interval would make the cycle timer spin.
        auto value = ParseIniInteger(s);
        if (value && *value > 0) return value;
        return std::nullopt;
      },
      form.timer1Interval);
  Apply(doc, "N8_Checked", boolean, form.n8Checked);
  Apply(doc, "N9_Checked", boolean, form.n9Checked);
  Apply(doc, "N21_Checked", boolean, form.n21Checked);
  if (auto text = Text(doc, "OpenDialog1_FileName")) form.openDialog1FileName = *text;
  if (auto text = Text(doc, "openfilename")) form.openFileName = *text;
}

void LoadRecent(const IniDocument& doc, RecentList& recent) {
  std::vector<std::string> stored(RecentList::kCapacity);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    auto value = doc.Value(kRecentSection, "Item_" + std::to_string(i));
    if (value && value->find('\0') == std::string::npos) stored[i] = *value;
  }
  recent.Load(stored);
}

void StoreForm(IniDocument& doc, const MainWindowSettings& form, ScreenSize screen,
               std::string& skipped) {
  auto put = [&](const std::string& key, const std::string& value) {
    if (!doc.SetValue(kFormSection, key, value)) {
      // A value that would break the line structure is left out, and so is any stale one.
      doc.RemoveKey(kFormSection, key);
      skipped += (skipped.empty() ? std::string(Tr("not stored: ")) : std::string(", ")) + key;
    }
  };
  put("FormVersion", "0");
  const WindowPlacement& p = form.placement;
  if (p.flags) put("Flags", std::to_string(*p.flags));
  if (p.showCmd) put("ShowCmd", std::to_string(*p.showCmd));
  if (p.pixelsPerInch) put("PixelsPerInch", std::to_string(*p.pixelsPerInch));
  if (p.minMaxPos) {
    put("MinMaxPos", FormatFour(*p.minMaxPos));
    if (KnownScreen(screen)) put(ScreenTwin("MinMaxPos", screen), FormatFour(*p.minMaxPos));
  }
  if (p.normPos) {
    put("NormPos", FormatFour(*p.normPos));
    if (KnownScreen(screen)) put(ScreenTwin("NormPos", screen), FormatFour(*p.normPos));
  }
  if (p.visible) put("Visible", FormatBoolean(*p.visible));
  put("Edit1_Text", form.edit1Text);
  put("RxSpinEdit1_Value", std::to_string(form.rxSpinEdit1Value));
  put("Timer1_Interval", std::to_string(form.timer1Interval));
  put("N8_Checked", FormatBoolean(form.n8Checked));
  put("N9_Checked", FormatBoolean(form.n9Checked));
  put("N21_Checked", FormatBoolean(form.n21Checked));
  put("OpenDialog1_FileName", form.openDialog1FileName);
  put("openfilename", form.openFileName);
}

void StoreRecent(IniDocument& doc, const RecentList& recent, std::string& skipped) {
  const auto at = doc.EraseSection(kRecentSection);
  if (recent.Empty()) return;
  doc.InsertSection(kRecentSection, at);
  std::size_t index = 0;
  for (const auto& path : recent.Items()) {
    if (doc.SetValue(kRecentSection, "Item_" + std::to_string(index), path)) {
      ++index;
    } else {
      skipped += (skipped.empty() ? std::string(Tr("not stored: ")) : std::string(", ")) +
                 Tr("a recent workbook");
    }
  }
  // Nothing stored after all: no empty section left behind.
  if (index == 0) doc.EraseSection(kRecentSection);
}

}  // namespace

SettingsEnvironment SettingsEnvironment::OfProcess() {
  SettingsEnvironment environment;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) environment.xdgConfigHome = xdg;
  if (const char* home = std::getenv("HOME")) environment.home = home;
  environment.folderWritable = [](const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
  };
  return environment;
}

SettingsLocation ChooseSettingsLocation(const std::vector<std::string>& arguments,
                                        const std::string& executablePath,
                                        const SettingsEnvironment& environment) {
  if (!arguments.empty()) return {arguments.front(), true};
  const auto slash = executablePath.rfind('/');
  if (slash == std::string::npos) return {kSettingsFileName, false};
  const std::string folder = executablePath.substr(0, slash + 1);
  if (environment.folderWritable && environment.folderWritable(folder)) {
    return {folder + kSettingsFileName, false};
  }
  std::string config = environment.xdgConfigHome;
  if (config.empty() || config.front() != '/') config = environment.home + "/.config";
  return {config + "/veltexcel/" + kSettingsFileName, false};
}

SettingsLocation SettingsLocationFromCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  std::string executable;
  std::string buffer(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n > 0 && static_cast<std::size_t>(n) < buffer.size()) {
    executable.assign(buffer.data(), static_cast<std::size_t>(n));
  } else if (argc > 0 && argv[0]) {
    executable = argv[0];
  }
  SettingsLocation location =
      ChooseSettingsLocation(arguments, executable, SettingsEnvironment::OfProcess());
  if (!location.commandLineMode) {
    // The per-user folder may not exist yet; a failure here shows when the settings are saved.
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(location.path).parent_path(),
                                        ignored);
  }
  return location;
}

Result<> SettingsStorage::Load(MainWindowSettings& form, RecentList& recent, ScreenSize screen) {
  loaded_ = true;
  saved_ = false;
  IniDocument doc;
  auto read = ReadWholeFile(path_, kMaxFileSize);
  if (read.ok()) doc = IniDocument::Parse(DecodeIniBytes(read.value()));
  ApplyForm(doc, form, screen);
  LoadRecent(doc, recent);
  if (!read.ok()) return read.error();
  return {};
}

Result<std::string> SettingsStorage::Save(const MainWindowSettings& form, const RecentList& recent,
                                          ScreenSize screen, const AtomicWriteProbe& probe) {
  if (!loaded_) return std::string();
  IniDocument doc;
  auto read = ReadWholeFile(path_, kMaxFileSize);
  if (read.ok()) {
    doc = IniDocument::Parse(DecodeIniBytes(read.value()));
  } else if (read.error().code != ENOENT) {
    return Failure{read.error().code, Tr("settings not saved: {}", {read.error().text})};
  }
  std::string skipped;
  StoreForm(doc, form, screen, skipped);
  StoreRecent(doc, recent, skipped);
  auto written = WriteFileAtomically(path_, doc.Serialize(), probe);
  if (!written.ok())
    return Failure{written.error().code, Tr("settings not saved: {}", {written.error().text})};
  saved_ = true;
  return skipped;
}

}  // namespace velt
