#include "Grammar.h"

#include <span>
#include <utility>

#include "ScanFormatted.h"

namespace velt {

namespace {

BlockEntryKind MatchFirst(const std::string& text, TmAddress& address,
                          std::span<const std::pair<const char*, BlockEntryKind>> patterns) {
  for (const auto& [pattern, kind] : patterns) {
    if (MatchAddress(text, pattern, address)) return kind;
  }
  return BlockEntryKind::None;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

RowKind ClassifyOrdinaryRow(const std::string& upperText, int32_t archiveNumber,
                            TmAddress& address) {
  const RowKind analog = archiveNumber >= 0 ? RowKind::ArchiveAnalog : RowKind::CurrentAnalog;
  const std::pair<const char*, RowKind> patterns[] = {
      {kPatternAnalogCyr, analog},
      {kPatternStatusCyr, RowKind::Status},
      {kPatternAnalogLat, analog},
      {kPatternStatusLat, RowKind::Status},
      {kPatternAccumCyr, RowKind::Accumulator},
      {kPatternAccumLat, RowKind::Accumulator},
  };
  for (const auto& [pattern, kind] : patterns) {
    if (MatchAddress(upperText, pattern, address)) return kind;
  }
  return RowKind::None;
}

bool InOrdinaryRange(const TmAddress& address) {
  constexpr int32_t kLimit = 32000;
  return address.channel >= 0 && address.channel <= kLimit && address.rtu >= 1 &&
         address.rtu <= kLimit && address.point >= 1 && address.point <= kLimit;
}

int32_t CommandArchiveNumber(const std::string& text, const char* format) {
  int32_t number = 0;
  void* const targets[] = {&number};
  return ScanFormatted(text.c_str(), format, targets) == 1 ? number : 0;
}

int32_t ParseArchiveNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return -1;  // no digits
  // The magnitude may reach 2^31 only for a negative number.
  const uint64_t limit = negative ? uint64_t{0x80000000} : uint64_t{0x7FFFFFFF};
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0 || digit >= base) return -1;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (magnitude > limit) return -1;
  }
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                  : static_cast<int32_t>(magnitude);
}

bool IsRetroListEntry(std::string_view upperText) {
  for (const char* prefix : {"#TT", "#ТТ", "#ТИ", "#ПУ", "#PU", "#TI"}) {
    if (BeginsWith(upperText, prefix)) return true;
  }
  return false;
}

BlockEntryKind MatchRetroEntry(const std::string& entry, TmAddress& address) {
  static constexpr std::pair<const char*, BlockEntryKind> kOrder[] = {
      {kPatternAnalogLat, BlockEntryKind::Analog},
      {kPatternAnalogCyr, BlockEntryKind::Analog},
      {kPatternAccumCyr, BlockEntryKind::Accumulator},
      {kPatternAccumLat, BlockEntryKind::Accumulator},
      {kPatternMeterCyr, BlockEntryKind::MeterReading},
      {kPatternMeterLat, BlockEntryKind::MeterReading},
  };
  return MatchFirst(entry, address, kOrder);
}

BlockEntryKind MatchXRetroRow(const std::string& text, TmAddress& address) {
  static constexpr std::pair<const char*, BlockEntryKind> kOrder[] = {
      {kPatternAnalogLat, BlockEntryKind::Analog},
      {kPatternAnalogCyr, BlockEntryKind::Analog},
      {kPatternMeterCyr, BlockEntryKind::MeterReading},
      {kPatternMeterLat, BlockEntryKind::MeterReading},
      {kPatternAccumCyr, BlockEntryKind::Accumulator},
      {kPatternAccumLat, BlockEntryKind::Accumulator},
  };
  return MatchFirst(text, address, kOrder);
}

}  // namespace velt
