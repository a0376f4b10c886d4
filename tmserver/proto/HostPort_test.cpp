#include "HostPort.h"

#include <gtest/gtest.h>

namespace velt::tmproto {
namespace {

TEST(SplitHostPort, Forms) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
  };
  const Case cases[] = {
      {"", true, "", 7227},
      {"srv", true, "srv", 7227},
      {"srv:1234", true, "srv", 1234},
      {"127.0.0.1:0", true, "127.0.0.1", 0},
      {":5000", true, "", 5000},
      {"[::1]:5000", true, "::1", 5000},
      {"[::1]", true, "::1", 7227},
      {"::1", true, "::1", 7227},
      {"srv:", false, "", 0},
      {"srv:65536", false, "", 0},
      {"srv:12a", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]x", false, "", 0},
  };
  for (const Case& c : cases) {
    const auto r = SplitHostPort(c.text, 7227);
    ASSERT_EQ(r.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(r->host, c.host) << c.text;
    EXPECT_EQ(r->port, c.port) << c.text;
  }
}

}  // namespace
}  // namespace velt::tmproto
