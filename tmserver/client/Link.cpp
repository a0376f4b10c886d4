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
    messages.push_back("cannot connect to " + target.label + ": " +
                       (unknown ? std::string("unknown host (") + gai_strerror(gai) + ")"
                                : std::string(gai_strerror(gai))));
    return false;
  }
  int error = ETIMEDOUT;
  for (const addrinfo* ai = found; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
    fd_ = ConnectTo(*ai, deadline, error);
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    std::string why = std::strerror(error);
    if (error == ECONNREFUSED) why = "nothing listens there";
    if (error == ETIMEDOUT) why = "no answer";
    messages.push_back("cannot connect to " + target.label + ": " + why);
    return false;
  }

  std::string hello;
  tp::Answer answer;
  if (!tp::Encode(tp::Hello{tp::kProtocolVersion, target.server, client}, hello)) {
    messages.push_back("cannot connect to " + target.label + ": name too long");
    Close();
    return false;
  }
  const Result r = Exchange(hello, answer, deadline, messages);
  if (r == Result::kOk && std::holds_alternative<tp::Welcome>(answer)) return true;
  if (const auto* refused = std::get_if<tp::Refused>(&answer); r == Result::kOk && refused) {
    std::string text = target.label + " refused the connection: ";
    text.append(refused->reason);
    messages.push_back(text);
  } else {
    messages.push_back("cannot connect to " + target.label +
                       (r == Result::kTimeout ? ": no answer" : ": handshake failed"));
  }
  Close();
  return false;
}

Link::Result Link::Exchange(std::string_view frame, tp::Answer& answer, Clock::time_point deadline,
                            Messages& messages) {
  if (fd_ < 0) return Result::kClosed;
  // Anything still buffered predates this request: only server messages may be there.
  bool stray = false;
  const Result before = TakeBuffered(answer, stray, messages);
  if (before != Result::kOk || stray) return Result::kProtocol;
  if (!SendAll(frame, deadline)) return Result::kClosed;
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

Link::Result Link::TakeBuffered(tp::Answer& answer, bool& has_answer, Messages& messages) {
  has_answer = false;
  while (begin_ < end_) {
    const tp::FrameSplit split =
        tp::NextFrame(std::string_view(buf_.data() + begin_, end_ - begin_));
    if (split.status == tp::FrameSplit::kError) return Result::kProtocol;
    if (split.status == tp::FrameSplit::kNeedMore) break;
    const tp::DecodedAnswer decoded = tp::DecodeAnswer(split.payload);
    if (decoded.error != tp::DecodeError::kNone) return Result::kProtocol;
    begin_ += split.consumed;
    if (const auto* m = std::get_if<tp::ServerMessage>(&decoded.answer)) {
      messages.emplace_back(m->text);
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
    failure = Result::kProtocol;
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
    failure =
        n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Result::kTimeout : Result::kClosed;
    return false;
  }
}

Link::Result Link::ReadAnswer(tp::Answer& answer, Clock::time_point deadline, Messages& messages) {
  for (;;) {
    bool has_answer = false;
    const Result r = TakeBuffered(answer, has_answer, messages);
    if (r != Result::kOk) return r;
    if (has_answer) return Result::kOk;
    const int wait = MillisLeft(deadline);
    if (wait == 0) return Result::kTimeout;
    Result failure = Result::kTimeout;
    if (!Fill(wait, failure)) {
      // A spurious wake-up before the deadline is no reason to give up.
      if (failure == Result::kTimeout && Clock::now() < deadline) continue;
      return failure;
    }
  }
}

Link::Result Link::Pipeline(std::string_view frames, std::span<const size_t> ends, size_t window,
                            const TakeAnswer& take, std::chrono::milliseconds idle,
                            size_t& answered, Messages& messages) {
  answered = 0;
  if (fd_ < 0) return Result::kClosed;
  if (window == 0) window = 1;
  const size_t count = ends.size();
  size_t sentBytes = 0;
  Clock::time_point deadline = Clock::now() + idle;
  for (;;) {
    // Answers already here; one that comes before its request was sent is out of step.
    for (;;) {
      tp::Answer answer;
      bool has_answer = false;
      if (TakeBuffered(answer, has_answer, messages) != Result::kOk) return Result::kProtocol;
      if (!has_answer) break;
      if (answered >= count || ends[answered] > sentBytes) return Result::kProtocol;
      if (!take(answered, answer)) return Result::kProtocol;
      ++answered;
      deadline = Clock::now() + idle;
    }
    if (answered == count) return Result::kOk;

    const size_t sendLimit = ends[std::min(answered + window, count) - 1];
    while (sentBytes < sendLimit) {
      const ssize_t n =
          send(fd_, frames.data() + sentBytes, sendLimit - sentBytes, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sentBytes += static_cast<size_t>(n);
        deadline = Clock::now() + idle;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return Result::kClosed;
    }

    const int wait = MillisLeft(deadline);
    if (wait == 0) return Result::kTimeout;
    pollfd p{fd_, static_cast<short>(POLLIN | (sentBytes < sendLimit ? POLLOUT : 0)), 0};
    const int r = poll(&p, 1, wait);
    if (r < 0 && errno != EINTR) return Result::kClosed;
    if (r <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    Result failure = Result::kOk;
    if (Fill(0, failure)) {
      deadline = Clock::now() + idle;
    } else if (failure != Result::kTimeout) {
      return failure;
    }
  }
}

bool Link::Alive(Messages& messages) {
  if (fd_ < 0) return false;
  for (;;) {
    tp::Answer answer;
    bool has_answer = false;
    // An answer nobody asked for means the stream is out of step.
    if (TakeBuffered(answer, has_answer, messages) != Result::kOk || has_answer) return false;
    Result failure = Result::kOk;
    if (!Fill(0, failure)) return failure == Result::kTimeout;  // nothing more waiting: alive
  }
}

}  // namespace velt::tmconn
