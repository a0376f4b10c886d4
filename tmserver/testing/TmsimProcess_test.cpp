#include "TmsimProcess.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace velt {
namespace {

bool Accepts(uint16_t port) {
  const int fd = ConnectLoopback(port);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

TEST(TmsimProcess, StartsStopsAndRestartsOnTheSamePort) {
  TmsimProcess sim;
  ASSERT_NE(sim.Port(), 0);
  EXPECT_EQ(sim.Address(), "127.0.0.1:" + std::to_string(sim.Port()));
  EXPECT_TRUE(Accepts(sim.Port()));
  const pid_t first = sim.Pid();

  sim.Stop();
  EXPECT_EQ(sim.Pid(), 0);
  EXPECT_NE(kill(first, 0), 0);  // gone and reaped
  EXPECT_FALSE(Accepts(sim.Port()));

  const uint16_t port = sim.Port();
  sim.Restart();
  EXPECT_EQ(sim.Port(), port);
  EXPECT_NE(sim.Pid(), 0);
  EXPECT_TRUE(Accepts(port));
}

TEST(TmsimProcess, FrozenServerIsStillEnded) {
  pid_t pid = 0;
  {
    TmsimProcess sim(TmsimOptions{"", "TMS", {"--synthetic", "2x3"}, "UTC"});
    sim.Freeze();
    pid = sim.Pid();
  }
  EXPECT_NE(kill(pid, 0), 0);
}

TEST(TmsimProcess, BadDatabaseIsReported) {
  char path[] = "/tmp/tmsim-bad-XXXXXX.toml";
  const int fd = mkstemps(path, 5);
  ASSERT_GE(fd, 0);
  const std::string text = "[[channel]]\nnumber = \"one\"\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  EXPECT_THROW(TmsimProcess(TmsimOptions{path, "TMS", {}, ""}), std::runtime_error);
  std::remove(path);
}

}  // namespace
}  // namespace velt
