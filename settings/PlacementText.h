// The text forms both windows keep their placement in: "NormPos" and "MinMaxPos" are four
// comma-separated integers, each also stored under a twin key with the screen size
// ("NormPos(1920x1080)"), so that a window comes back where it was on that screen.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velt {

// A decimal integer; blanks or tabs around it and a leading "+" are allowed.
std::optional<int32_t> ParseIniInteger(std::string_view text);
// "left,top,right,bottom" (or the four MinMaxPos numbers); nullopt unless exactly four parse.
std::optional<std::array<int32_t, 4>> ParseFour(std::string_view text);
std::string FormatFour(const std::array<int32_t, 4>& values);
// key + "(WIDTHxHEIGHT)".
std::string ScreenTwinKey(std::string_view key, int32_t width, int32_t height);

}  // namespace velt
