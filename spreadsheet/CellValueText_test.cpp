#include "CellValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace velt {
namespace {

constexpr int32_t kRussian = 0x0419;
constexpr int32_t kEnglishUs = 0x0409;

// Days since 1899-12-30 of a civil date, plus a fraction of a day.
double Serial(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  // 2026-12-01 is serial 46357.
  const int y = year - (month <= 2);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int days1970 = era * 146097 + doe - 719468;
  return days1970 + 25569 + (hour * 3600 + minute * 60 + second) / 86400.0;
}

TEST(CellValueText, Numbers) {
  struct Case {
    double value;
    const char* russian;
    const char* english;
  };
  const Case cases[] = {
      {2, "2", "2"},
      {2.5, "2,5", "2.5"},
      {-2.5, "-2,5", "-2.5"},
      {0, "0", "0"},
      {-0.0, "0", "0"},
      {1234567.125, "1234567,125", "1234567.125"},
      {0.1, "0,1", "0.1"},
      {0.1 + 0.2, "0,30000000000000004", "0.30000000000000004"},
      {1.0 / 3, "0,3333333333333333", "0.3333333333333333"},
      {1e20, "100000000000000000000", "100000000000000000000"},
      {1e21, "1E+21", "1E+21"},
      {1.5e-7, "1,5E-07", "1.5E-07"},
      {0.000001, "0,000001", "0.000001"},
      {32767, "32767", "32767"},
      {static_cast<double>(3.4028235e38f), "3,4028234663852886E+38", "3.4028234663852886E+38"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberValueText(c.value, kRussian), c.russian) << c.value;
    EXPECT_EQ(NumberValueText(c.value, kEnglishUs), c.english) << c.value;
  }
  // Every shortest form reads back as the same double.
  for (double v : {0.1, 1.0 / 7, 123456.789, 6.02e23, 2.5e-9}) {
    std::string text = NumberValueText(v, kEnglishUs);
    EXPECT_EQ(std::stod(text), v) << text;
  }
}

TEST(CellValueText, DatesAndTimes) {
  ASSERT_EQ(Serial(2026, 12, 1), 46357);
  struct Case {
    double serial;
    const char* russian;
    const char* english;
  };
  const Case cases[] = {
      {Serial(2026, 12, 1, 12), "01.12.2026 12:00:00", "12/1/2026 12:00:00 PM"},
      {Serial(2026, 12, 1), "01.12.2026", "12/1/2026"},
      {Serial(2026, 12, 1, 9, 5, 7), "01.12.2026 9:05:07", "12/1/2026 9:05:07 AM"},
      {Serial(2026, 12, 1, 0, 30), "01.12.2026 0:30:00", "12/1/2026 12:30:00 AM"},
      {Serial(2026, 12, 1, 23, 59, 59), "01.12.2026 23:59:59", "12/1/2026 11:59:59 PM"},
      {Serial(1999, 1, 2, 13), "02.01.1999 13:00:00", "1/2/1999 1:00:00 PM"},
      // Pure times: no whole days.
      {0.5, "12:00:00", "12:00:00 PM"},
      {0.25, "6:00:00", "6:00:00 AM"},
      {0, "0:00:00", "12:00:00 AM"},
      // Rounded to the second, which may carry into the next day.
      {Serial(2026, 12, 1, 10) + 0.4 / 86400, "01.12.2026 10:00:00", "12/1/2026 10:00:00 AM"},
      {Serial(2026, 12, 2) - 0.2 / 86400, "02.12.2026", "12/2/2026"},
      {Serial(1900, 1, 1), "01.01.1900", "1/1/1900"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateTimeValueText(c.serial, kRussian), c.russian) << c.serial;
    EXPECT_EQ(DateTimeValueText(c.serial, kEnglishUs), c.english) << c.serial;
  }
  // Other locales: day first with their own separators, 24 hours.
  EXPECT_EQ(DateTimeValueText(Serial(2026, 12, 1, 9), 0x0809), "01/12/2026 09:00:00");
  EXPECT_EQ(DateTimeValueText(Serial(2026, 12, 1, 9), 0x0407), "01.12.2026 09:00:00");
  EXPECT_EQ(DateTimeValueText(Serial(2026, 12, 1, 9), 0x0422), "01.12.2026 9:00:00");
  // Unknown locales are English (US).
  EXPECT_EQ(DateTimeValueText(Serial(2026, 12, 1, 9), 0x0411), "12/1/2026 9:00:00 AM");
  EXPECT_EQ(NumberValueText(2.5, 0x0411), "2.5");
}

TEST(CellValueText, Booleans) {
  EXPECT_EQ(BooleanValueText(true, kRussian), "ИСТИНА");
  EXPECT_EQ(BooleanValueText(false, kRussian), "ЛОЖЬ");
  EXPECT_EQ(BooleanValueText(true, kEnglishUs), "TRUE");
  EXPECT_EQ(BooleanValueText(false, kEnglishUs), "FALSE");
}

}  // namespace
}  // namespace velt
