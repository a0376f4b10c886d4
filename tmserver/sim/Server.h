// The simulator's network side: accepts clients and runs one ClientSession per connection, all on
// one io_context thread. Each connection reads on while its answers wait to be sent, so requests
// that a client pipelines overlap.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <unordered_set>

#include "Database.h"

namespace velt::tmsim {

class ServerConnection;

class Server {
 public:
  Server(asio::io_context& io, const Database& db, std::string name,
         const asio::ip::tcp::endpoint& listen, bool verbose,
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

 private:
  void Accept();

  const Database& db_;
  std::string name_;
  bool verbose_;
  std::chrono::nanoseconds latency_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::unordered_set<std::shared_ptr<ServerConnection>> connections_;
  bool stopped_ = false;
};

}  // namespace velt::tmsim
