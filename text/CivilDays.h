// Days since 1970-01-01 and proleptic Gregorian dates, both ways, for any year.
#pragma once

#include <cstdint>

namespace velt {

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);

}  // namespace velt
