// tmsim under a crowd of connections that never say Hello, and at its connection cap.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "TemporaryDirectory.h"
#include "TmsimProcess.h"
#include "tmconn.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

std::mutex heard_mutex;
std::vector<std::string> heard;

void Hear(uint32_t length, const char* text, uint32_t) {
  std::lock_guard lock(heard_mutex);
  heard.emplace_back(text, length);
}

TEST(TmsimCrowd, IdleConnectionsDoNotLockClientsOutAndTheLogStaysBounded) {
  testsupport::TemporaryDirectory dir("tmsim-crowd");
  const fs::path log = dir.path() / "tmsim.log";
  // The simulator gets the usual limit of 1024 descriptors, which the crowd would exhaust.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit usual{std::min<rlim_t>(1024, limit.rlim_max), limit.rlim_max};
  setrlimit(RLIMIT_NOFILE, &usual);
  TmsimProcess sim({}, log.string());
  setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<int> idle;
  for (int i = 0; i < 2000; ++i) {
    const int fd = ConnectLoopback(sim.Port());
    if (fd >= 0) idle.push_back(fd);
  }
  EXPECT_GE(idle.size(), 1000u);

  const auto started = std::chrono::steady_clock::now();
  const uint32_t handle = tmcConnect(sim.Address().c_str(), "TMS", "test", Hear, 0);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(tmcStatus(handle, 1, 2, 10), 9);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  tmcDisconnect(handle);
  for (const int fd : idle) close(fd);

  EXPECT_LT(fs::file_size(log), 4096u);
}

TEST(TmsimCrowd, ClientsOverTheCapAreRefusedWithAReason) {
  TmsimOptions options;
  options.extra_args = {"--max-connections", "1"};
  TmsimProcess sim(options);
  const uint32_t first = tmcConnect(sim.Address().c_str(), "TMS", "first", Hear, 0);
  ASSERT_NE(first, 0u);
  {
    std::lock_guard lock(heard_mutex);
    heard.clear();
  }
  EXPECT_EQ(tmcConnect(sim.Address().c_str(), "TMS", "second", Hear, 0), 0u);
  std::lock_guard lock(heard_mutex);
  ASSERT_FALSE(heard.empty());
  EXPECT_NE(heard.back().find("refused the connection: too many connections"), std::string::npos)
      << heard.back();
  tmcDisconnect(first);
}

}  // namespace
}  // namespace velt
