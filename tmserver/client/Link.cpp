#include "Link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velt::tmconn {

namespace tp = velt::tmproto;

namespace {

int MillisLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left) + 1;  // round up: never wake early
}

// poll() that survives signals; returns >0 ready, 0 timed out, <0 failed.
int PollFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, MillisLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & events) == 0) return -1;
    return r;
  }
}

// Non-blocking connect to one address, finished before the deadline; returns the socket or -1.
int ConnectTo(const addrinfo& ai, Clock::time_point deadline, int& error) {
  const int fd =
      socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai.ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      error = errno;
      close(fd);
      return -1;
    }
    const int r = PollFor(fd, POLLOUT, deadline);
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (r <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0 || so_error != 0) {
      error = r == 0 ? ETIMEDOUT : (so_error != 0 ? so_error : errno);
      close(fd);
      return -1;
    }
  }
  // From here on the socket blocks; poll() bounds every wait.
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

}  // namespace

Link::Link() : buf_(2 * (tp::kHeaderSize + tp::kMaxPayload)) {}

Link::~Link() {
  Close();
}

void Link::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  begin_ = end_ = 0;
}

bool Link::Open(const Target& target, const std::string& client, Clock::time_point deadline,
                Messages& messages) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string host = target.host.empty() ? "127.0.0.1" : target.host;
  const std::string port = std::to_string(target.port);
  const int gai = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (gai != 0) {
    // Failures to resolve say "unknown host"; a caller tells them from the other causes by it.
    const bool unknown = gai == EAI_NONAME || gai == EAI_AGAIN || gai == EAI_FAIL
#ifdef EAI_NODATA
                         || gai == EAI_NODATA
#endif
        ;
    const std::string why = unknown ? std::string("unknown host (") + gai_strerror(gai) + ")"
                                    : std::string(gai_strerror(gai));
    messages.Link(unknown ? LinkKind::kUnknownHost : LinkKind::kFailed,
                  "cannot connect to " + target.label + ": " + why, target.label,
                  gai_strerror(gai));
    return false;
  }
  int error = ETIMEDOUT;
  for (const addrinfo* ai = found; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
    fd_ = ConnectTo(*ai, deadline, error);
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    std::string why = std::strerror(error);
    LinkKind kind = LinkKind::kFailed;
    if (error == ECONNREFUSED) {
      why = "nothing listens there";
      kind = LinkKind::kNothingListens;
    }
    if (error == ETIMEDOUT) {
      why = "no answer";
      kind = LinkKind::kNoAnswer;
    }
    messages.Link(kind, "cannot connect to " + target.label + ": " + why, target.label,
                  kind == LinkKind::kFailed ? why : std::string());
    return false;
  }

  std::string hello;
  tp::Answer answer;
  if (!tp::Encode(tp::Hello{tp::kProtocolVersion, target.server, client}, hello)) {
    messages.Link(LinkKind::kFailed, "cannot connect to " + target.label + ": name too long",
                  target.label, "name too long");
    Close();
    return false;
  }
  const Result r = Exchange(hello, answer, deadline, messages);
  if (r == Result::kOk && std::holds_alternative<tp::Welcome>(answer)) return true;
  if (const auto* refused = std::get_if<tp::Refused>(&answer); r == Result::kOk && refused) {
    std::string text = target.label + " refused the connection: ";
    text.append(refused->reason);
    messages.Link(LinkKind::kRefused, text, target.label, std::string(refused->reason));
  } else if (r == Result::kTimeout) {
    messages.Link(LinkKind::kNoAnswer, "cannot connect to " + target.label + ": no answer",
                  target.label);
  } else {
    const std::string why =
        "handshake failed (" + (r == Result::kOk ? "not a welcome" : why_) + ")";
    messages.Link(LinkKind::kFailed, "cannot connect to " + target.label + ": " + why, target.label,
                  why);
  }
  Close();
  return false;
}

Link::Result Link::Exchange(std::string_view frame, tp::Answer& answer, Clock::time_point deadline,
                            Messages& messages) {
  if (fd_ < 0) return Fail(Result::kClosed, "not connected");
  // Anything still buffered predates this request: only server messages may be there.
  bool stray = false;
  Tag tag;
  const Result before = TakeBuffered(answer, stray, tag, messages);
  if (before != Result::kOk) return before;
  if (stray) return Fail(Result::kProtocol, "an answer nobody asked for");
  if (!SendAll(frame, deadline)) return Fail(Result::kClosed, "the request could not be sent");
  return ReadAnswer(answer, deadline, messages);
}

bool Link::SendAll(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (PollFor(fd_, POLLOUT, deadline) > 0) continue;
    }
    return false;
  }
  return true;
}

Link::Result Link::Fail(Result result, std::string why) {
  why_ = std::move(why);
  return result;
}

Link::Result Link::TakeBuffered(tp::Answer& answer, bool& has_answer, Tag& tag,
                                Messages& messages) {
  has_answer = false;
  tag = Tag{};
  while (begin_ < end_) {
    const tp::FrameSplit split =
        tp::NextFrame(std::string_view(buf_.data() + begin_, end_ - begin_));
    if (split.status == tp::FrameSplit::kError) {
      return Fail(Result::kProtocol,
                  std::string("a malformed frame: ") + tp::DescribeError(split.error));
    }
    if (split.status == tp::FrameSplit::kNeedMore) break;
    std::string_view payload = split.payload;
    if (static_cast<uint8_t>(payload[0]) == static_cast<uint8_t>(tp::MsgType::kTaggedAnswer)) {
      const tp::TaggedSplit tagged = tp::SplitTagged(payload, tp::MsgType::kTaggedAnswer);
      if (tagged.error != tp::DecodeError::kNone) {
        return Fail(Result::kProtocol,
                    std::string("a malformed frame: ") + tp::DescribeError(tagged.error));
      }
      tag = Tag{true, tagged.id};
      payload = tagged.inner;
    }
    const tp::DecodedAnswer decoded = tp::DecodeAnswer(payload);
    if (decoded.error != tp::DecodeError::kNone) {
      return Fail(Result::kProtocol,
                  std::string("a malformed frame: ") + tp::DescribeError(decoded.error));
    }
    begin_ += split.consumed;
    if (const auto* m = std::get_if<tp::ServerMessage>(&decoded.answer)) {
      if (tag.tagged) return Fail(Result::kProtocol, "a tagged server message");
      messages.Server(m->text);
      continue;
    }
    answer = decoded.answer;
    has_answer = true;
    break;
  }
  if (begin_ == end_) begin_ = end_ = 0;
  return Result::kOk;
}

bool Link::Fill(int timeout_ms, Result& failure) {
  if (begin_ > 0 && end_ == buf_.size()) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buf_.size()) {  // a full buffer without a complete frame: out of step
    failure = Fail(Result::kProtocol, "a frame that never ends");
    return false;
  }
  if (timeout_ms != 0) {
    pollfd p{fd_, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    if (r == 0) {
      failure = Result::kTimeout;
      return false;
    }
  }
  for (;;) {
    const ssize_t n = recv(fd_, buf_.data() + end_, buf_.size() - end_, MSG_DONTWAIT);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      failure = Result::kTimeout;
    } else {
      failure = Fail(Result::kClosed, n == 0 ? std::string("the server closed the connection")
                                             : std::string(std::strerror(errno)));
    }
    return false;
  }
}

Link::Result Link::ReadAnswer(tp::Answer& answer, Clock::time_point deadline, Messages& messages) {
  for (;;) {
    bool has_answer = false;
    Tag tag;
    const Result r = TakeBuffered(answer, has_answer, tag, messages);
    if (r != Result::kOk) return r;
    if (has_answer) {
      if (tag.tagged) return Fail(Result::kProtocol, "a batch answer to a single request");
      return Result::kOk;
    }
    const int wait = MillisLeft(deadline);
    if (wait == 0) return Fail(Result::kTimeout, "no answer in time");
    Result failure = Result::kTimeout;
    if (!Fill(wait, failure)) {
      // A spurious wake-up before the deadline is no reason to give up.
      if (failure == Result::kTimeout && Clock::now() < deadline) continue;
      if (failure == Result::kTimeout) return Fail(Result::kTimeout, "no answer in time");
      return failure;
    }
  }
}

Link::Result Link::Pipeline(std::string_view frames, std::span<const size_t> ends, uint32_t firstId,
                            size_t window, const TakeAnswer& take,
                            std::chrono::milliseconds perAnswer, Clock::time_point deadline,
                            size_t& answered, Messages& messages) {
  answered = 0;
  if (fd_ < 0) return Fail(Result::kClosed, "not connected");
  if (window == 0) window = 1;
  const size_t count = ends.size();
  size_t sentBytes = 0;
  // The answer due next must come perAnswer after its request went out and after the answer
  // before it; `due` is that moment once the request is out, and only answers move it.
  size_t sentWhole = 0;  // requests sent completely
  Clock::time_point lastAnswer = Clock::now();
  Clock::time_point dueSentAt{};
  Clock::time_point lastSend = lastAnswer;
  for (;;) {
    // Answers already here; one that comes before its request was sent is out of step.
    for (;;) {
      tp::Answer answer;
      bool has_answer = false;
      Tag tag;
      if (const Result r = TakeBuffered(answer, has_answer, tag, messages); r != Result::kOk)
        return r;
      if (!has_answer) break;
      if (answered >= count || answered >= sentWhole)
        return Fail(Result::kProtocol, "an answer nobody asked for");
      if (!tag.tagged) return Fail(Result::kProtocol, "a batch answer without its identity");
      const uint32_t due = firstId + static_cast<uint32_t>(answered);
      if (tag.id != due) {
        return Fail(Result::kProtocol, "the answer to request " + std::to_string(tag.id) +
                                           " where the one to request " + std::to_string(due) +
                                           " was due");
      }
      if (!take(answered, answer)) return Fail(Result::kProtocol, "an answer of the wrong kind");
      ++answered;
      lastAnswer = Clock::now();
    }
    if (answered == count) return Result::kOk;

    const size_t sendLimit = ends[std::min(answered + window, count) - 1];
    while (sentBytes < sendLimit) {
      const ssize_t n =
          send(fd_, frames.data() + sentBytes, sendLimit - sentBytes, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sentBytes += static_cast<size_t>(n);
        lastSend = Clock::now();
        const size_t before = sentWhole;
        while (sentWhole < count && ends[sentWhole] <= sentBytes) ++sentWhole;
        if (before <= answered && sentWhole > answered) dueSentAt = lastSend;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return Fail(Result::kClosed, "the requests could not be sent");
    }

    // A request still being sent waits on the server reading it; one sent waits on its answer.
    const Clock::time_point since =
        sentWhole > answered ? std::max(lastAnswer, dueSentAt) : std::max(lastAnswer, lastSend);
    const Clock::time_point until = std::min(deadline, since + perAnswer);
    const int wait = MillisLeft(until);
    if (wait == 0) {
      return Fail(Result::kTimeout, Clock::now() >= deadline
                                        ? "the batch did not end within its bound"
                                        : "no answer in time");
    }
    pollfd p{fd_, static_cast<short>(POLLIN | (sentBytes < sendLimit ? POLLOUT : 0)), 0};
    const int r = poll(&p, 1, wait);
    if (r < 0 && errno != EINTR) return Fail(Result::kClosed, std::strerror(errno));
    if (r <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    Result failure = Result::kOk;
    if (!Fill(0, failure) && failure != Result::kTimeout) return failure;
  }
}

bool Link::Alive(Messages& messages) {
  if (fd_ < 0) return false;
  for (;;) {
    tp::Answer answer;
    bool has_answer = false;
    Tag tag;
    // An answer nobody asked for means the stream is out of step.
    if (TakeBuffered(answer, has_answer, tag, messages) != Result::kOk) return false;
    if (has_answer) {
      Fail(Result::kProtocol, "an answer nobody asked for");
      return false;
    }
    Result failure = Result::kOk;
    if (!Fill(0, failure)) return failure == Result::kTimeout;  // nothing more waiting: alive
  }
}

}  // namespace velt::tmconn
