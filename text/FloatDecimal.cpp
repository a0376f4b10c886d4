#include "FloatDecimal.h"

#include <charconv>
#include <cmath>

namespace velt {

double ShortestDouble(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  char digits[32];
  // to_chars of a float without a precision writes the shortest text that reads back as it.
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  double result = static_cast<double>(value);
  if (written.ec == std::errc{}) std::from_chars(digits, written.ptr, result);
  return result;
}

}  // namespace velt
