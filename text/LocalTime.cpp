#include "LocalTime.h"

namespace velt {

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string LocalTimeText(const char* format) {
  const std::tm local = LocalNow();
  char text[64];
  const size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

}  // namespace velt
