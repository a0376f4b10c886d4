// Slice times: the server's time text syntax and its civil-time arithmetic.
// A civil time counts seconds from 1970-01-01 00:00:00 of the server's wall clock, as if that
// clock had no time zone; slice texts are read in it and generators are functions of it, so a
// value at "01.12.2026 10:00" is the same whatever TZ the server runs in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velt::tmsim {

int64_t CivilSeconds(int year, int month, int day, int hour, int minute, int second);

// Accepted forms (surrounding blanks ignored; time of day optional, 00:00:00 when absent):
//   DD.MM.YYYY HH:MM[:SS]   DD.MM.YY HH:MM[:SS]   (YY: 00-29 is 20YY, 30-99 is 19YY)
//   YYYY-MM-DD HH:MM[:SS]   YYYY-MM-DDTHH:MM[:SS]
//   MM/DD/YY HH:MM[:SS] [AM|PM]   MM/DD/YYYY HH:MM[:SS] [AM|PM]   (month first)
//   HH:MM[:SS] [AM|PM]   (a time of day alone: that time on `today`, the civil time of a
//                         midnight; refused when `today` is not given)
// Day, month and hour may have one digit. Anything else is nullopt.
std::optional<int64_t> ParseSliceTime(std::string_view text,
                                      std::optional<int64_t> today = std::nullopt);

// The civil time of the midnight that begins the day of `civil`.
int64_t MidnightOf(int64_t civil);

// "DD.MM.YYYY HH:MM:SS"
std::string FormatCivil(int64_t civil);

// The server's wall clock now (local time of the TZ it runs in).
int64_t CivilNow();

}  // namespace velt::tmsim
