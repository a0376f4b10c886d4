#include "CellValueText.h"

#include "CivilDays.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace velt {

namespace {

// The parts of a locale's number, date and time settings that the conversions use, as Windows
// defines them for each locale (short date, long time).
struct LocaleForms {
  int32_t lcid;
  char decimal;
  bool monthFirst;  // M/d/yyyy rather than dd.MM.yyyy
  char dateSeparator;
  bool padDayMonth;  // dd, MM rather than d, M
  bool hour12;       // h:mm:ss AM/PM
  bool padHour;      // HH rather than H
  const char* trueText;
  const char* falseText;
};

constexpr LocaleForms kEnglishUs{0x0409, '.', true, '/', false, true, false, "TRUE", "FALSE"};

constexpr LocaleForms kForms[] = {
    {0x0419, ',', false, '.', true, false, false, "ИСТИНА", "ЛОЖЬ"},      // ru-RU
    {0x0422, ',', false, '.', true, false, false, "ІСТИНА", "ХИБНІСТЬ"},  // uk-UA
    {0x0423, ',', false, '.', true, false, false, "TRUE", "FALSE"},       // be-BY
    {0x043F, ',', false, '.', true, false, false, "TRUE", "FALSE"},       // kk-KZ
    kEnglishUs,
    {0x0809, '.', false, '/', true, false, true, "TRUE", "FALSE"},   // en-GB
    {0x0407, ',', false, '.', true, false, true, "WAHR", "FALSCH"},  // de-DE
    {0x040C, ',', false, '/', true, false, true, "VRAI", "FAUX"},    // fr-FR
};

const LocaleForms& FormsOf(int32_t lcid) {
  for (const auto& forms : kForms) {
    if (forms.lcid == lcid) return forms;
  }
  return kEnglishUs;
}

// Days from 1970-01-01 to 1899-12-30, the spreadsheet's day 0.
constexpr int64_t kSerialEpoch = -25569;

}  // namespace

std::string NumberValueText(double value, int32_t lcid) {
  const LocaleForms& forms = FormsOf(lcid);
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";  // also -0
  char buffer[400];
  const double magnitude = std::fabs(value);
  const bool exponent = magnitude >= 1e21 || magnitude < 1e-6;
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value,
                    exponent ? std::chars_format::scientific : std::chars_format::fixed);
  std::string text(buffer, result.ptr);
  for (char& c : text) {
    if (c == '.') c = forms.decimal;
    if (c == 'e') c = 'E';
  }
  return text;
}

std::string DateTimeValueText(double serial, int32_t lcid) {
  const LocaleForms& forms = FormsOf(lcid);
  if (!std::isfinite(serial) || std::fabs(serial) > 3e6) return NumberValueText(serial, lcid);
  const auto total = static_cast<int64_t>(std::llround(serial * 86400.0));
  int64_t days = total / 86400;
  int64_t seconds = total % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  std::string text;
  char part[64];
  if (days != 0) {
    int year = 0, month = 0, day = 0;
    CivilFromDays(days + kSerialEpoch, year, month, day);
    const char* twoDigits = forms.padDayMonth ? "%02d" : "%d";
    char first[8], second[8];
    std::snprintf(first, sizeof first, twoDigits, forms.monthFirst ? month : day);
    std::snprintf(second, sizeof second, twoDigits, forms.monthFirst ? day : month);
    std::snprintf(part, sizeof part, "%s%c%s%c%04d", first, forms.dateSeparator, second,
                  forms.dateSeparator, year);
    text = part;
    if (seconds == 0) return text;
    text += ' ';
  }
  const int hour = static_cast<int>(seconds / 3600);
  const int minute = static_cast<int>(seconds / 60 % 60);
  const int second = static_cast<int>(seconds % 60);
  if (forms.hour12) {
    const int shown = hour % 12 == 0 ? 12 : hour % 12;
    std::snprintf(part, sizeof part, forms.padHour ? "%02d:%02d:%02d %s" : "%d:%02d:%02d %s", shown,
                  minute, second, hour < 12 ? "AM" : "PM");
  } else {
    std::snprintf(part, sizeof part, forms.padHour ? "%02d:%02d:%02d" : "%d:%02d:%02d", hour,
                  minute, second);
  }
  return text + part;
}

std::string CivilTimeValueText(int64_t civilSeconds, int32_t lcid) {
  const double serial =
      static_cast<double>(civilSeconds) / 86400.0 - static_cast<double>(kSerialEpoch);
  return DateTimeValueText(serial, lcid);
}

std::string BooleanValueText(bool value, int32_t lcid) {
  const LocaleForms& forms = FormsOf(lcid);
  return value ? forms.trueText : forms.falseText;
}

}  // namespace velt
