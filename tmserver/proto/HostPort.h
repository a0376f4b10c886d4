// "host", "host:port", "[v6]:port" and "v6" texts, as the client and the simulator take them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velt::tmproto {

struct HostPort {
  std::string host;  // without brackets; empty when the text gave none
  uint16_t port = 0;
};

// nullopt when the port is not a number from 0 to 65535 or the brackets do not close.
std::optional<HostPort> SplitHostPort(std::string_view text, uint16_t default_port);

}  // namespace velt::tmproto
