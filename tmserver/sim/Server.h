// The simulator's network side: accepts clients and runs one ClientSession per connection, all on
// one io_context thread. Each connection reads on while its answers wait to be sent, so requests
// that a client pipelines overlap.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>

#include "ConnectionLimits.h"
#include "Database.h"

namespace velt::tmsim {

class ServerConnection;

class Server {
 public:
  Server(asio::io_context& io, const Database& db, std::string name,
         const asio::ip::tcp::endpoint& listen, bool verbose, ConnectionLimits limits = {},
         std::chrono::nanoseconds latency = std::chrono::nanoseconds{0});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  asio::ip::tcp::endpoint LocalEndpoint() const { return acceptor_.local_endpoint(); }

  // Stops accepting and closes every connection; io.run() then returns.
  void Stop();

  void Forget(const std::shared_ptr<ServerConnection>& connection);
  const Database& Db() const { return db_; }
  const std::string& Name() const { return name_; }
  bool Verbose() const { return verbose_; }
  // How long each answer waits after its request arrived, as on a slow link.
  std::chrono::nanoseconds Latency() const { return latency_; }
  const ConnectionLimits& Limits() const { return limits_; }
  // Writes a log line unless lines of this kind are being held back (see LogLimiter).
  void Log(const std::string& kind, const std::string& line);

 private:
  void Accept();
  // At the cap: drops the oldest connection that has not said Hello; false when every one has.
  bool DropIdle();
  // Answers a connection over the cap with a refusal, then closes it.
  void Refuse(asio::ip::tcp::socket socket);

  const Database& db_;
  std::string name_;
  bool verbose_;
  std::chrono::nanoseconds latency_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::unordered_set<std::shared_ptr<ServerConnection>> connections_;
  std::deque<std::weak_ptr<ServerConnection>> arrivals_;  // in the order they were accepted
  ConnectionLimits limits_;
  LogLimiter log_;
  std::shared_ptr<size_t> refusing_ = std::make_shared<size_t>(0);  // refusals under way
  bool stopped_ = false;
};

}  // namespace velt::tmsim
