// A cell's value as text in the user's locale, the way the spreadsheet
// object model hands a value over as text: not what the cell displays through its number format.
//
// - A number: its shortest decimal form that reads back as the same double, with the locale's
//   decimal separator and no thousands separators ("2", "2,5" in Russian, "2.5" in English).
//   Magnitudes from 1e21 up and below 1e-6 take an exponent ("1E+21", "1,5E-7").
// - A date/time value (a cell whose number format is a date, a time or both): the locale's short
//   date, a blank and its long time; the time is left out at exactly midnight, the date when the
//   value has no whole days (a pure time). Seconds are rounded to the nearest one.
//   Russian: "01.12.2026 12:00:00", "01.12.2026", "9:05:00". English (US): "12/1/2026 12:00:00
//   PM", "12/1/2026", "9:05:00 AM".
// - A boolean: the locale's word for it, as the spreadsheet shows it ("ИСТИНА"/"ЛОЖЬ" in Russian,
//   "TRUE"/"FALSE" in English).
//
// Locales are Windows locale identifiers (UserLocale.h); an unknown one is English (US), which
// is also what the C locale maps to.
#pragma once

#include <cstdint>
#include <string>

namespace velt {

std::string NumberValueText(double value, int32_t lcid);
// `serial`: days since 1899-12-30 00:00, the spreadsheet's date serial.
std::string DateTimeValueText(double serial, int32_t lcid);
std::string BooleanValueText(bool value, int32_t lcid);
// A civil time (seconds since 1970-01-01 00:00 of the wall clock) as a date-time cell holding it
// gives it: the form an archive row of the sheet sends as its slice time.
std::string CivilTimeValueText(int64_t civilSeconds, int32_t lcid);

}  // namespace velt
