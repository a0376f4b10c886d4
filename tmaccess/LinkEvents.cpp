#include "LinkEvents.h"

#include <cstdio>

#include "Translation.h"
#include "tmconn.h"

namespace velt {

LinkEvent LinkEventOf(uint32_t event, std::string where, std::string detail) {
  LinkEventKind kind = LinkEventKind::kFailed;
  switch (event) {
    case TMC_LINK_CONNECTED:
      kind = LinkEventKind::kConnected;
      break;
    case TMC_LINK_LOST:
      kind = LinkEventKind::kLost;
      break;
    case TMC_LINK_REFUSED:
      kind = LinkEventKind::kNameRefused;
      break;
    case TMC_LINK_NOTHING_LISTENS:
      kind = LinkEventKind::kNothingListens;
      break;
    case TMC_LINK_UNKNOWN_HOST:
      kind = LinkEventKind::kUnknownHost;
      break;
    case TMC_LINK_NO_ANSWER:
      kind = LinkEventKind::kNoAnswer;
      break;
    default:
      break;
  }
  return {kind, std::move(where), std::move(detail)};
}

std::string LinkEventText(const LinkEvent& e) {
  switch (e.kind) {
    case LinkEventKind::kConnected:
      return "connected to " + e.where;
    case LinkEventKind::kLost:
      return "connection lost: " + e.where;
    case LinkEventKind::kNameRefused:
      return e.where + " refused the connection: " + e.detail;
    case LinkEventKind::kNothingListens:
      return "cannot connect to " + e.where + ": nothing listens there";
    case LinkEventKind::kUnknownHost:
      return "cannot connect to " + e.where + ": unknown host (" + e.detail + ")";
    case LinkEventKind::kNoAnswer:
      return "cannot connect to " + e.where + ": no answer";
    case LinkEventKind::kFailed:
      return "cannot connect to " + e.where + ": " + e.detail;
    case LinkEventKind::kOther:
      return e.detail;
  }
  return e.detail;
}

std::string LinkFailureText(const LinkEvent& e) {
  switch (e.kind) {
    case LinkEventKind::kNameRefused:
      return Tr(
          "{}: the server refused the connection: \"{}\"; check the server name after "
          "\"\\\" (default TMS)",
          {e.where, e.detail});
    case LinkEventKind::kNothingListens:
      return Tr(
          "{}: nothing listens at this address; is the TM server running, and is the "
          "port right?",
          {e.where});
    case LinkEventKind::kUnknownHost:
      return Tr("{}: the host name cannot be resolved ({}); check its spelling and the DNS",
                {e.where, e.detail});
    case LinkEventKind::kNoAnswer:
      return Tr(
          "{}: no answer within the time limit; check the address, the network and "
          "any firewall",
          {e.where});
    case LinkEventKind::kLost:
      return Tr("{}: the connection was made but did not hold: {}",
                {e.where, e.detail.empty() ? Tr("the link closed") : e.detail});
    default:
      return Tr("{}: {}", {e.where, e.detail});
  }
}

std::string LinkFailuresText(const std::vector<LinkEvent>& failures, std::string_view separator) {
  std::string text;
  for (const LinkEvent& failure : failures) {
    if (!text.empty()) text += separator;
    text += EscapeControls(LinkFailureText(failure));
  }
  return text;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char hex[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else if (c1) {
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[++i]));
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace velt
