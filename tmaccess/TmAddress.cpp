#include "TmAddress.h"

#include <array>

#include "ScanFormatted.h"

namespace velt {

const char* AddressPattern(PointKind kind, AddressLetters letters) {
  const bool latin = letters == AddressLetters::Latin;
  switch (kind) {
    case PointKind::Status:
      return latin ? kPatternStatusLat : kPatternStatusCyr;
    case PointKind::Analog:
      return latin ? kPatternAnalogLat : kPatternAnalogCyr;
    case PointKind::Accum:
      return latin ? kPatternAccumLat : kPatternAccumCyr;
    case PointKind::Meter:
      return latin ? kPatternMeterLat : kPatternMeterCyr;
  }
  return "";
}

int32_t ScanAddress(const std::string& text, const char* pattern, TmAddress& address) {
  void* const targets[] = {&address.channel, &address.rtu, &address.point};
  return ScanFormatted(text.c_str(), pattern, targets);
}

std::string ApplyAddressFormat(const std::string& format, uint16_t ch, uint16_t rtu,
                               uint16_t point) {
  const std::array<uint16_t, 3> numbers = {ch, rtu, point};
  size_t next = 0;
  std::string text;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd' &&
        next < numbers.size()) {
      text += std::to_string(numbers[next++]);
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

std::optional<PointAddress> ParseAddress(const std::string& text) {
  for (const AddressLetters letters : {AddressLetters::Latin, AddressLetters::Cyrillic}) {
    for (const PointKind kind : {PointKind::Status, PointKind::Analog, PointKind::Accum}) {
      PointAddress address;
      address.kind = kind;
      if (MatchAddress(text, AddressPattern(kind, letters), address)) return address;
    }
  }
  return std::nullopt;
}

}  // namespace velt
