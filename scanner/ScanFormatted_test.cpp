#include "ScanFormatted.h"

#include <gtest/gtest.h>

#include <array>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace velt {
namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

// Scans into up to four int32 targets preset to kUntouched.
struct IntScan {
  int32_t result;
  std::array<int32_t, 4> values;
};

IntScan ScanInts(const char* input, const char* format, size_t targetCount = 4) {
  IntScan s{0, {kUntouched, kUntouched, kUntouched, kUntouched}};
  void* const targets[] = {&s.values[0], &s.values[1], &s.values[2], &s.values[3]};
  s.result = ScanFormatted(input, format, std::span<void* const>(targets, targetCount));
  return s;
}

struct IntCase {
  const char* format;
  const char* input;
  int32_t result;
  std::vector<int32_t> stored;  // the rest of the targets must stay untouched
  size_t targetCount = 4;
};

void CheckIntCases(const std::vector<IntCase>& cases) {
  for (const IntCase& c : cases) {
    SCOPED_TRACE(std::string("format [") + c.format + "] input [" + c.input + "]");
    const IntScan s = ScanInts(c.input, c.format, c.targetCount);
    EXPECT_EQ(s.result, c.result);
    for (size_t i = 0; i < s.values.size(); ++i) {
      EXPECT_EQ(s.values[i], i < c.stored.size() ? c.stored[i] : kUntouched) << "target " << i;
    }
  }
}

TEST(ScanFormattedTest, IntegerEdgeCases) {
  CheckIntCases({
      {"#TT%d:%d:%d", "#TT12:3:45", 3, {12, 3, 45}},
      {"#TT%d:%d:%d", "#TT 12: 3:45", 3, {12, 3, 45}},
      {"#TT%d:%d:%d", "#TT12 :3:45", 1, {12}},
      {"#TT%d:%d:%d", "#tt12:3:45", 0, {}},
      {"#TT%d:%d:%d", "#TT1:2:3xyz", 3, {1, 2, 3}},
      {"RETRO:%d", "RETRO:7", 1, {7}},
      {"RETRO:%d", "RETRO:", -1, {}},
      {"RETRO:%d", "RETRO:x", 0, {}},
      {"%d", "", -1, {}},
      {"%d", "   ", -1, {}},
      // The input ends before the count directive, so its target is not written.
      {"%d%n", "12", 1, {12}},
      {"%3d", "12345", 1, {123}},
      {"%3d%d", "12345", 2, {123, 45}},
      {"%2d", "-5", 1, {-5}},
      {"%1d", "-5", 0, {}},
      {"%i", "010", 1, {8}},
      {"%i", "0x1A", 1, {26}},
      {"%i", "$1A", 1, {26}},
      {"%i%d", "09", 2, {0, 9}},
      {"%x", "0x1A", 1, {0}},
      {"%*d%d", "1 2", 1, {2}},
      {"%d%d", "1 2", 1, {1}, 1},
  });
}

TEST(ScanFormattedTest, IntegerConversions) {
  CheckIntCases({
      {"%d", "+17", 1, {17}},
      {"%d", "-", -1, {}},  // the sign is read, then the input is used up
      {"%d", "+x", 0, {}},
      {"%u", "-1", 1, {-1}},
      {"%D", "42", 1, {42}},
      {"%o", "777", 1, {0777}},
      {"%o%d", "78", 2, {7, 8}},
      {"%o", "8", 0, {}},
      {"%x", "fF", 1, {255}},
      {"%X", "-a", 1, {-10}},
      {"%p", "DEADBEEF", 1, {static_cast<int32_t>(0xDEADBEEF)}},
      {"%i", "-$10", 1, {-16}},
      {"%i", "0X1a", 1, {26}},
      {"%i", "12", 1, {12}},
      {"%i", "-012", 1, {-10}},
      {"%i", "0xg", 0, {}},          // "0x" is taken, then no hexadecimal digit follows
      {"%2i", "0x1A", 0, {}},        // the prefix uses up the width
      {"%d", "4294967296", 1, {0}},  // low 32 bits
      {"%d", "2147483648", 1, {std::numeric_limits<int32_t>::min()}},
      {"%d", "99999999999999999999999", 1, {-159383553}},
      {"%d", "\x01\t\n\r 7", 1, {7}},  // codes 1..32 are all blanks
      {"%d",
       "\x7f"
       "7",
       0,
       {}},  // 127 is not
      {"%99999999999999999999d", "123", 1, {123}},
  });
}

TEST(ScanFormattedTest, SixtyFourBitsWrapSilently) {
  int64_t v = 0;
  void* const t[] = {&v};
  EXPECT_EQ(ScanFormatted("18446744073709551617", "%Ld", t), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(ScanFormatted("-9223372036854775808", "%lld", t), 1);
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ScanFormatted("FFFFFFFFFFFFFFFF", "%l64x", t), 1);
  EXPECT_EQ(v, -1);
}

TEST(ScanFormattedTest, LiteralsAndBlanks) {
  CheckIntCases({
      {"a b%d", "a    b1", 1, {1}},
      {"a b%d", "ab1", 1, {1}},          // a blank in the format matches none too
      {"a\tb%d", "a\n\x01 b2", 1, {2}},  // any control characters match each other
      {"ab%d", "a b1", 0, {}},           // but the input's blanks need one in the format
      {"%%%d", "%5", 1, {5}},
      {"%%%d", "x5", 0, {}},
      {"%d%%", "5", 1, {5}},
      {"x%d", "", -1, {}},
      {"\xD0\xA2%d",
       "\xD0\xA2"
       "9",
       1,
       {9}},
      {"\xD0\xA2%d",
       "\xD0\xA1"
       "9",
       0,
       {}},
      {"", "abc", 0, {}},
      {"", "", -1, {}},
  });
}

TEST(ScanFormattedTest, MalformedDirectivesStoreNothing) {
  const char* const formats[] = {"%0d", "%hc", "%Hs",  "%q",   "%[abc", "%",    "%5",   "%*",
                                 "%l",  "%l1", "%l1d", "%l3d", "%l6d",  "%h",   "%Ls",  "%lc",
                                 "%hp", "%Lp", "%hm",  "%[]",  "%[^]",  "%00d", "%5*d", "%ld%0d"};
  for (const char* format : formats) {
    SCOPED_TRACE(format);
    for (const char* input : {"5 6", ""}) {
      const IntScan s = ScanInts(input, format);
      if (std::string(format) == "%ld%0d" && *input != 0) {
        EXPECT_EQ(s.result, 1);  // the first directive is well formed
        EXPECT_EQ(s.values[1], kUntouched);
        continue;
      }
      EXPECT_EQ(s.result, *input == 0 ? -1 : 0);
      EXPECT_EQ(s.values[0], kUntouched);
    }
  }
}

TEST(ScanFormattedTest, TargetsAndPointers) {
  int32_t a = kUntouched, b = kUntouched, c = kUntouched;
  void* const withNull[] = {&a, nullptr, &c};
  EXPECT_EQ(ScanFormatted("1 2 3", "%d %d %d", withNull), 1);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(c, kUntouched);

  EXPECT_EQ(ScanFormatted("5", "%d", {}), 0);
  EXPECT_EQ(ScanFormatted("5", "%*d", {}), -1);  // nothing stored, all input read
  EXPECT_EQ(ScanFormatted("5 6", "%*d", {}), 0);

  void* const one[] = {&b};
  EXPECT_EQ(ScanFormatted(nullptr, "%d", one), -1);
  EXPECT_EQ(ScanFormatted("x", nullptr, one), 0);
  EXPECT_EQ(ScanFormatted(nullptr, nullptr, one), -1);
  EXPECT_EQ(b, kUntouched);
}

TEST(ScanFormattedTest, MoneyIsAcceptedAndStops) {
  CheckIntCases({
      {"%m", "  12.50", 0, {}},
      {"%M", "  ", -1, {}},
      {"%d%m%d", "1 2 3", 1, {1}},
      {"%*m%d", "1 2", 0, {}},
  });
}

TEST(ScanFormattedTest, CountDirective) {
  int32_t n = kUntouched;
  int32_t v = kUntouched;
  void* const t[] = {&v, &n};
  EXPECT_EQ(ScanFormatted("12 ", "%d%n", t), 1);  // not counted in the result
  EXPECT_EQ(n, 2);
  void* const u[] = {&n, &v};
  EXPECT_EQ(ScanFormatted("ab 5", "ab%n%d", u), 1);
  EXPECT_EQ(n, 2);  // the count directive skips no blanks
  EXPECT_EQ(v, 5);

  int64_t wide = -1;
  int16_t half = -1;
  int8_t byte = -1;
  void* const sizes[] = {&wide, &half, &byte};
  EXPECT_EQ(ScanFormatted("abc.", "a%Lnb%hnc%Hn", sizes), 0);
  EXPECT_EQ(wide, 1);
  EXPECT_EQ(half, 2);
  EXPECT_EQ(byte, 3);

  void* const suppressedFirst[] = {&v};
  v = kUntouched;
  EXPECT_EQ(ScanFormatted("x 4", "x%*n%d", suppressedFirst), 1);
  EXPECT_EQ(v, 4);
}

// Every size prefix writes exactly its own number of bytes, least significant first.
TEST(ScanFormattedTest, IntegerSizesWriteTheirBytes) {
  struct Case {
    const char* format;
    size_t bytes;
  };
  const Case cases[] = {{"%d", 4},   {"%hd", 2},   {"%l16d", 2}, {"%Hd", 1},
                        {"%l8d", 1}, {"%ld", 4},   {"%l32d", 4}, {"%Ld", 8},
                        {"%lld", 8}, {"%l64d", 8}, {"%hu", 2},   {"%Hi", 1},
                        {"%Lo", 8},  {"%hx", 2},   {"%lD", 4},   {"%LD", 8}};
  // 0x0123456789ABCDEF, in the base of each letter.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const char letter = c.format[std::strlen(c.format) - 1];
    const char* input = letter == 'o'   ? "04432126361152746757"
                        : letter == 'x' ? "123456789ABCDEF"
                        : letter == 'i' ? "$123456789abcdef"
                                        : "81985529216486895";
    std::array<unsigned char, 12> buffer;
    buffer.fill(0xEE);
    void* const t[] = {buffer.data()};
    EXPECT_EQ(ScanFormatted(input, c.format, t), 1);
    const unsigned char expected[8] = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    for (size_t i = 0; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], i < c.bytes ? expected[i] : 0xEE) << "byte " << i;
    }
  }
  int16_t half = 0;
  void* const t[] = {&half};
  EXPECT_EQ(ScanFormatted("70000", "%hd", t), 1);
  EXPECT_EQ(half, 4464);
}

struct TextCase {
  const char* format;
  const char* input;
  int32_t result;
  const char* stored;  // nullptr: the target is untouched
};

TEST(ScanFormattedTest, StringsAndScanSets) {
  const TextCase cases[] = {
      {"%[a-c]", "xyz", 1, ""},
      {"%[^,]", "ab,cd", 1, "ab"},
      {"%[]a]", "]a]", 1, "]a]"},
      {"%s", "two words", 1, "two"},
      {"%s", "  \tword\x01rest", 1, "word"},
      {"%2s", "abcd", 1, "ab"},
      {"%S", "x", 1, "x"},
      {"%[a-c]", "", -1, nullptr},
      {"%[a-c]", "cabd", 1, "cab"},
      {"%[c-a]", "abc", 1, ""},  // a reversed range adds nothing
      {"%[-a]", "-a-b", 1, "-a-"},
      {"%[a-]", "a-b", 1, "a-"},
      {"%[^]]", "ab]c", 1, "ab"},
      {"%[^-]", "ab-c", 1, "ab"},
      {"%[]-a]", "]-ab", 1, "]-a"},  // a leading "]" is a member, not a range start
      {"%[a-c-e]", "ab-dex", 1, "ab-"},
      {"%2[a-z]", "abcd", 1, "ab"},
      {"%[abc]", " abc", 1, ""},  // a scan set skips no blanks
      {"%[^,]", "\xD0\xB0\xD0\xB1,x", 1, "\xD0\xB0\xD0\xB1"},
      {"%[\x80-\xff]", "\xD0\xB6x", 1, "\xD0\xB6"},
      {"%[^a]",
       "\x01\x02"
       "a",
       1, "\x01\x02"},
      {"%s", "\xD0\xA2\xD0\xA2 x", 1, "\xD0\xA2\xD0\xA2"},
      {"%*s%s", "one two", 1, "two"},
      {"%*[a-z]%s", "abc123", 1, "123"},
      {"%[a-c]%*s", "abc", 1, "abc"},  // the second directive meets the end of the input
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(std::string("format [") + c.format + "] input [" + c.input + "]");
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    buffer[63] = 0;
    void* const t[] = {buffer};
    EXPECT_EQ(ScanFormatted(c.input, c.format, t), c.result);
    if (c.stored != nullptr) {
      EXPECT_STREQ(buffer, c.stored);
    } else {
      EXPECT_EQ(buffer[0], '#');
    }
  }
}

TEST(ScanFormattedTest, CharacterRunHasNoTerminator) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  void* const t[] = {buffer};
  EXPECT_EQ(ScanFormatted("ab", "%3c", t), 1);
  EXPECT_EQ(std::string(buffer, 4), "ab##");

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ScanFormatted(" xy", "%c", t), 1);  // width 1, blanks are characters
  EXPECT_EQ(std::string(buffer, 2), " #");

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ScanFormatted("abcdef", "%*2c%3C", t), 1);
  EXPECT_EQ(std::string(buffer, 4), "cde#");
}

TEST(ScanFormattedTest, LengthPrefixedStrings) {
  for (const char* format : {"%hs", "%l16s", "%h[a-z]"}) {
    SCOPED_TRACE(format);
    unsigned char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    void* const t[] = {buffer};
    EXPECT_EQ(ScanFormatted("hello world", format, t), 1);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 1), 6), "hello#");
  }

  std::vector<unsigned char> buffer(300, '#');
  void* const t[] = {buffer.data()};
  const std::string longest(255, 'a');
  EXPECT_EQ(ScanFormatted(longest.c_str(), "%hs", t), 1);
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ(buffer[255], 'a');
  EXPECT_EQ(buffer[256], '#');

  // Too long for its length byte: refused, not cut.
  std::fill(buffer.begin(), buffer.end(), '#');
  const std::string tooLong(256, 'b');
  EXPECT_EQ(ScanFormatted(tooLong.c_str(), "%hs", t), -1);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(ScanFormatted((tooLong + " x").c_str(), "%hs", t), 0);
  EXPECT_EQ(ScanFormatted((tooLong + " x").c_str(), "%*hs %s", t), 1);  // only stores check it
  EXPECT_EQ(buffer[0], 'x');
}

TEST(ScanFormattedTest, DynamicStrings) {
  std::string s = "previous content";
  std::string u;
  void* const t[] = {&s, &u};
  EXPECT_EQ(ScanFormatted("abc def", "%ls %l32S", t), 2);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(u, "def");
  EXPECT_EQ(ScanFormatted("xyz", "%l[a-x]", t), 1);
  EXPECT_EQ(s, "x");
  EXPECT_EQ(ScanFormatted("123", "%l[a-x]", t), 1);
  EXPECT_EQ(s, "");
}

TEST(ScanFormattedTest, LargeInputs) {
  const std::string letters(1 << 20, 'a');
  std::string s;
  void* const ts[] = {&s};
  EXPECT_EQ(ScanFormatted(letters.c_str(), "%ls", ts), 1);
  EXPECT_EQ(s.size(), letters.size());

  const std::string digits(1 << 20, '9');
  int64_t v = 0;
  void* const tv[] = {&v};
  EXPECT_EQ(ScanFormatted(digits.c_str(), "%Ld", tv), 1);

  const std::string blanks(1 << 20, ' ');
  EXPECT_EQ(ScanFormatted(blanks.c_str(), "%d", tv), -1);

  double d = 0;
  void* const td[] = {&d};
  EXPECT_EQ(ScanFormatted(digits.c_str(), "%lf", td), 1);
  EXPECT_TRUE(std::isinf(d));
  // Digits past what the accumulator can hold are dropped rather than overflowing it.
  EXPECT_EQ(ScanFormatted(("0." + digits).c_str(), "%lf", td), 1);
  EXPECT_DOUBLE_EQ(d, 1.0);
  EXPECT_EQ(ScanFormatted(("1" + std::string(5000, '0') + "e-5000").c_str(), "%lf", td), 1);
  EXPECT_DOUBLE_EQ(d, 1.0);
  EXPECT_EQ(ScanFormatted(("0." + std::string(1 << 20, '0') + "1").c_str(), "%lf", td), 1);
  EXPECT_EQ(d, 0.0);
}

struct FloatCase {
  const char* format;
  const char* input;
  int32_t result;
  double value;  // compared after storing as double
};

TEST(ScanFormattedTest, FloatingConversions) {
  const double inf = std::numeric_limits<double>::infinity();
  const FloatCase cases[] = {
      {"%lf", "1.5e2", 1, 150.0},
      {"%lf", ".5", 1, 0.5},
      {"%lf", "1e", 1, 1.0},
      {"%lf", "1E+", 1, 1.0},
      {"%lf", "INFINITY", 1, inf},
      {"%lf", "-INF", 1, -inf},
      {"%lf", "+2", 1, 2.0},
      {"%lf", "-1.25", 1, -1.25},
      {"%lf", "0.1", 1, 0.1},
      {"%lf", "123456789012345678", 1, 123456789012345678.0},
      {"%lf", "1.7976931348623157e308", 1, 1.7976931348623157e308},
      {"%lf", "4.9406564584124654e-324", 1, 4.9406564584124654e-324},
      {"%lf", "1e400", 1, inf},
      {"%lf", "1e-400", 1, 0.0},
      {"%lf", "1e99999999999999999999", 1, inf},
      {"%lf", "1e-99999999999999999999", 1, 0.0},
      {"%lf", "12.5e-1", 1, 1.25},
      {"%lf", "1.5,7", 1, 1.5},
      {"%lf", "  \t3", 1, 3.0},
      {"%3lf", "1.2345", 1, 1.2},
      {"%4lf", "1e-5", 1, 1e-5},
      {"%3lf", "1e-5", 1, 1.0},  // the exponent's digits are past the width
      {"%lE", "2", 1, 2.0},
      {"%lg", "2", 1, 2.0},
      {"%lf", "inf", 0, 0.0},
      {"%lf", "x", 0, 0.0},
      {"%lf", ".", -1, 0.0},
      {"%lf", "-", -1, 0.0},
      {"%2lf", "-INF", 0, 0.0},  // the sign leaves too little width for INF
  };
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(std::string("format [") + c.format + "] input [" + c.input + "]");
    double d = 0;
    void* const t[] = {&d};
    EXPECT_EQ(ScanFormatted(c.input, c.format, t), c.result);
    EXPECT_EQ(d, c.value);
  }
}

TEST(ScanFormattedTest, FloatingLeavesTheRestOfTheInput) {
  float f = 0;
  char rest[16] = {};
  void* const t[] = {&f, rest};
  EXPECT_EQ(ScanFormatted("INFINITY", "%f%s", t), 2);
  EXPECT_TRUE(std::isinf(f));
  EXPECT_STREQ(rest, "INITY");
  EXPECT_EQ(ScanFormatted("1ex", "%f%s", t), 2);
  EXPECT_EQ(f, 1.0f);
  EXPECT_STREQ(rest, "x");
}

TEST(ScanFormattedTest, NotANumber) {
  double d = 0;
  void* const t[] = {&d};
  EXPECT_EQ(ScanFormatted("NAN", "%lf", t), 1);
  EXPECT_TRUE(std::isnan(d));
  EXPECT_FALSE(std::signbit(d));
  EXPECT_EQ(ScanFormatted("-NAN", "%lf", t), 1);
  EXPECT_TRUE(std::isnan(d));
  EXPECT_TRUE(std::signbit(d));
  EXPECT_EQ(ScanFormatted("nan", "%lf", t), 0);
}

TEST(ScanFormattedTest, FloatingSizesWriteTheirBytes) {
  struct Case {
    const char* format;
    size_t bytes;
  };
  const Case cases[] = {{"%f", 4},     {"%hf", 4},   {"%l16f", 4}, {"%e", 4},
                        {"%lf", 8},    {"%l32f", 8}, {"%Lf", 10},  {"%llf", 10},
                        {"%l64f", 10}, {"%Hf", 6},   {"%l8f", 6},  {"%LG", 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    std::array<unsigned char, 16> buffer;
    buffer.fill(0xEE);
    void* const t[] = {buffer.data()};
    EXPECT_EQ(ScanFormatted("-2", c.format, t), 1);
    std::vector<unsigned char> expected;
    switch (c.bytes) {
      case 4:
        expected = {0x00, 0x00, 0x00, 0xC0};
        break;
      case 8:
        expected = {0, 0, 0, 0, 0, 0, 0x00, 0xC0};
        break;
      case 6:
        expected = {0x82, 0, 0, 0, 0, 0x80};
        break;
      default:
        expected = {0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0};
        break;
    }
    for (size_t i = 0; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], i < c.bytes ? expected[i] : 0xEE) << "byte " << i;
    }
  }
}

TEST(ScanFormattedTest, ExtendedKeepsFullPrecision) {
  unsigned char bytes[10];
  void* const t[] = {bytes};
  EXPECT_EQ(ScanFormatted("1.5", "%Lf", t), 1);
  const unsigned char onePointFive[10] = {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F};
  EXPECT_EQ(std::memcmp(bytes, onePointFive, 10), 0);
  // 2^64 - 1 needs all 64 mantissa bits.
  EXPECT_EQ(ScanFormatted("18446744073709551615", "%Lf", t), 1);
  const unsigned char allOnes[10] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3E, 0x40};
  EXPECT_EQ(std::memcmp(bytes, allOnes, 10), 0);
}

// The 6-byte real: bias 129, mantissa least significant byte first, sign on top of byte 5.
TEST(ScanFormattedTest, Real48Values) {
  struct Case {
    const char* input;
    int32_t result;
    std::array<unsigned char, 6> bytes;
  };
  const Case cases[] = {
      {"1", 1, {0x81, 0, 0, 0, 0, 0}},
      {"-1", 1, {0x81, 0, 0, 0, 0, 0x80}},
      {"100", 1, {0x87, 0, 0, 0, 0, 0x48}},
      {"0.1", 1, {0x7D, 0xCD, 0xCC, 0xCC, 0xCC, 0x4C}},
      {"0", 1, {0, 0, 0, 0, 0, 0}},
      {"-0", 1, {0, 0, 0, 0, 0, 0}},
      {"1e-40", 1, {0, 0, 0, 0, 0, 0}},  // too small: zero
      // The largest value, (2 - 2^-39) * 2^126.
      {"170141183460314489226776631181521715200", 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::array<unsigned char, 8> buffer;
    buffer.fill(0xEE);
    void* const t[] = {buffer.data()};
    EXPECT_EQ(ScanFormatted(c.input, "%Hf", t), c.result);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(buffer[i], c.bytes[i]) << "byte " << i;
    EXPECT_EQ(buffer[6], 0xEE);
  }
}

// A value beyond the 48-bit real ends the scan quietly, without storing.
TEST(ScanFormattedTest, Real48OutOfRangeStopsWithoutStoring) {
  for (const char* input :
       {"1e39", "-1e39", "170141183460469231731687303715884105728", "INF", "-INF", "NAN"}) {
    SCOPED_TRACE(input);
    std::array<unsigned char, 6> buffer;
    buffer.fill(0xEE);
    int32_t after = kUntouched;
    void* const t[] = {buffer.data(), &after};
    EXPECT_EQ(ScanFormatted(input, "%Hf", t), -1);
    EXPECT_EQ(ScanFormatted((std::string(input) + " 5").c_str(), "%Hf%d", t), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(after, kUntouched);
  }
  int32_t first = 0;
  unsigned char buffer[6];
  void* const t[] = {&first, buffer};
  EXPECT_EQ(ScanFormatted("7 1e39", "%d%Hf", t), 1);
  EXPECT_EQ(first, 7);
  EXPECT_EQ(ScanFormatted("7 1e39", "%d%*Hf", t), 1);  // a suppressed field has no target form
}

TEST(ScanFormattedTest, FloatingLeavesRoundingModeAlone) {
  const int before = std::fegetround();
  unsigned char buffer[10];
  void* const t[] = {buffer};
  for (const char* input : {"1.5", "1e39", "1e-50", "INF", "123456789012345678901234567890"}) {
    for (const char* format : {"%f", "%lf", "%Hf", "%Lf"}) ScanFormatted(input, format, t);
  }
  EXPECT_EQ(std::fegetround(), before);
}

}  // namespace
}  // namespace velt
