// TmAccess over the real libtmconn and a tmsim on a loopback port.
#include <gtest/gtest.h>

#include "TmsimProcess.h"
#include "tmaccess.h"

namespace velt {
namespace {

TEST(TmAccessWithTmsim, ConnectAskAndDisconnect) {
  TmsimProcess sim;
  TmAccess tm;
  EXPECT_EQ(tm.tmaConnect(" " + sim.Address() + " ", "$Excel$"), 1);
  ASSERT_NE(tm.Handle(), 0u);
  EXPECT_EQ(ServerMessage(), "connected to " + sim.Address() + "\\TMS");

  EXPECT_EQ(tm.tmaStatus(1, 2, 10), 9);
  EXPECT_FLOAT_EQ(tm.tmaAnalog(1, 2, 3, "01.12.2026 12:00", 2), 241.5f);
  float values[2];
  EXPECT_NE(tm.tmaAccumFull(1, 3, 1, values, "01.12.2026 09:00") & 0xFFFF, 0u);
  EXPECT_FLOAT_EQ(values[0], 1531070.0f);
  std::string name;
  EXPECT_EQ(tm.tmaGetObjectName(kClassStatus, 1, 2, 10, name, 260), kTmaTrue);
  EXPECT_EQ(name, "Положение РПН Т1");
  EXPECT_EQ(tm.tmaDisconnect(), 1);
  EXPECT_EQ(tm.tmaStatus(1, 2, 10), -1);
}

TEST(TmAccessWithTmsim, WrongServerNameGivesNoConnection) {
  TmsimProcess sim;
  TmAccess tm;
  EXPECT_EQ(tm.tmaConnect(sim.Address() + "\\OTHER", "$Excel$"), 0);
  EXPECT_EQ(tm.Handle(), 0u);
  EXPECT_EQ(ServerMessage().rfind(sim.Address() + "\\OTHER refused the connection", 0), 0u);
}

}  // namespace
}  // namespace velt
