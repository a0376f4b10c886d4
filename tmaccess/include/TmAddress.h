// A TM point's address as the data sheet and the browser write it: "#" and two letters for the
// point's kind (Latin or Cyrillic), then channel, RTU and point, e.g. "#TC1:2:3" or "#ТС1:2:3".
// Plain functions over UTF-8 texts; the letters are never folded here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velt {

// The three numbers while scanning: 32-bit signed. At the server interface each part is passed
// as its low 16 bits.
struct TmAddress {
  int32_t channel = 0;
  int32_t rtu = 0;
  int32_t point = 0;
  bool operator==(const TmAddress&) const = default;
};

// Status (ТС), analog (ТТ), accumulator (ТИ) and an accumulator's meter reading (ПУ).
enum class PointKind : uint8_t { Status, Analog, Accum, Meter };
enum class AddressLetters : uint8_t { Latin, Cyrillic };

// An address with the kind its letters name.
struct PointAddress : TmAddress {
  PointKind kind = PointKind::Status;
  bool operator==(const PointAddress&) const = default;
};

// The eight address patterns (UTF-8; Cyrillic letters where the name says Cyr).
inline constexpr const char* kPatternAnalogCyr = "#ТТ%d:%d:%d";
inline constexpr const char* kPatternAnalogLat = "#TT%d:%d:%d";
inline constexpr const char* kPatternStatusCyr = "#ТС%d:%d:%d";
inline constexpr const char* kPatternStatusLat = "#TC%d:%d:%d";
inline constexpr const char* kPatternAccumCyr = "#ТИ%d:%d:%d";
inline constexpr const char* kPatternAccumLat = "#TI%d:%d:%d";
inline constexpr const char* kPatternMeterCyr = "#ПУ%d:%d:%d";
inline constexpr const char* kPatternMeterLat = "#PU%d:%d:%d";

const char* AddressPattern(PointKind kind, AddressLetters letters);

// Scans text with pattern (one of the eight) into address. The scanner stores every number it
// converts, also when the match then fails. Returns the scanner's report; a match is 3.
int32_t ScanAddress(const std::string& text, const char* pattern, TmAddress& address);
inline bool MatchAddress(const std::string& text, const char* pattern, TmAddress& address) {
  return ScanAddress(text, pattern, address) == 3;
}

// Each "%d" of the format takes the next of channel, RTU and point; everything else is copied.
std::string ApplyAddressFormat(const std::string& format, uint16_t ch, uint16_t rtu,
                               uint16_t point);
// The address with Latin letters.
inline std::string FormatAddress(PointKind kind, uint16_t ch, uint16_t rtu, uint16_t point) {
  return ApplyAddressFormat(AddressPattern(kind, AddressLetters::Latin), ch, rtu, point);
}

// Reads a status, analog or accumulator address, in that order, first with Latin letters, then
// with Cyrillic ones.
std::optional<PointAddress> ParseAddress(const std::string& text);

}  // namespace velt
