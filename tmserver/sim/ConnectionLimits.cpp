#include "ConnectionLimits.h"

namespace velt::tmsim {

std::optional<std::string> LogLimiter::Filter(const std::string& kind, const std::string& line,
                                              Clock::time_point now) {
  auto [it, added] = kinds_.try_emplace(kind, Kind{now, 0});
  Kind& k = it->second;
  if (!added && now - k.opened < window_) {
    ++k.held;
    return std::nullopt;
  }
  std::string text = line;
  if (k.held > 0) text += " (" + std::to_string(k.held) + " more like it not logged)";
  k = Kind{now, 0};
  return text;
}

}  // namespace velt::tmsim
