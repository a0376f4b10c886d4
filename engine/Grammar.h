// The data sheet's grammar: TM address patterns, commands, archive numbers, row kinds.
// Plain functions over UTF-8 cell texts; the update pass (UpdateSheet.h) strings them together.
// Every comparison is exact and case-sensitive; the only folding is ASCII upper-casing, and
// only where the caller applies it. Cyrillic letters are never folded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "AsciiText.h"
#include "TmAddress.h"

namespace velt {

// The examined area and the list limit.
inline constexpr int32_t kLastExaminedRow = 10000;
inline constexpr int32_t kLastListColumn = 1001;  // lists take columns 2..1001

enum class RowKind { None, CurrentAnalog, ArchiveAnalog, Status, Accumulator };

// Kinds of an entry of a RETRO address list or of a row inside an XRETRO block.
enum class BlockEntryKind { None, Analog, Accumulator, MeterReading };

inline bool BeginsWith(std::string_view text, std::string_view word) {
  return text.substr(0, word.size()) == word;
}
inline bool Contains(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

// Classifies an ordinary row whose upper-cased column-1 text begins with "#": tries
// "#ТТ", "#ТС", "#TT", "#TC", "#ТИ", "#TI" in this order, storing into address.
// An analog match is ArchiveAnalog when archiveNumber >= 0, else CurrentAnalog.
RowKind ClassifyOrdinaryRow(const std::string& upperText, int32_t archiveNumber,
                            TmAddress& address);

// Channel 0..32000, RTU 1..32000, point 1..32000.
bool InOrdinaryRange(const TmAddress& address);

// Commands, recognised by the beginning of the text exactly as typed.
inline bool IsRetroCommand(std::string_view text) {
  return BeginsWith(text, "RETRO");
}
inline bool IsXRetroCommand(std::string_view text) {
  return BeginsWith(text, "XRETRO");
}
inline bool IsXEnd(std::string_view text) {
  return BeginsWith(text, "XEND");
}
// A RETRO block ends at a row that begins with "#", is empty, or contains "RETRO" anywhere.
inline bool EndsRetroBlock(std::string_view text) {
  return text.empty() || BeginsWith(text, "#") || Contains(text, "RETRO");
}
// An XRETRO block ends at a row that begins with "XEND" or is empty.
inline bool EndsXRetroBlock(std::string_view text) {
  return text.empty() || IsXEnd(text);
}

// The archive number of a command row: text scanned with format ("RETRO:%d" or
// "XRETRO:%d"); the number when exactly one converts, otherwise 0.
int32_t CommandArchiveNumber(const std::string& text, const char* format);

// The archive number in column 3, by the platform's standard integer rule: leading spaces (a
// tab is not one), an optional sign, decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X". Trailing characters of any kind, no digits, the empty text, or a value
// outside the 32-bit signed range give -1. Hexadecimal values obey the same range, so
// "$80000000" gives -1 rather than wrapping (to a caller both only mean "no archive").
int32_t ParseArchiveNumber(std::string_view text);

// The prefix test of a RETRO command row's cells (text already upper-cased): begins with
// "#TT", "#ТТ", "#ТИ", "#ПУ", "#PU" or "#TI".
bool IsRetroListEntry(std::string_view upperText);

// A RETRO list entry, matched as given (the caller upper-cases the command row's cells):
// analog ("#TT" then "#ТТ"), then accumulator ("#ТИ" then "#TI"), then meter reading
// ("#ПУ" then "#PU"), storing into address as it scans, also from patterns that then fail.
BlockEntryKind MatchRetroEntry(const std::string& entry, TmAddress& address);
// A row inside an XRETRO block, as typed: analog ("#TT" then "#ТТ"), then meter reading
// ("#ПУ" then "#PU"), then accumulator ("#ТИ" then "#TI"), storing into address as it scans,
// also from patterns that then fail.
BlockEntryKind MatchXRetroRow(const std::string& text, TmAddress& address);

}  // namespace velt
