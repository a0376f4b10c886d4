#include <gtest/gtest.h>

#include "Connection.h"

namespace velt::tmconn {
namespace {

TEST(ParseTargets, HostAndServerTexts) {
  struct Want {
    std::string host;
    uint16_t port;
    std::string server;
    std::string label;
  };
  struct Case {
    const char* host;
    const char* server;
    std::vector<Want> want;
  };
  const Case cases[] = {
      {"srv", "main", {{"srv", 7227, "main", "srv:7227\\main"}}},
      {"", "TMS", {{"", 7227, "TMS", "127.0.0.1:7227\\TMS"}}},
      {"10.0.0.5:4000", "TMS", {{"10.0.0.5", 4000, "TMS", "10.0.0.5:4000\\TMS"}}},
      {"[::1]:4000", "TMS", {{"::1", 4000, "TMS", "[::1]:4000\\TMS"}}},
      {"srv:99999", "TMS", {}},
      {nullptr,
       "srv1\\TMS{srv2:5000\\B}",
       {{"srv1", 7227, "TMS", "srv1:7227\\TMS"}, {"srv2", 5000, "B", "srv2:5000\\B"}}},
      {nullptr,
       "\\TMS{\\TMS}",
       {{"", 7227, "TMS", "127.0.0.1:7227\\TMS"}, {"", 7227, "TMS", "127.0.0.1:7227\\TMS"}}},
      {nullptr,
       " a\\TMS{b\\TMS}",
       {{"a", 7227, "TMS", "a:7227\\TMS"}, {"b", 7227, "TMS", "b:7227\\TMS"}}},
      {nullptr, "x\\y\\z", {{"x\\y", 7227, "z", "x\\y:7227\\z"}}},
      {nullptr, "TMS", {{"", 7227, "TMS", "127.0.0.1:7227\\TMS"}}},
      {"srv", nullptr, {}},
  };
  for (const Case& c : cases) {
    const std::vector<Target> got = ParseTargets(c.host, c.server);
    const std::string what =
        std::string(c.host ? c.host : "(null)") + " / " + (c.server ? c.server : "(null)");
    ASSERT_EQ(got.size(), c.want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].host, c.want[i].host) << what;
      EXPECT_EQ(got[i].port, c.want[i].port) << what;
      EXPECT_EQ(got[i].server, c.want[i].server) << what;
      EXPECT_EQ(got[i].label, c.want[i].label) << what;
    }
  }
}

}  // namespace
}  // namespace velt::tmconn
