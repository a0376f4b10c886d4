#include "Database.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <numbers>

#include "SliceTime.h"

namespace velt::tmsim {
namespace {

constexpr const char* kSmall = R"(
greeting = "Привет"
[[channel]]
number = 1
name = "Канал 1"
  [[channel.rtu]]
  number = 2
  name = "ПС Северная"
    [[channel.rtu.analog]]
    number = 3
    name = "U"
    sine = { mean = 100.0, amplitude = 10.0, period = 86400, origin = "2026-12-01 00:00" }
      [[channel.rtu.analog.archive]]
      number = 2
      from = "2026-11-30 00:00"
      to = 2026-12-02T00:00:00
      every = 3600
      values = [ { time = "01.12.2026 10:00", value = 42.5 }, { time = "01.12.2026 11:00" } ]
    [[channel.rtu.analog]]
    number = 4
    ramp = { start = 10, per_hour = 2, origin = "01.12.2026 00:00" }
    [[channel.rtu.status]]
    number = 1
    value = 1
    [[channel.rtu.status]]
    number = 2
    step = { every = 60, values = [0, 1, 2] }
    [[channel.rtu.status]]
    number = 3
    [[channel.rtu.accum]]
    number = 1
    reading = { ramp = { start = 1000, per_hour = 5, origin = "2026-12-01 00:00" } }
    power = 5
    archive = { from = "2026-12-01 00:00", to = "2026-12-01 23:00", every = 3600, values = [ { time = "2026-12-01 05:00", reading = 1.5, power = 2.5 } ] }
)";

TEST(Database, ValuesAndArchives) {
  const auto loaded = LoadDatabase(kSmall, "small.toml");
  ASSERT_TRUE(loaded.ok()) << loaded.error().text;
  const Database& db = loaded.value();
  ASSERT_EQ(db.greeting.size(), 1u);
  EXPECT_EQ(db.greeting[0], "\xCF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(db.channels.at(1).rtus.at(2).name, "\xCF\xD1 \xD1\xE5\xE2\xE5\xF0\xED\xE0\xFF");

  const int64_t t = CivilSeconds(2026, 12, 1, 7, 0, 0);
  const auto sine = static_cast<float>(100.0 + 10.0 * std::sin(2 * std::numbers::pi * 7 / 24));
  EXPECT_EQ(db.AnalogNow(1, 2, 3, t), sine);
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 2, t), sine);                 // generator at a grid slice
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 2, t + 1800), std::nullopt);  // between slices
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 1, t), std::nullopt);         // no such archive
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 2, CivilSeconds(2026, 12, 1, 10, 0, 0)), 42.5f);
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 2, CivilSeconds(2026, 12, 1, 11, 0, 0)), std::nullopt);
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 2, CivilSeconds(2026, 12, 2, 0, 0, 0)).has_value(), true);
  EXPECT_EQ(db.AnalogAt(1, 2, 3, 2, CivilSeconds(2026, 12, 2, 1, 0, 0)), std::nullopt);
  EXPECT_EQ(db.AnalogNow(1, 2, 4, CivilSeconds(2026, 11, 30, 21, 0, 0)), 4.0f);

  EXPECT_EQ(db.StatusAt(1, 2, 1, t), 1);
  EXPECT_EQ(db.StatusAt(1, 2, 2, CivilSeconds(2026, 1, 1, 0, 2, 0)), 2);
  EXPECT_EQ(db.StatusAt(1, 2, 2, CivilSeconds(1969, 12, 31, 23, 59, 0)), 2);  // before the origin
  EXPECT_EQ(db.StatusAt(1, 2, 3, t), std::nullopt);
  EXPECT_EQ(db.StatusAt(1, 2, 9, t), std::nullopt);
  EXPECT_EQ(db.StatusAt(9, 2, 1, t), std::nullopt);

  EXPECT_EQ(db.AccumNow(1, 2, 1, t), (std::pair{1035.0f, 5.0f}));
  EXPECT_EQ(db.AccumAt(1, 2, 1, CivilSeconds(2026, 12, 1, 4, 0, 0)), (std::pair{1020.0f, 5.0f}));
  EXPECT_EQ(db.AccumAt(1, 2, 1, CivilSeconds(2026, 12, 1, 5, 0, 0)), (std::pair{1.5f, 2.5f}));
  EXPECT_EQ(db.AccumAt(1, 2, 1, CivilSeconds(2026, 12, 2, 0, 0, 0)), std::nullopt);
}

TEST(Database, RecentSlicesCountFromTheServersStart) {
  constexpr const char* kRecent = R"(
[[channel]]
number = 1
  [[channel.rtu]]
  number = 1
    [[channel.rtu.analog]]
    number = 1
    ramp = { start = 0, per_hour = 1, origin = "2026-01-01 00:00" }
      [[channel.rtu.analog.archive]]
      number = 0
      from = "2026-01-01 00:00"
      to = "2026-01-01 02:00"
      every = 3600
      recent = { last = 86400, every = 3600 }
    [[channel.rtu.accum]]
    number = 1
    reading = 5
    power = 6
    archive = { recent = { last = 7200, every = 3600, next = 3600 } }
)";
  const int64_t start = CivilSeconds(2027, 3, 10, 15, 42, 0);
  const auto loaded = LoadDatabase(kRecent, "recent.toml", start);
  ASSERT_TRUE(loaded.ok()) << loaded.error().text;
  const Database& db = loaded.value();
  const int64_t hour = CivilSeconds(2027, 3, 10, 15, 0, 0);
  EXPECT_EQ(db.AnalogAt(1, 1, 1, 0, CivilSeconds(2026, 1, 1, 2, 0, 0)), 2.0f);  // the fixed grid
  EXPECT_TRUE(db.AnalogAt(1, 1, 1, 0, hour).has_value());
  EXPECT_TRUE(db.AnalogAt(1, 1, 1, 0, hour - 86400).has_value());
  EXPECT_FALSE(db.AnalogAt(1, 1, 1, 0, hour - 90000).has_value());
  EXPECT_FALSE(db.AnalogAt(1, 1, 1, 0, hour + 3600).has_value());
  EXPECT_FALSE(db.AnalogAt(1, 1, 1, 0, hour - 1800).has_value());
  EXPECT_EQ(db.AccumAt(1, 1, 1, hour + 3600), (std::pair{5.0f, 6.0f}));
  EXPECT_FALSE(db.AccumAt(1, 1, 1, hour - 3 * 3600).has_value());
}

TEST(Database, ErrorsNameTheLineOrTheMissingFile) {
  struct Case {
    const char* what;
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"TOML syntax", "[[channel]]\nnumber = 1\nname = \"x\n", "f.toml:3:"},
      {"unknown key", "[[channel]]\nnumber = 1\nnmae = \"x\"\n",
       "f.toml:3:1: channel: unknown key \"nmae\""},
      {"missing number", "[[channel]]\nname = \"x\"\n",
       "f.toml:1:1: channel: \"number\" is missing"},
      {"number out of range", "[[channel]]\nnumber = 70000\n",
       "f.toml:2:10: channel.number must be from 0 to 65535"},
      {"duplicate channel", "[[channel]]\nnumber = 1\n[[channel]]\nnumber = 1\n",
       "f.toml:3:1: channel 1 is given twice"},
      {"bad time",
       "[[channel]]\nnumber = 1\n[[channel.rtu]]\nnumber = 1\n"
       "[[channel.rtu.analog]]\nnumber = 1\nvalue = 1\n"
       "[[channel.rtu.analog.archive]]\nnumber = 0\nfrom = \"31.11.2026 00:00\"\n"
       "to = \"01.12.2026 00:00\"\nevery = 60\n",
       "f.toml:10:8: analog point.archive.from: \"31.11.2026 00:00\" is not a time"},
      {"two sources",
       "[[channel]]\nnumber = 1\n[[channel.rtu]]\nnumber = 1\n"
       "[[channel.rtu.analog]]\nnumber = 1\nvalue = 1\n"
       "sine = { mean = 1, amplitude = 1, period = 60 }\n",
       "f.toml:8:8: analog point: give only one of value, sine, ramp and step"},
      {"zero period",
       "[[channel]]\nnumber = 1\n[[channel.rtu]]\nnumber = 1\n"
       "[[channel.rtu.analog]]\nnumber = 1\n"
       "sine = { mean = 1, amplitude = 1, period = 0 }\n",
       "f.toml:7:44: analog point.sine.period must be from 1 to 2147483647"},
      {"status not an integer",
       "[[channel]]\nnumber = 1\n[[channel.rtu]]\nnumber = 1\n"
       "[[channel.rtu.status]]\nnumber = 1\nvalue = 0.5\n",
       "f.toml:7:9: status point.value must be an integer"},
      {"name outside Windows-1251", "[[channel]]\nnumber = 1\nname = \"漢\"\n",
       "f.toml:3:8: channel.name holds a character that Windows-1251 cannot represent"},
      {"accumulator with half a value",
       "[[channel]]\nnumber = 1\n[[channel.rtu]]\nnumber = 1\n[[channel.rtu.accum]]\nnumber = 1\n"
       "archive = { values = [ { time = \"01.12.2026\", reading = 1 } ] }\n",
       "f.toml:7:24: accumulator point.archive.values: give both reading and power"},
  };
  for (const Case& c : cases) {
    const auto r = LoadDatabase(c.text, "f.toml");
    EXPECT_FALSE(r.ok()) << c.what;
    EXPECT_EQ(r.error().text.rfind(c.error, 0), 0u) << c.what << ": " << r.error().text;
  }
  EXPECT_EQ(LoadDatabaseFile("/nonexistent/db.toml").error(),
            (Failure{ENOENT, "/nonexistent/db.toml: cannot open the file"}));
}

}  // namespace
}  // namespace velt::tmsim
