#include "Progress.h"

#include <gtest/gtest.h>

#include <ostream>

namespace velt {
namespace {

TEST(ProgressBarModel, ClampsLikeAProgressBarWithMinimumZero) {
  ProgressBarModel bar;
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(bar.Maximum(), 100);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetPosition(-3);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(40);
  bar.SetMaximum(30);  // pulls the position down
  EXPECT_EQ(bar.Position(), 30);
  bar.SetMaximum(-5);
  EXPECT_EQ(bar.Maximum(), 0);
  EXPECT_EQ(bar.Position(), 0);
}

TEST(ProgressBarModel, ReportsChangesOnly) {
  ProgressBarModel bar;
  int changes = 0;
  bar.SetChangeHandler([&] { ++changes; });
  bar.SetPosition(0);
  bar.SetMaximum(100);
  EXPECT_EQ(changes, 0);
  bar.SetPosition(5);
  bar.SetMaximum(4);
  EXPECT_EQ(changes, 2);
}

struct StepCase {
  const char* name;
  int32_t position, maximum;
  MaximumRule rule;
  int32_t wantPosition, wantMaximum;
};

// Parameters print as their case names (ctest lists them).
void PrintTo(const StepCase& c, std::ostream* out) {
  *out << c.name;
}

class AdvanceProgressTest : public ::testing::TestWithParam<StepCase> {};

TEST_P(AdvanceProgressTest, MovesPositionAndMaximum) {
  const StepCase& c = GetParam();
  ProgressBarModel bar(c.position, c.maximum);
  AdvanceProgress(bar, c.rule);
  EXPECT_EQ(bar.Position(), c.wantPosition);
  EXPECT_EQ(bar.Maximum(), c.wantMaximum);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AdvanceProgressTest,
    ::testing::Values(StepCase{"BelowMaximum", 5, 100, MaximumRule::Grow, 6, 100},
                      StepCase{"ReachesMaximum", 99, 100, MaximumRule::Grow, 100, 101},
                      StepCase{"StuckAtMaximum", 100, 100, MaximumRule::Grow, 100, 101},
                      StepCase{"OutOfRangeBelow", 5, 100, MaximumRule::OutOfRange, 6, 100},
                      StepCase{"OutOfRangeReaches", 99, 100, MaximumRule::OutOfRange, 100, 100},
                      StepCase{"ZeroMaximum", 0, 0, MaximumRule::Grow, 0, 1}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(FinishProgress, ScalesByTheFinalPositionAboveOne) {
  ProgressBarModel bar(1, 100);
  FinishProgress(bar);
  EXPECT_EQ(bar.Maximum(), 100);
  EXPECT_EQ(bar.Position(), 0);

  ProgressBarModel longer(250, 251);
  FinishProgress(longer);
  EXPECT_EQ(longer.Maximum(), 251);
  EXPECT_EQ(longer.Position(), 0);

  ProgressBarModel shorter(7, 300);
  FinishProgress(shorter);
  EXPECT_EQ(shorter.Maximum(), 8);
  EXPECT_EQ(shorter.Position(), 0);
}

}  // namespace
}  // namespace velt
