#include "RealFormats.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace velt::scan {
namespace {

// Reads a 48-bit real back, independently of the encoder.
long double DecodeReal48(const std::array<unsigned char, 6>& b) {
  if (b[0] == 0) return 0;
  uint64_t fraction = 0;
  for (size_t i = 5; i-- > 0;) fraction = (fraction << 8) | b[1 + i];
  fraction &= (uint64_t{1} << 39) - 1;
  const long double magnitude =
      std::ldexp(1.0L + std::ldexp(static_cast<long double>(fraction), -39), b[0] - 129);
  return (b[5] & 0x80) != 0 ? -magnitude : magnitude;
}

TEST(RealFormatsTest, Real48RoundTripsWithinItsPrecision) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> mantissa(-2.0, 2.0);
  std::uniform_int_distribution<int> exponent(-120, 120);
  for (int i = 0; i < 20000; ++i) {
    const long double value =
        std::ldexp(static_cast<long double>(mantissa(random)), exponent(random));
    std::array<unsigned char, 6> bytes{};
    ASSERT_TRUE(EncodeReal48(value, bytes.data())) << static_cast<double>(value);
    const long double back = DecodeReal48(bytes);
    // Rounding to nearest: within half a unit of the 40-bit significand.
    EXPECT_LE(std::fabs(back - value), std::ldexp(std::fabs(value), -40))
        << static_cast<double>(value);
  }
}

TEST(RealFormatsTest, Real48RoundsToNearestEven) {
  std::array<unsigned char, 6> bytes{};
  // 1 + 2^-40 lies halfway between 1 and 1 + 2^-39: the even neighbour, 1, wins.
  ASSERT_TRUE(EncodeReal48(1.0L + std::ldexp(1.0L, -40), bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0x81, 0, 0, 0, 0, 0}));
  // 1 + 3 * 2^-40 lies halfway between 1 + 2^-39 and 1 + 2^-38: rounds up to the even one.
  ASSERT_TRUE(EncodeReal48(1.0L + 3 * std::ldexp(1.0L, -40), bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0x81, 2, 0, 0, 0, 0}));
  // Rounding up the largest mantissa carries into the exponent.
  ASSERT_TRUE(EncodeReal48(2.0L - std::ldexp(1.0L, -41), bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0x82, 0, 0, 0, 0, 0}));
}

TEST(RealFormatsTest, Real48RangeLimits) {
  std::array<unsigned char, 6> bytes{};
  const long double largest = std::ldexp(2.0L - std::ldexp(1.0L, -39), 126);
  ASSERT_TRUE(EncodeReal48(largest, bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
  ASSERT_TRUE(EncodeReal48(-largest, bytes.data()));
  EXPECT_EQ(bytes[5], 0xFF);

  bytes.fill(0xEE);
  // Rounds up past the largest value.
  EXPECT_FALSE(EncodeReal48(std::ldexp(2.0L - std::ldexp(1.0L, -41), 126), bytes.data()));
  EXPECT_FALSE(EncodeReal48(std::numeric_limits<long double>::infinity(), bytes.data()));
  EXPECT_FALSE(EncodeReal48(std::numeric_limits<long double>::quiet_NaN(), bytes.data()));
  EXPECT_EQ(bytes[0], 0xEE);

  const long double smallest = std::ldexp(1.0L, -128);
  ASSERT_TRUE(EncodeReal48(smallest, bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0x01, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(EncodeReal48(smallest / 2, bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(EncodeReal48(-std::numeric_limits<long double>::denorm_min(), bytes.data()));
  EXPECT_EQ(bytes, (std::array<unsigned char, 6>{0, 0, 0, 0, 0, 0}));
}

TEST(RealFormatsTest, ExtendedLayoutOfKnownValues) {
  struct Case {
    long double value;
    std::array<unsigned char, 10> bytes;
  };
  const Case cases[] = {
      {0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {-0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}},
      {1.0L, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {-1.5L, {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0xBF}},
      {std::numeric_limits<long double>::infinity(), {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}},
      {std::numeric_limits<long double>::quiet_NaN(), {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<double>(c.value));
    std::array<unsigned char, 10> bytes{};
    EncodeExtended80(c.value, bytes.data());
    EXPECT_EQ(bytes, c.bytes);
    EncodeExtended80Portable(c.value, bytes.data());
    EXPECT_EQ(bytes, c.bytes);
  }
}

// Where long double is the x87 format, the field-by-field encoder must agree with the native
// bytes, subnormals and extremes included.
TEST(RealFormatsTest, PortableExtendedMatchesNative) {
  using Limits = std::numeric_limits<long double>;
  if (Limits::digits != 64) GTEST_SKIP() << "long double is not x87 extended here";
  std::vector<long double> values = {Limits::max(),
                                     -Limits::max(),
                                     Limits::min(),
                                     Limits::denorm_min(),
                                     Limits::min() / 3,
                                     0.1L,
                                     3.14159265358979323846L,
                                     -Limits::infinity(),
                                     -Limits::quiet_NaN(),
                                     1e4000L / 7,
                                     1e-4940L};
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> mantissa(-2.0, 2.0);
  std::uniform_int_distribution<int> exponent(-16440, 16380);
  for (int i = 0; i < 20000; ++i) {
    values.push_back(std::ldexp(static_cast<long double>(mantissa(random)), exponent(random)) +
                     std::ldexp(static_cast<long double>(mantissa(random)), -16440));
  }
  for (long double value : values) {
    unsigned char native[10];
    unsigned char portable[10];
    std::memcpy(native, &value, 10);
    EncodeExtended80Portable(value, portable);
    ASSERT_EQ(std::memcmp(native, portable, 10), 0) << static_cast<double>(value);
  }
}

}  // namespace
}  // namespace velt::scan
