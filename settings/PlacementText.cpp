#include "PlacementText.h"

#include <charconv>

namespace velt {

std::optional<int32_t> ParseIniInteger(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::array<int32_t, 4>> ParseFour(std::string_view text) {
  std::array<int32_t, 4> values{};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto comma = text.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return std::nullopt;
    auto value = ParseIniInteger(text.substr(0, comma));
    if (!value) return std::nullopt;
    values[i] = *value;
    if (comma != std::string_view::npos) text.remove_prefix(comma + 1);
  }
  return values;
}

std::string FormatFour(const std::array<int32_t, 4>& v) {
  return std::to_string(v[0]) + "," + std::to_string(v[1]) + "," + std::to_string(v[2]) + "," +
         std::to_string(v[3]);
}

std::string ScreenTwinKey(std::string_view key, int32_t width, int32_t height) {
  return std::string(key) + "(" + std::to_string(width) + "x" + std::to_string(height) + ")";
}

}  // namespace velt
