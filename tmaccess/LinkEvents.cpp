#include "LinkEvents.h"

namespace velt {

namespace {

bool TakePrefix(std::string_view& text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

LinkEvent ParseLinkMessage(std::string_view text) {
  std::string_view rest = text;
  if (TakePrefix(rest, "connected to ")) return {LinkEventKind::kConnected, std::string(rest), {}};
  if (TakePrefix(rest, "connection lost: ")) return {LinkEventKind::kLost, std::string(rest), {}};
  if (TakePrefix(rest, "cannot connect to ")) {
    // The address holds no ": " (a port follows its colon directly); the reason follows the last.
    const size_t colon = rest.rfind(": ");
    if (colon == std::string_view::npos) return {};
    const std::string where(rest.substr(0, colon));
    std::string_view why = rest.substr(colon + 2);
    if (why == "nothing listens there") return {LinkEventKind::kNothingListens, where, {}};
    if (why == "no answer") return {LinkEventKind::kNoAnswer, where, {}};
    if (TakePrefix(why, "unknown host (") && !why.empty() && why.back() == ')') {
      why.remove_suffix(1);
      return {LinkEventKind::kUnknownHost, where, std::string(why)};
    }
    return {LinkEventKind::kFailed, where, std::string(why)};
  }
  constexpr std::string_view kRefused = " refused the connection: ";
  if (const size_t at = text.find(kRefused); at != std::string_view::npos) {
    return {LinkEventKind::kNameRefused, std::string(text.substr(0, at)),
            std::string(text.substr(at + kRefused.size()))};
  }
  return {};
}

}  // namespace velt
