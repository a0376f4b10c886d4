#include "SliceTime.h"

#include <gtest/gtest.h>

namespace velt::tmsim {
namespace {

TEST(SliceTime, AcceptedAndRefusedTexts) {
  const int64_t dec1_10h = CivilSeconds(2026, 12, 1, 10, 0, 0);
  struct Case {
    const char* text;
    std::optional<int64_t> civil;
  };
  const Case cases[] = {
      {"01.12.2026 10:00", dec1_10h},
      {"01.12.2026 10:00:00", dec1_10h},
      {"1.12.2026 10:00", dec1_10h},
      {"  01.12.2026   10:00  ", dec1_10h},
      {"01.12.26 10:00", dec1_10h},  // as a Russian-locale spreadsheet shows a date-time cell
      {"01.12.29 10:00", CivilSeconds(2029, 12, 1, 10, 0, 0)},
      {"01.12.30 10:00", CivilSeconds(1930, 12, 1, 10, 0, 0)},
      {"2026-12-01 10:00", dec1_10h},
      {"2026-12-01T10:00:00", dec1_10h},
      {"12/01/26 10:00", dec1_10h},  // month first
      {"12/01/2026 10:00 AM", dec1_10h},
      {"12/01/26 10:00 PM", CivilSeconds(2026, 12, 1, 22, 0, 0)},
      {"12/01/26 12:00 AM", CivilSeconds(2026, 12, 1, 0, 0, 0)},
      {"12/01/26 12:30 pm", CivilSeconds(2026, 12, 1, 12, 30, 0)},
      {"01.12.2026", CivilSeconds(2026, 12, 1, 0, 0, 0)},
      {"29.02.2028 23:59:59", CivilSeconds(2028, 2, 29, 23, 59, 59)},
      {"", std::nullopt},
      {"N/A", std::nullopt},
      {"29.02.2026 10:00", std::nullopt},
      {"31.04.2026 10:00", std::nullopt},
      {"01.13.2026 10:00", std::nullopt},
      {"01.12.2026 24:00", std::nullopt},
      {"01.12.2026 10:60", std::nullopt},
      {"01.12.2026 10:0", std::nullopt},
      {"01.12.2026 10", std::nullopt},
      {"01.12.2026 10:00 AM", std::nullopt},  // AM/PM only with the month-first form
      {"12/01/26 13:00 PM", std::nullopt},
      {"01.12.2026T10:00", std::nullopt},
      {"01.12.202 10:00", std::nullopt},
      {"2026-12-01 10:00x", std::nullopt},
      {"2026/12/01 10:00", std::nullopt},
      {"01122026", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseSliceTime(c.text), c.civil) << '"' << c.text << '"';
  }
}

// What the update pass hands over for a date/time cell (CellValueText.h) in the Russian,
// English (US) and C locales (C reads as English): the short date, a blank and the long time;
// the date alone at midnight; the time alone for a pure time, on the server's day.
TEST(SliceTime, SpreadsheetValueTexts) {
  const int64_t today = CivilSeconds(2026, 12, 8, 0, 0, 0);
  struct Case {
    const char* text;
    std::optional<int64_t> civil;
  };
  const Case cases[] = {
      {"01.12.2026 12:00:00", CivilSeconds(2026, 12, 1, 12, 0, 0)},
      {"01.12.2026 9:05:07", CivilSeconds(2026, 12, 1, 9, 5, 7)},
      {"01.12.2026 0:30:00", CivilSeconds(2026, 12, 1, 0, 30, 0)},
      {"01.12.2026", CivilSeconds(2026, 12, 1, 0, 0, 0)},
      {"12/1/2026 12:00:00 PM", CivilSeconds(2026, 12, 1, 12, 0, 0)},
      {"12/1/2026 9:05:07 AM", CivilSeconds(2026, 12, 1, 9, 5, 7)},
      {"12/1/2026 12:30:00 AM", CivilSeconds(2026, 12, 1, 0, 30, 0)},
      {"12/1/2026 11:59:59 PM", CivilSeconds(2026, 12, 1, 23, 59, 59)},
      {"12/1/2026", CivilSeconds(2026, 12, 1, 0, 0, 0)},
      {"9:05:00", today + 9 * 3600 + 300},
      {"0:00:00", today},
      {"23:59:59", today + 86399},
      {"9:05", today + 9 * 3600 + 300},
      {"9:05:00 AM", today + 9 * 3600 + 300},
      {"12:00:00 AM", today},
      {"12:00:00 PM", today + 12 * 3600},
      {"11:30:00 pm", today + 23 * 3600 + 1800},
      {"24:00:00", std::nullopt},
      {"13:00:00 PM", std::nullopt},
      {"9:5:00", std::nullopt},
      {"9:05:00 XM", std::nullopt},
      {"9:05:00 1", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseSliceTime(c.text, today), c.civil) << '"' << c.text << '"';
  }
  // A time alone means nothing without a day (the database's times always have one).
  EXPECT_EQ(ParseSliceTime("9:05:00"), std::nullopt);
  EXPECT_EQ(MidnightOf(today + 3600), today);
  EXPECT_EQ(MidnightOf(-1), -86400);
}

TEST(SliceTime, FormatsWhatItParses) {
  EXPECT_EQ(FormatCivil(CivilSeconds(2026, 12, 1, 9, 5, 7)), "01.12.2026 09:05:07");
  EXPECT_EQ(FormatCivil(0), "01.01.1970 00:00:00");
  EXPECT_EQ(FormatCivil(-1), "31.12.1969 23:59:59");
  EXPECT_EQ(ParseSliceTime(FormatCivil(1796119507)), 1796119507);
}

}  // namespace
}  // namespace velt::tmsim
