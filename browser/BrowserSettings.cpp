#include "BrowserSettings.h"

#include <array>
#include <charconv>
#include <cmath>

#include "PlacementText.h"

namespace velt {

namespace {

struct StyleName {
  const char* name;
  bool PanelFont::*flag;
};
constexpr std::array<StyleName, 4> kStyles = {{{"fsBold", &PanelFont::bold},
                                               {"fsItalic", &PanelFont::italic},
                                               {"fsUnderline", &PanelFont::underline},
                                               {"fsStrikeOut", &PanelFont::strikeOut}}};

std::optional<std::string> ReadPreferringScreen(const BrowserSettingsStore& store,
                                                const std::string& name, const ScreenInfo& screen) {
  if (auto value = store.Read(ScreenTwinKey(name, screen.width, screen.height))) return value;
  return store.Read(name);
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<PanelFont> ParseStyle(const std::string& text, PanelFont font) {
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
  for (const auto& style : kStyles) font.*style.flag = false;
  const std::string inner = text.substr(1, text.size() - 2);
  size_t begin = 0;
  while (begin <= inner.size() && !Trimmed(inner.substr(begin)).empty()) {
    size_t end = inner.find(',', begin);
    if (end == std::string::npos) end = inner.size();
    const std::string name = Trimmed(inner.substr(begin, end - begin));
    bool known = false;
    for (const auto& style : kStyles) {
      if (name == style.name) {
        font.*style.flag = true;
        known = true;
      }
    }
    if (!known) return std::nullopt;
    begin = end + 1;
  }
  return font;
}

int PointsToHeight(int size, int pixelsPerInch) {
  return -static_cast<int>(std::lround(static_cast<double>(size) * pixelsPerInch / 72.0));
}

}  // namespace

std::optional<int> ParseInteger(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::optional<int> ReadInteger(const BrowserSettingsStore& store, const std::string& name) {
  const auto text = store.Read(name);
  return text ? ParseInteger(*text) : std::nullopt;
}

std::optional<bool> ReadBoolean(const BrowserSettingsStore& store, const std::string& name) {
  const auto text = store.Read(name);
  if (text == "True") return true;
  if (text == "False") return false;
  return std::nullopt;
}

std::string BooleanText(bool value) {
  return value ? "True" : "False";
}

std::optional<BrowserPlacement> ReadPlacement(const BrowserSettingsStore& store,
                                              const ScreenInfo& screen,
                                              const BrowserPlacement& current) {
  if (ReadInteger(store, "PixelsPerInch") != screen.pixelsPerInch) return std::nullopt;
  const auto normPos = ReadPreferringScreen(store, "NormPos", screen);
  const auto minMaxPos = ReadPreferringScreen(store, "MinMaxPos", screen);
  if (!normPos && !minMaxPos) return std::nullopt;
  BrowserPlacement placement = current;
  if (const auto rect = normPos ? ParseFour(*normPos) : std::nullopt) {
    // An empty or inverted rectangle would make a window nobody can see or grab.
    if ((*rect)[2] > (*rect)[0] && (*rect)[3] > (*rect)[1]) {
      placement.left = (*rect)[0];
      placement.top = (*rect)[1];
      placement.right = (*rect)[2];
      placement.bottom = (*rect)[3];
    }
  }
  const auto showCmd = ReadInteger(store, "ShowCmd");
  if (showCmd == BrowserPlacement::kMaximized) {
    placement.showCmd = BrowserPlacement::kMaximized;
  } else if (showCmd) {
    // Shown minimised the window would be hidden from its user: restore it normal instead.
    placement.showCmd = BrowserPlacement::kNormal;
  }
  return placement;
}

void WritePlacement(BrowserSettingsStore& store, const ScreenInfo& screen,
                    const BrowserPlacement& placement, bool destroying) {
  const auto twin = [&screen](const char* key) {
    return ScreenTwinKey(key, screen.width, screen.height);
  };
  const std::string normPos =
      FormatFour({placement.left, placement.top, placement.right, placement.bottom});
  const std::string minMaxPos = FormatFour({-1, -1, -1, -1});
  store.Write("Flags", "0");
  store.Write("ShowCmd", std::to_string(placement.showCmd));
  store.Write("MinMaxPos", minMaxPos);
  store.Write(twin("MinMaxPos"), minMaxPos);
  store.Write("NormPos", normPos);
  store.Write(twin("NormPos"), normPos);
  store.Write("PixelsPerInch", std::to_string(screen.pixelsPerInch));
  store.Write("Visible", destroying ? "1" : "0");
  store.Write("FormVersion", "0");
}

PanelFont ReadFont(const BrowserSettingsStore& store, PanelFont font, int pixelsPerInch) {
  const std::string prefix = kFontKey;
  if (auto charset = ReadInteger(store, prefix + "Charset");
      charset && *charset >= 0 && *charset <= 255) {
    font.charset = *charset;
  }
  if (auto color = store.Read(prefix + "Color"); color && !color->empty()) font.color = *color;
  if (auto name = store.Read(prefix + "Name"); name && !name->empty()) font.name = *name;
  if (auto pitch = store.Read(prefix + "Pitch");
      pitch == "fpDefault" || pitch == "fpVariable" || pitch == "fpFixed") {
    font.pitch = *pitch;
  }
  // The size says it in points; the height (negative pixels) only stands in when it is missing.
  constexpr int kMaxPoints = 500;
  if (auto size = ReadInteger(store, prefix + "Size"); size && *size > 0 && *size <= kMaxPoints) {
    font.size = *size;
  } else if (auto height = ReadInteger(store, prefix + "Height");
             height && *height != 0 && pixelsPerInch > 0) {
    const long points = std::lround(std::abs(static_cast<double>(*height)) * 72.0 / pixelsPerInch);
    if (points > 0 && points <= kMaxPoints) font.size = static_cast<int>(points);
  }
  if (auto style = store.Read(prefix + "Style")) {
    if (auto styled = ParseStyle(*style, font)) font = *styled;
  }
  return font;
}

void WriteFont(BrowserSettingsStore& store, const PanelFont& font, int pixelsPerInch) {
  const std::string prefix = kFontKey;
  std::string style = "[";
  for (const auto& entry : kStyles) {
    if (!(font.*entry.flag)) continue;
    if (style.size() > 1) style += ',';
    style += entry.name;
  }
  style += ']';
  store.Write(prefix + "Charset", std::to_string(font.charset));
  store.Write(prefix + "Color", font.color);
  store.Write(prefix + "Height", std::to_string(PointsToHeight(font.size, pixelsPerInch)));
  store.Write(prefix + "Name", font.name);
  store.Write(prefix + "Pitch", font.pitch);
  store.Write(prefix + "Size", std::to_string(font.size));
  store.Write(prefix + "Style", style);
}

}  // namespace velt
