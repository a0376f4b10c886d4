#include "Connection.h"

#include "AsciiText.h"

#include <algorithm>

#include "HostPort.h"

namespace velt::tmconn {

namespace tp = velt::tmproto;

namespace {

constexpr auto Trim = TrimControls;

// "host[:port]\server" (split at the last backslash) or, without a backslash, a server name on
// this machine. Blanks around either part are dropped.
std::optional<Target> PairPart(std::string_view part) {
  const size_t slash = part.rfind('\\');
  std::string_view host, server = Trim(part);
  if (slash != std::string_view::npos) {
    host = Trim(part.substr(0, slash));
    server = Trim(part.substr(slash + 1));
  }
  const auto hp = tp::SplitHostPort(host, tp::kDefaultPort);
  if (!hp) return std::nullopt;
  Target t{hp->host, hp->port, std::string(server), {}};
  return t;
}

std::string Label(const Target& t) {
  const std::string host = t.host.empty() ? "127.0.0.1" : t.host;
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(t.port) + "\\" + t.server;
}

}  // namespace

std::vector<Target> ParseTargets(const char* host, const char* server) {
  std::vector<Target> targets;
  if (server == nullptr) return targets;
  const std::string_view text(server);
  if (host != nullptr) {
    const auto hp = tp::SplitHostPort(host, tp::kDefaultPort);
    if (hp) targets.push_back(Target{hp->host, hp->port, std::string(text), {}});
  } else {
    const size_t open = text.find('{');
    if (open == std::string_view::npos) {
      if (auto t = PairPart(text)) targets.push_back(*t);
    } else {
      const size_t close = text.find('}', open);
      const std::string_view a = text.substr(0, open);
      const std::string_view b = text.substr(
          open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
      for (std::string_view part : {a, b}) {
        if (auto t = PairPart(part)) targets.push_back(*t);
      }
    }
  }
  for (Target& t : targets) t.label = Label(t);
  return targets;
}

Connection::Connection(std::vector<Target> targets, std::string client)
    : targets_(std::move(targets)), client_(std::move(client)) {
  frame_.reserve(tp::kHeaderSize + tp::kMaxPayload);
}

bool Connection::Open(Messages& messages) {
  return TryTargets(0, Clock::now() + kCallLimit, messages);
}

void Connection::Close() {
  link_.Close();
  closed_ = true;
}

bool Connection::IsConnected(Messages& messages) {
  if (closed_ || !link_.IsOpen()) return false;
  if (link_.Alive(messages)) return true;
  LinkLost(messages);
  return false;
}

bool Connection::TryTargets(size_t first, Clock::time_point limit, Messages& messages) {
  for (size_t i = 0; i < targets_.size() && Clock::now() < limit; ++i) {
    const size_t k = (first + i) % targets_.size();
    if (link_.Open(targets_[k], client_, std::min(Clock::now() + kConnectTimeout, limit),
                   messages)) {
      active_ = k;
      backoff_ = std::chrono::milliseconds{0};
      messages.Link(LinkKind::kConnected, "connected to " + targets_[k].label, targets_[k].label);
      return true;
    }
  }
  return false;
}

bool Connection::Reconnect(Clock::time_point limit, Messages& messages) {
  // After losing a server, the other one of a pair is tried first.
  const size_t first = targets_.size() > 1 ? (active_ + 1) % targets_.size() : 0;
  if (TryTargets(first, limit, messages)) return true;
  backoff_ = backoff_.count() == 0 ? kFirstBackoff : std::min(backoff_ * 2, kMaxBackoff);
  next_attempt_ = Clock::now() + backoff_;
  return false;
}

void Connection::LinkLost(Messages& messages) {
  const std::string why = link_.Why();
  link_.Close();
  messages.Link(LinkKind::kLost, "connection lost: " + targets_[active_].label,
                targets_[active_].label, why);
  next_attempt_ = Clock::now();  // the next call may try at once
}

bool Connection::Exchange(const tp::Request& request, tp::Answer& answer, Messages& messages) {
  if (closed_ || targets_.empty()) return false;
  frame_.clear();
  if (!tp::Encode(request, frame_)) return false;  // a text the protocol cannot carry
  const Clock::time_point limit = Clock::now() + kCallLimit;
  if (!link_.IsOpen()) {
    if (Clock::now() < next_attempt_ || !Reconnect(limit, messages)) return false;
  }
  Link::Result r =
      link_.Exchange(frame_, answer, std::min(Clock::now() + kRequestTimeout, limit), messages);
  if (r == Link::Result::kOk) return true;
  LinkLost(messages);
  // A server that went away (rather than one that stopped answering) may have a successor
  // ready: reconnect and ask once more, still within this call.
  if (r != Link::Result::kClosed || !Reconnect(limit, messages)) return false;
  r = link_.Exchange(frame_, answer, std::min(Clock::now() + kRequestTimeout, limit), messages);
  if (r == Link::Result::kOk) return true;
  LinkLost(messages);
  return false;
}

}  // namespace velt::tmconn

namespace velt::tmconn {

size_t Connection::Batch(std::string_view frames, std::span<const size_t> ends, size_t window,
                         const Link::TakeAnswer& take, Messages& messages) {
  if (closed_ || targets_.empty() || ends.empty()) return 0;
  // One bound for the whole call, reconnection and the repeat included; nothing the server
  // sends extends it.
  const Clock::time_point limit = Clock::now() + BatchLimit(ends.size());
  if (!link_.IsOpen()) {
    if (Clock::now() < next_attempt_ ||
        !Reconnect(std::min(Clock::now() + kCallLimit, limit), messages))
      return 0;
  }
  size_t done = 0;
  Link::Result r =
      link_.Pipeline(frames, ends, 0, window, take, kRequestTimeout, limit, done, messages);
  if (r == Link::Result::kOk) return done;
  LinkLost(messages);
  if (r != Link::Result::kClosed ||
      !Reconnect(std::min(Clock::now() + kCallLimit, limit), messages))
    return done;
  // The rest once more, on the new link; each frame keeps its identity.
  const size_t offset = done == 0 ? 0 : ends[done - 1];
  std::vector<size_t> restEnds;
  restEnds.reserve(ends.size() - done);
  for (size_t i = done; i < ends.size(); ++i) restEnds.push_back(ends[i] - offset);
  size_t more = 0;
  r = link_.Pipeline(
      frames.substr(offset), restEnds, static_cast<uint32_t>(done), window,
      [&](size_t index, const tmproto::Answer& answer) { return take(done + index, answer); },
      kRequestTimeout, limit, more, messages);
  if (r != Link::Result::kOk) LinkLost(messages);
  return done + more;
}

}  // namespace velt::tmconn
