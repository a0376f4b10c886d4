// What the connection library's messages say about the link. libtmconn reports through its
// message callback only (its nine functions keep their signatures), so callers that must say
// why a connection failed, or notice a lost link, read these texts.
#pragma once

#include <string>
#include <string_view>

namespace velt {

enum class LinkEventKind {
  kConnected,       // "connected to WHERE"
  kLost,            // "connection lost: WHERE"
  kNameRefused,     // the server answered but refused the server or client name
  kNothingListens,  // no server at the address (the connection was refused)
  kUnknownHost,     // the host name does not resolve
  kNoAnswer,        // no connection or no handshake within the bound
  kFailed,          // any other connection failure
  kOther,           // not the library's own text (a message from the server)
};

struct LinkEvent {
  LinkEventKind kind = LinkEventKind::kOther;
  std::string where;   // "host:port\server"
  std::string detail;  // the server's reason, the resolver's or system's text
  bool operator==(const LinkEvent&) const = default;
};

LinkEvent ParseLinkMessage(std::string_view text);

}  // namespace velt
