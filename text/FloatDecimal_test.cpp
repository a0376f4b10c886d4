#include "FloatDecimal.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

namespace velt {
namespace {

TEST(ShortestDouble, WritesTheShortestDecimalThatReadsBackAsTheFloat) {
  struct Case {
    float value;
    double expected;
  };
  const Case cases[] = {
      {115.05006f, 115.05006},
      {0.1f, 0.1},
      {-241.5f, -241.5},
      {1531070.0f, 1531070.0},
      {16777217.0f, 16777216.0},  // above 2^24 floats are whole numbers already
      {0.0f, 0.0},
      {FLT_MAX, 3.4028235e38},
      {-FLT_MAX, -3.4028235e38},
      {FLT_MIN, 1.1754944e-38},
      {std::numeric_limits<float>::denorm_min(), 1e-45},
      {3.0e38f, 3e38},
      {3.2e38f, 3.2e38},  // the analog limit itself
      {std::nextafter(3.2e38f, 0.0f), 3.1999998e38},
      {std::nextafter(3.2e38f, FLT_MAX), 3.2000002e38},
  };
  for (const auto& c : cases) {
    const double shortest = ShortestDouble(c.value);
    EXPECT_EQ(shortest, c.expected) << c.value;
    EXPECT_EQ(static_cast<float>(shortest), c.value) << c.value;
  }
  EXPECT_TRUE(std::signbit(ShortestDouble(-0.0f)));
  EXPECT_TRUE(std::isinf(ShortestDouble(std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(ShortestDouble(std::numeric_limits<float>::quiet_NaN())));
}

}  // namespace
}  // namespace velt
