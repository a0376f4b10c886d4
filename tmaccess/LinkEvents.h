// What happened to the link, as the connection library reports it through its link-event
// channel (tmcSetLinkCallback), apart from the server's own messages: no text a server sends
// can pass for one of these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velt {

enum class LinkEventKind {
  kConnected,       // connected to `where`
  kLost,            // the link to `where` was lost; detail: why, when the library knows
  kNameRefused,     // the server answered but refused the server or client name
  kNothingListens,  // no server at the address (the connection was refused)
  kUnknownHost,     // the host name does not resolve
  kNoAnswer,        // no connection or no handshake within the bound
  kFailed,          // any other connection failure
  kOther,           // a message from the server: its text in detail
};

struct LinkEvent {
  LinkEventKind kind = LinkEventKind::kOther;
  std::string where;   // "host:port\server"
  std::string detail;  // the server's reason, the resolver's or system's text, a message
  bool operator==(const LinkEvent&) const = default;
};

// The event of the library's link callback (TMC_LINK_* and its texts, as given); kFailed for an
// event number the library may add later.
LinkEvent LinkEventOf(uint32_t event, std::string where, std::string detail);

// The event as one line in the library's wording ("connected to h:1\TMS", "connection lost:
// h:1\TMS", ...), for the server message buffer that shows the library's last word.
std::string LinkEventText(const LinkEvent& event);

// Why a connect failed, for the person who typed the server text: where, what happened and
// what to check, in the reader's language (kLost: the link was made but did not hold).
std::string LinkFailureText(const LinkEvent& event);
// The failures of one attempt, each as LinkFailureText with its control characters escaped, each
// line after the first preceded by `separator`.
std::string LinkFailuresText(const std::vector<LinkEvent>& failures, std::string_view separator);

// The text with control characters (C0, DEL and C1) shown as \xNN, so that whatever a server
// sends cannot move a terminal's cursor or change its colours. UTF-8 in, UTF-8 out.
std::string EscapeControls(std::string_view text);

}  // namespace velt
