#include "ScriptedTmServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <variant>

namespace velt::testsupport {

namespace tp = velt::tmproto;

void ScriptedTmServer::Peer::Send(std::string_view bytes) {
  while (!bytes.empty() && !gone_) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      gone_ = true;
      return;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void ScriptedTmServer::Peer::Answer(const tp::Answer& answer) {
  std::string frame;
  tp::Encode(answer, frame);
  Send(frame);
}

void ScriptedTmServer::Peer::AnswerTagged(uint32_t id, const tp::Answer& answer) {
  std::string inner, frame;
  tp::Encode(answer, inner);
  tp::EncodeTagged(tp::MsgType::kTaggedAnswer, id, std::string_view(inner).substr(tp::kHeaderSize),
                   frame);
  Send(frame);
}

bool ScriptedTmServer::Peer::Over() const {
  if (gone_ || stop_) return true;
  // A client that closed its end: readable with nothing to read, or an error.
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char byte;
  return (p.revents & (POLLHUP | POLLERR)) != 0 ||
         recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

ScriptedTmServer::ScriptedTmServer(Script script) : script_(std::move(script)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || pipe(wake_) != 0) {
    throw std::runtime_error("scripted TM server: cannot listen on loopback");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedTmServer::~ScriptedTmServer() {
  stop_ = true;
  const char byte = 1;
  [[maybe_unused]] auto written = write(wake_[1], &byte, 1);
  thread_.join();
  close(listen_fd_);
  close(wake_[0]);
  close(wake_[1]);
}

std::string ScriptedTmServer::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void ScriptedTmServer::Serve() {
  while (!stop_) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN) != 0) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Talk(fd, connections_++);
    close(fd);
  }
}

// Reads frames and hands each request to the script until the client goes or the test ends. A
// frame the codec cannot read ends the connection, as a sound server would.
void ScriptedTmServer::Talk(int fd, int connection) {
  Peer peer(fd, connection, stop_);
  std::string in;
  char chunk[8192];
  while (!stop_ && !peer.gone_) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN) != 0) continue;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    in.append(chunk, static_cast<size_t>(n));
    for (;;) {
      const tp::FrameSplit split = tp::NextFrame(in);
      if (split.status == tp::FrameSplit::kError) return;
      if (split.status == tp::FrameSplit::kNeedMore) break;
      std::string_view payload = split.payload;
      std::optional<uint32_t> tag;
      if (static_cast<uint8_t>(payload[0]) == static_cast<uint8_t>(tp::MsgType::kTagged)) {
        const tp::TaggedSplit tagged = tp::SplitTagged(payload, tp::MsgType::kTagged);
        if (tagged.error != tp::DecodeError::kNone) return;
        tag = tagged.id;
        payload = tagged.inner;
      }
      const tp::DecodedRequest decoded = tp::DecodeRequest(payload);
      if (decoded.error != tp::DecodeError::kNone) return;
      const size_t used = split.consumed;
      script_(decoded.request, tag, peer);
      in.erase(0, used);
      if (stop_ || peer.gone_) return;
    }
  }
}

tp::Answer NoValueAnswer(const tp::Request& request) {
  return std::visit(
      [](const auto& r) -> tp::Answer {
        using R = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<R, tp::Hello>) return tp::Welcome{r.server};
        if constexpr (std::is_same_v<R, tp::SystemTimeRequest>)
          return tp::TimeAnswer{"01.12.2026 12:00:00"};
        if constexpr (std::is_same_v<R, tp::StatusRequest>) return tp::StatusAnswer{};
        if constexpr (std::is_same_v<R, tp::AnalogRequest>) return tp::AnalogAnswer{};
        if constexpr (std::is_same_v<R, tp::AccumRequest>) return tp::AccumAnswer{};
        if constexpr (std::is_same_v<R, tp::EnumRequest>) return tp::EnumAnswer{};
        return tp::NameAnswer{};
      },
      request);
}

}  // namespace velt::testsupport
