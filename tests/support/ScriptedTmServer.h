// A TM server for tests of how the client side meets a server that misbehaves: it listens on a
// free loopback port, speaks the wire protocol's framing (tmserver/PROTOCOL.md) and answers
// every request frame, the handshake included, as the test's script says: in order or not, with
// garbage, floods of messages, a trickle, or nothing at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "TmProtocol.h"

namespace velt::testsupport {

class ScriptedTmServer {
 public:
  // The script's side of one connection.
  class Peer {
   public:
    void Send(std::string_view bytes);  // raw bytes, one send
    void Answer(const tmproto::Answer& answer);
    void AnswerTagged(uint32_t id, const tmproto::Answer& answer);
    // The test is over or the client has gone: a script that loops ends.
    bool Over() const;
    int Connection() const { return connection_; }  // 0 for the first, 1 for the next...

   private:
    friend class ScriptedTmServer;
    Peer(int fd, int connection, const std::atomic<bool>& stop)
        : fd_(fd), connection_(connection), stop_(stop) {}
    int fd_;
    int connection_;
    const std::atomic<bool>& stop_;
    bool gone_ = false;
  };

  // request: one decoded request; tag: the identity of a batch request (nullopt for a plain one).
  using Script =
      std::function<void(const tmproto::Request& request, std::optional<uint32_t> tag, Peer& peer)>;

  explicit ScriptedTmServer(Script script);
  ~ScriptedTmServer();
  ScriptedTmServer(const ScriptedTmServer&) = delete;
  ScriptedTmServer& operator=(const ScriptedTmServer&) = delete;

  std::string Address() const;  // "127.0.0.1:PORT", a host text for tmcConnect
  int Connections() const { return connections_; }

 private:
  void Serve();
  void Talk(int fd, int connection);

  Script script_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// What a sound server answers to a request when it has no value: Welcome to a handshake, "no
// value" to the rest.
tmproto::Answer NoValueAnswer(const tmproto::Request& request);

}  // namespace velt::testsupport
