#include "SliceTime.h"

#include "AsciiText.h"
#include "CivilDays.h"

#include <cstdio>
#include <ctime>

namespace velt::tmsim {
namespace {

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ == text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  // Reads min..max decimal digits; returns -1 if there are fewer than min.
  int Digits(size_t min, size_t max, size_t* count = nullptr) {
    int value = 0;
    size_t n = 0;
    while (n < max && Peek() >= '0' && Peek() <= '9') {
      value = value * 10 + (Peek() - '0');
      ++pos_;
      ++n;
    }
    if (count != nullptr) *count = n;
    return n >= min ? value : -1;
  }
  size_t SkipBlanks() {
    const size_t start = pos_;
    while (Peek() == ' ' || Peek() == '\t') ++pos_;
    return pos_ - start;
  }
  // Case-insensitive match of an ASCII word.
  bool TakeWord(std::string_view word) {
    if (text_.size() - pos_ < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      char c = text_[pos_ + i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c != word[i]) return false;
    }
    pos_ += word.size();
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

std::string_view Trim(std::string_view s) {
  return TrimAscii(s, " \t");
}

int ExpandYear(int year, size_t digits) {
  if (digits == 4) return year;
  return year < 30 ? 2000 + year : 1900 + year;
}

}  // namespace

int64_t CivilSeconds(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         hour * 3600 + minute * 60 + second;
}

namespace {

// "H:MM[:SS]" and, where `ampm` allows, a following AM or PM; -1 when it is not a time.
int64_t TimeOfDay(Cursor& c, bool ampm) {
  int hour = c.Digits(1, 2);
  if (hour < 0 || !c.Take(':')) return -1;
  const int minute = c.Digits(2, 2);
  if (minute < 0) return -1;
  int second = 0;
  if (c.Take(':')) {
    second = c.Digits(2, 2);
    if (second < 0) return -1;
  }
  if (ampm && !c.AtEnd()) {
    c.SkipBlanks();
    const bool am = c.TakeWord("AM");
    const bool pm = !am && c.TakeWord("PM");
    if (!am && !pm) return -1;
    if (hour < 1 || hour > 12) return -1;
    hour = (hour % 12) + (pm ? 12 : 0);
  }
  if (!c.AtEnd() || hour > 23 || minute > 59 || second > 59) return -1;
  return hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<int64_t> ParseSliceTime(std::string_view text, std::optional<int64_t> today) {
  {
    // A time of day alone, as a spreadsheet gives a time cell.
    Cursor t(Trim(text));
    if (t.Digits(1, 2) >= 0 && t.Take(':')) {
      if (!today) return std::nullopt;
      Cursor again(Trim(text));
      const int64_t seconds = TimeOfDay(again, true);
      if (seconds < 0) return std::nullopt;
      return *today + seconds;
    }
  }
  Cursor c(Trim(text));
  int year = -1, month = -1, day = -1;
  size_t year_digits = 0;
  enum class Form { kDotted, kIso, kSlashed } form;

  // The first number's length and the separator after it tell the forms apart.
  size_t first_digits = 0;
  const int first = c.Digits(1, 4, &first_digits);
  if (first < 0) return std::nullopt;
  if (first_digits == 4 && c.Take('-')) {
    form = Form::kIso;
    year = first;
    year_digits = 4;
    month = c.Digits(1, 2);
    if (month < 0 || !c.Take('-')) return std::nullopt;
    day = c.Digits(1, 2);
  } else if (first_digits <= 2 && c.Take('.')) {
    form = Form::kDotted;
    day = first;
    month = c.Digits(1, 2);
    if (month < 0 || !c.Take('.')) return std::nullopt;
    year = c.Digits(2, 4, &year_digits);
  } else if (first_digits <= 2 && c.Take('/')) {
    form = Form::kSlashed;
    month = first;
    day = c.Digits(1, 2);
    if (day < 0 || !c.Take('/')) return std::nullopt;
    year = c.Digits(2, 4, &year_digits);
  } else {
    return std::nullopt;
  }
  if (day < 0 || year < 0 || (year_digits != 2 && year_digits != 4)) return std::nullopt;
  year = ExpandYear(year, year_digits);
  if (year < 1000 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return std::nullopt;
  }

  int64_t seconds = 0;
  if (!c.AtEnd()) {
    const bool iso_t = form == Form::kIso && c.Take('T');
    if (!iso_t && c.SkipBlanks() == 0) return std::nullopt;
    seconds = TimeOfDay(c, form == Form::kSlashed);
    if (seconds < 0) return std::nullopt;
  }
  return CivilSeconds(year, month, day, 0, 0, 0) + seconds;
}

std::string FormatCivil(int64_t civil) {
  int64_t days = civil / 86400;
  int64_t rest = civil % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[48];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", day, month, year,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

int64_t MidnightOf(int64_t civil) {
  return civil - ((civil % 86400) + 86400) % 86400;
}

int64_t CivilNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return CivilSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
}

}  // namespace velt::tmsim
