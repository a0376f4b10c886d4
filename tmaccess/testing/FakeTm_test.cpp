#include "FakeTm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velt {
namespace {

using ::testing::ElementsAre;

TEST(FakeTm, ScriptedAnswersAndFailureValuesElsewhere) {
  FakeTm tm;
  tm.SetAnalog(1, 2, 3, 4.5f);
  tm.SetAnalog(1, 2, 3, 7.0f, "01.12.2026 10:00", 2);
  tm.SetStatus(1, 2, 10, 1);
  tm.SetAccum(1, 3, 1, 100.0f, 2.0f);
  EXPECT_EQ(tm.tmaAnalog(1, 2, 3, "N/A", 0), 4.5f);
  EXPECT_EQ(tm.tmaAnalog(1, 2, 3, "01.12.2026 10:00", 2), 7.0f);
  EXPECT_TRUE(std::isnan(tm.tmaAnalog(1, 2, 3, "01.12.2026 10:00", 1)));
  EXPECT_EQ(tm.tmaStatus(1, 2, 10), 1);
  EXPECT_EQ(tm.tmaStatus(1, 2, 11), -1);
  float pair[2] = {-1, -1};
  EXPECT_EQ(tm.tmaAccumFull(1, 3, 1, pair, ""), 1u);
  EXPECT_EQ(pair[0], 100.0f);
  EXPECT_EQ(pair[1], 2.0f);
  pair[0] = pair[1] = -1;
  EXPECT_EQ(tm.tmaAccumFull(1, 3, 1, pair, "01.12.2026 10:00") & 0xFFFF, 0u);
  EXPECT_EQ(pair[0], -1.0f);  // a failure leaves the pair alone

  tm.SetConnected(false);
  EXPECT_TRUE(std::isnan(tm.tmaAnalog(1, 2, 3, "N/A", 0)));
  EXPECT_THAT(tm.Described(),
              ElementsAre("analog 1:2:3 N/A 0", "analog 1:2:3 01.12.2026 10:00 2",
                          "analog 1:2:3 01.12.2026 10:00 1", "status 1:2:10", "status 1:2:11",
                          "accum 1:3:1 ''", "accum 1:3:1 01.12.2026 10:00", "analog 1:2:3 N/A 0"));
}

TEST(FakeTm, EnumeratesFromTheFirstWantedNumberInBatches) {
  FakeTm tm;
  for (uint16_t rtu : {uint16_t{1}, uint16_t{2}, uint16_t{5}, uint16_t{9}})
    tm.AddRtu(3, rtu, "RTU");
  tm.AddRtu(4, 1, "other channel");
  tm.AddPoint(kClassAnalog, 3, 5, 7, "P");
  tm.AddChannel(3, "C3");
  tm.AddChannel(4, "C4");
  std::vector<uint16_t> buffer(255, 0);
  EXPECT_EQ(tm.tmaEnumObjects(kClassRtu, 2, buffer.data(), 3, 1, 0), 2u);
  EXPECT_THAT(std::vector<uint16_t>(buffer.begin(), buffer.begin() + 2), ElementsAre(1, 2));
  EXPECT_EQ(tm.tmaEnumObjects(kClassRtu, 255, buffer.data(), 3, 3, 0), 2u);
  EXPECT_THAT(std::vector<uint16_t>(buffer.begin(), buffer.begin() + 2), ElementsAre(5, 9));
  EXPECT_EQ(tm.tmaEnumObjects(kClassChannel, 255, buffer.data(), 0, 0, 0), 2u);
  EXPECT_EQ(tm.tmaEnumObjects(kClassAnalog, 255, buffer.data(), 3, 5, 1), 1u);
  EXPECT_EQ(buffer[0], 7);
  EXPECT_EQ(tm.tmaEnumObjects(kClassStatus, 255, buffer.data(), 3, 5, 1), 0u);
}

TEST(FakeTm, NamesAreCutWithoutSplittingACharacter) {
  FakeTm tm;
  tm.AddChannel(1, "Сети");  // 8 bytes in UTF-8
  std::string name;
  EXPECT_EQ(tm.tmaGetObjectName(kClassChannel, 1, 0, 0, name, 260), kTmaTrue);
  EXPECT_EQ(name, "Сети");
  EXPECT_EQ(tm.tmaGetObjectName(kClassChannel, 1, 0, 0, name, 6), kTmaTrue);
  EXPECT_EQ(name, "Се");
  EXPECT_EQ(tm.tmaGetObjectName(kClassChannel, 2, 0, 0, name, 260), kTmaFalse);
}

}  // namespace
}  // namespace velt
