#include "Grammar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velt {
namespace {

struct Pattern {
  const char* format;
  const char* sample;  // a text that only this pattern accepts
};

const Pattern kAllPatterns[] = {
    {kPatternAnalogCyr, "#ТТ1:2:3"}, {kPatternAnalogLat, "#TT1:2:3"},
    {kPatternStatusCyr, "#ТС1:2:3"}, {kPatternStatusLat, "#TC1:2:3"},
    {kPatternAccumCyr, "#ТИ1:2:3"},  {kPatternAccumLat, "#TI1:2:3"},
    {kPatternMeterCyr, "#ПУ1:2:3"},  {kPatternMeterLat, "#PU1:2:3"},
};

TEST(GrammarTest, EachPatternAcceptsOnlyItsOwnScriptAndKind) {
  for (const Pattern& text : kAllPatterns) {
    for (const Pattern& pattern : kAllPatterns) {
      SCOPED_TRACE(std::string(text.sample) + " against " + pattern.format);
      TmAddress address;
      EXPECT_EQ(MatchAddress(text.sample, pattern.format, address), &text == &pattern);
    }
  }
}

TEST(GrammarTest, ScanAddressReportsAndStoresPartialMatches) {
  struct Case {
    const char* text;
    int32_t result;
    TmAddress address;
  };
  const Case cases[] = {
      {"#TT1:2:3", 3, {1, 2, 3}}, {"#TT 1: 2: 3", 3, {1, 2, 3}}, {"#TT1:2:3 feeder", 3, {1, 2, 3}},
      {"#TT1:2", 2, {1, 2, 0}},   {"#TT1.2.3", 1, {1, 0, 0}},    {"#TT5", 1, {5, 0, 0}},
      {"#TT", -1, {0, 0, 0}},     {"#TT:", 0, {0, 0, 0}},        {"#tt1:2:3", 0, {0, 0, 0}},
      {"", -1, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TmAddress address;
    EXPECT_EQ(ScanAddress(c.text, kPatternAnalogLat, address), c.result);
    EXPECT_EQ(address, c.address);
  }
}

TEST(GrammarTest, ClassifyOrdinaryRow) {
  struct Case {
    std::string upperText;
    int32_t archiveNumber;
    RowKind kind;
    TmAddress address;
  };
  const Case cases[] = {
      {"#ТТ1:2:3", -1, RowKind::CurrentAnalog, {1, 2, 3}},
      {"#ТТ1:2:3", 0, RowKind::ArchiveAnalog, {1, 2, 3}},
      {"#TT1:2:3", 2, RowKind::ArchiveAnalog, {1, 2, 3}},
      {"#TT1:2:3", -5, RowKind::CurrentAnalog, {1, 2, 3}},
      {"#ТС1:2:10", -1, RowKind::Status, {1, 2, 10}},
      {"#TC1:2:10", 3, RowKind::Status, {1, 2, 10}},
      {"#ТИ1:3:1", -1, RowKind::Accumulator, {1, 3, 1}},
      {"#TI1:3:1", 0, RowKind::Accumulator, {1, 3, 1}},
      {"#TT1:2:3 feeder", -1, RowKind::CurrentAnalog, {1, 2, 3}},
      {"#TT 7 : 8", -1, RowKind::None, {7, 0, 0}},
      {"#TT-1:2:3", -1, RowKind::CurrentAnalog, {-1, 2, 3}},  // the range is checked apart
      // Lower-case Latin is accepted once upper-cased; Cyrillic is never folded.
      {AsciiUpper("#tt1:2:3"), -1, RowKind::CurrentAnalog, {1, 2, 3}},
      {AsciiUpper("#tc1:2:3"), -1, RowKind::Status, {1, 2, 3}},
      {AsciiUpper("#ti1:2:3"), -1, RowKind::Accumulator, {1, 2, 3}},
      {"#tt1:2:3", -1, RowKind::None, {}},
      {AsciiUpper("#тт1:2:3"), -1, RowKind::None, {}},
      // Meter readings exist only in archive blocks.
      {"#ПУ1:2:3", 0, RowKind::None, {}},
      {"#PU1:2:3", 0, RowKind::None, {}},
      // Mixed scripts: Latin T with Cyrillic С and the other way round, and so on.
      {"#TС1:2:3", -1, RowKind::None, {}},
      {"#ТC1:2:3", -1, RowKind::None, {}},
      {"#TТ1:2:3", -1, RowKind::None, {}},
      {"#ТT1:2:3", -1, RowKind::None, {}},
      {"#TИ1:2:3", -1, RowKind::None, {}},
      {"#ТI1:2:3", -1, RowKind::None, {}},
      // Dots are not separators, and all three numbers are needed.
      {"#ТТ1.2.3", -1, RowKind::None, {1, 0, 0}},
      {"#ТТ1:2", -1, RowKind::None, {1, 2, 0}},
      {"ТМ адрес", -1, RowKind::None, {}},
      {"#", -1, RowKind::None, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.upperText + " archive " + std::to_string(c.archiveNumber));
    TmAddress address;
    EXPECT_EQ(ClassifyOrdinaryRow(c.upperText, c.archiveNumber, address), c.kind);
    EXPECT_EQ(address, c.address);
  }
}

TEST(GrammarTest, OrdinaryRangeLimits) {
  struct Case {
    TmAddress address;
    bool inRange;
  };
  const Case cases[] = {
      {{0, 1, 1}, true},      {{32000, 32000, 32000}, true},
      {{1, 2, 3}, true},      {{-1, 1, 1}, false},
      {{32001, 1, 1}, false}, {{1, 0, 1}, false},
      {{1, 32001, 1}, false}, {{1, 1, 0}, false},
      {{1, 1, 32001}, false}, {{65537, 1, 1}, false},  // would pass as 1 in its low 16 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.address.channel) + ":" + std::to_string(c.address.rtu) + ":" +
                 std::to_string(c.address.point));
    EXPECT_EQ(InOrdinaryRange(c.address), c.inRange);
  }
}

TEST(GrammarTest, Commands) {
  struct Case {
    const char* text;
    bool retro, xretro, xend, endsRetro, endsXRetro;
  };
  const Case cases[] = {
      {"RETRO", true, false, false, true, false},
      {"RETRO:5", true, false, false, true, false},
      {"RETROSPECTIVE", true, false, false, true, false},
      {"retro", false, false, false, false, false},
      {" RETRO", false, false, false, true, false},  // contains RETRO: still ends a block
      {"XRETRO", false, true, false, true, false},
      {"XRETRO:2", false, true, false, true, false},
      {"xretro", false, false, false, false, false},
      {"XEND", false, false, true, false, true},
      {"XEND of block", false, false, true, false, true},
      {"xend", false, false, false, false, false},
      {"time RETRO 5", false, false, false, true, false},
      {"#TT1:2:3", false, false, false, true, false},
      {"#", false, false, false, true, false},
      {"", false, false, false, true, true},
      {"12.01.2024 10:00", false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsRetroCommand(c.text), c.retro);
    EXPECT_EQ(IsXRetroCommand(c.text), c.xretro);
    EXPECT_EQ(IsXEnd(c.text), c.xend);
    EXPECT_EQ(EndsRetroBlock(c.text), c.endsRetro);
    EXPECT_EQ(EndsXRetroBlock(c.text), c.endsXRetro);
  }
}

TEST(GrammarTest, CommandArchiveNumber) {
  struct Case {
    const char* text;
    const char* format;
    int32_t number;
  };
  const Case cases[] = {
      {"RETRO:7", "RETRO:%d", 7},   {"RETRO: 12", "RETRO:%d", 12},
      {"RETRO:-3", "RETRO:%d", -3}, {"RETRO:5 extra", "RETRO:%d", 5},
      {"RETRO", "RETRO:%d", 0},     {"RETRO:", "RETRO:%d", 0},
      {"RETRO:x", "RETRO:%d", 0},   {"RETROSPECTIVE", "RETRO:%d", 0},
      {"RETRO :7", "RETRO:%d", 0},  {"XRETRO:2", "XRETRO:%d", 2},
      {"XRETRO", "XRETRO:%d", 0},   {"XRETRO:2", "RETRO:%d", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " with " + c.format);
    EXPECT_EQ(CommandArchiveNumber(c.text, c.format), c.number);
  }
}

TEST(GrammarTest, ParseArchiveNumber) {
  struct Case {
    std::string text;
    int32_t number;
  };
  const Case cases[] = {
      {"0", 0},
      {"2", 2},
      {" 12", 12},
      {"   7", 7},
      {"+5", 5},
      {"-5", -5},
      {"-0", 0},
      {"007", 7},
      {"$1A", 26},
      {"$1a", 26},
      {"x1A", 26},
      {"X1A", 26},
      {"0x1A", 26},
      {"0X1A", 26},
      {"-$10", -16},
      {"+0x10", 16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$7FFFFFFF", 2147483647},
      {"-$80000000", -2147483647 - 1},
      {"00000000000000000000012", 12},
      // Everything below is "no number".
      {"", -1},
      {" ", -1},
      {"abc", -1},
      {"1.5", -1},
      {"2,00", -1},
      {"12 ", -1},
      {"12abc", -1},
      {"\t12", -1},
      {"+", -1},
      {"-", -1},
      {"$", -1},
      {"0x", -1},
      {"$G", -1},
      {"1A", -1},
      {"- 5", -1},
      {"+-5", -1},
      {"2147483648", -1},
      {"-2147483649", -1},
      {"99999999999999999999", -1},
      {"$80000000", -1},  // hexadecimal obeys the signed range too
      {"$FFFFFFFF", -1},
      {"$100000000", -1},
      {std::string("1\0"
                   "2",
                   3),
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.text + "]");
    EXPECT_EQ(ParseArchiveNumber(c.text), c.number);
  }
}

TEST(GrammarTest, RetroListPrefix) {
  struct Case {
    const char* upperText;
    bool entry;
  };
  const Case cases[] = {
      {"#TT1:2:3", true},  {"#ТТ1:2:3", true},  {"#ТИ1:3:1", true},  {"#TI1:3:1", true},
      {"#ПУ1:3:1", true},  {"#PU1:3:1", true},  {"#TT5", true},      {"#TT", true},
      {"#TC1:2:3", false}, {"#ТС1:2:3", false}, {"", false},         {"TT1:2:3", false},
      {"#T", false},       {"#TС1:2:3", false}, {"#ТT1:2:3", false}, {"#tt1:2:3", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.upperText);
    EXPECT_EQ(IsRetroListEntry(c.upperText), c.entry);
  }
}

struct EntryCase {
  const char* text;
  BlockEntryKind kind;
  TmAddress address;
};

const std::vector<EntryCase> kBlockEntries = {
    {"#TT1:2:3", BlockEntryKind::Analog, {1, 2, 3}},
    {"#ТТ1:2:3", BlockEntryKind::Analog, {1, 2, 3}},
    {"#ТИ1:3:1", BlockEntryKind::Accumulator, {1, 3, 1}},
    {"#TI1:3:1", BlockEntryKind::Accumulator, {1, 3, 1}},
    {"#ПУ1:3:1", BlockEntryKind::MeterReading, {1, 3, 1}},
    {"#PU1:3:1", BlockEntryKind::MeterReading, {1, 3, 1}},
    // Not range-checked inside blocks.
    {"#TT40000:0:0", BlockEntryKind::Analog, {40000, 0, 0}},
    {"#PU1:2:3 meter", BlockEntryKind::MeterReading, {1, 2, 3}},
    // Partial matches leave their numbers behind.
    {"#TT5", BlockEntryKind::None, {5, 0, 0}},
    {"#ТИ5:6", BlockEntryKind::None, {5, 6, 0}},
    {"#PU7:", BlockEntryKind::None, {7, 0, 0}},
    {"#TT1.2.3", BlockEntryKind::None, {1, 0, 0}},
    // Status points are no block entries; neither are mixed scripts or other text.
    {"#TC1:2:3", BlockEntryKind::None, {}},
    {"#ТС1:2:3", BlockEntryKind::None, {}},
    {"#ПU1:2:3", BlockEntryKind::None, {}},
    {"#PУ1:2:3", BlockEntryKind::None, {}},
    {"RETRO", BlockEntryKind::None, {}},
    {"", BlockEntryKind::None, {}},
};

TEST(GrammarTest, MatchRetroEntry) {
  for (const EntryCase& c : kBlockEntries) {
    SCOPED_TRACE(c.text);
    TmAddress address;
    EXPECT_EQ(MatchRetroEntry(c.text, address), c.kind);
    EXPECT_EQ(address, c.address);
  }
}

TEST(GrammarTest, MatchXRetroRow) {
  for (const EntryCase& c : kBlockEntries) {
    SCOPED_TRACE(c.text);
    TmAddress address;
    EXPECT_EQ(MatchXRetroRow(c.text, address), c.kind);
    EXPECT_EQ(address, c.address);
  }
  // Rows inside an XRETRO block are matched as typed.
  for (const char* typed : {"#tt1:2:3", "#ti1:2:3", "#pu1:2:3"}) {
    SCOPED_TRACE(typed);
    TmAddress address;
    EXPECT_EQ(MatchXRetroRow(typed, address), BlockEntryKind::None);
  }
}

TEST(GrammarTest, AsciiUpperTouchesOnlyLatinLetters) {
  EXPECT_EQ(AsciiUpper("#tt1:2:3 feeder"), "#TT1:2:3 FEEDER");
  EXPECT_EQ(AsciiUpper("retro:5"), "RETRO:5");
  EXPECT_EQ(AsciiUpper("#тт1:2:3"), "#тт1:2:3");  // Cyrillic stays lower case
  EXPECT_EQ(AsciiUpper(""), "");

  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string upper = AsciiUpper(all);
  ASSERT_EQ(upper.size(), all.size());
  for (size_t c = 0; c < 256; ++c) {
    const char expected = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : all[c];
    EXPECT_EQ(upper[c], expected) << "byte " << c;
  }
}

}  // namespace
}  // namespace velt
