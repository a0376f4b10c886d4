#include "HostPort.h"

namespace velt::tmproto {

std::optional<HostPort> SplitHostPort(std::string_view text, uint16_t default_port) {
  HostPort result;
  result.port = default_port;
  std::string_view port_text;
  bool has_port = false;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    result.host.assign(text.substr(1, close - 1));
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port_text = rest.substr(1);
      has_port = true;
    }
  } else {
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
      result.host.assign(text.substr(0, colon));
      port_text = text.substr(colon + 1);
      has_port = true;
    } else {
      result.host.assign(text);  // no colon, or a bare IPv6 address
    }
  }
  if (has_port) {
    if (port_text.empty() || port_text.size() > 5) return std::nullopt;
    uint32_t port = 0;
    for (char c : port_text) {
      if (c < '0' || c > '9') return std::nullopt;
      port = port * 10 + static_cast<uint32_t>(c - '0');
    }
    if (port > 65535) return std::nullopt;
    result.port = static_cast<uint16_t>(port);
  }
  return result;
}

}  // namespace velt::tmproto
