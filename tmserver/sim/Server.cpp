#include "Server.h"

#include <array>
#include <iostream>

#include "ClientSession.h"
#include "SliceTime.h"

namespace velt::tmsim {

using asio::ip::tcp;

class ServerConnection : public std::enable_shared_from_this<ServerConnection> {
 public:
  ServerConnection(Server& server, tcp::socket socket)
      : server_(server),
        socket_(std::move(socket)),
        session_(server.Db(), server.Name(), CivilNow) {
    asio::error_code ec;
    peer_ = socket_.remote_endpoint(ec);
    socket_.set_option(tcp::no_delay(true), ec);
  }

  void Start() {
    if (server_.Verbose()) Log("connected");
    Read();
  }

  void Close() {
    asio::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
  }

 private:
  void Log(const std::string& what) const {
    std::cerr << "tmsim: " << peer_ << ": " << what << std::endl;
  }

  void Read() {
    socket_.async_read_some(
        asio::buffer(chunk_),
        [self = shared_from_this()](asio::error_code ec, size_t n) { self->OnRead(ec, n); });
  }

  void OnRead(asio::error_code ec, size_t n) {
    if (ec) {
      if (ec != asio::error::eof && ec != asio::error::operation_aborted &&
          ec != asio::error::connection_reset) {
        Log("read failed: " + ec.message());
      } else if (server_.Verbose()) {
        Log("disconnected");
      }
      Finish();
      return;
    }
    in_.append(chunk_.data(), n);
    std::string problem;
    const ClientSession::Outcome outcome = session_.Feed(in_, out_, problem);
    const bool close = outcome == ClientSession::Outcome::kClose;
    if (close) Log(problem + "; connection closed");
    if (out_.empty()) {
      if (close) {
        Finish();
      } else {
        Read();
      }
      return;
    }
    sending_.swap(out_);
    out_.clear();
    asio::async_write(socket_, asio::buffer(sending_),
                      [self = shared_from_this(), close](asio::error_code wec, size_t) {
                        self->sending_.clear();
                        if (wec || close) {
                          self->Finish();
                        } else {
                          self->Read();
                        }
                      });
  }

  void Finish() {
    Close();
    server_.Forget(shared_from_this());
  }

  Server& server_;
  tcp::socket socket_;
  tcp::endpoint peer_;
  ClientSession session_;
  std::array<char, 4096> chunk_{};
  std::string in_, out_, sending_;
};

Server::Server(asio::io_context& io, const Database& db, std::string name,
               const tcp::endpoint& listen, bool verbose)
    : db_(db), name_(std::move(name)), verbose_(verbose), acceptor_(io), retry_(io) {
  acceptor_.open(listen.protocol());
  acceptor_.set_option(tcp::acceptor::reuse_address(true));
  acceptor_.bind(listen);
  acceptor_.listen(asio::socket_base::max_listen_connections);
  Accept();
}

Server::~Server() {
  Stop();
}

void Server::Accept() {
  acceptor_.async_accept([this](asio::error_code ec, tcp::socket socket) {
    if (stopped_) return;
    if (ec) {
      // Out of descriptors and the like: keep serving the clients we have, try again shortly.
      std::cerr << "tmsim: accept failed: " << ec.message() << std::endl;
      retry_.expires_after(std::chrono::milliseconds(100));
      retry_.async_wait([this](asio::error_code wec) {
        if (!wec && !stopped_) Accept();
      });
      return;
    } else {
      auto connection = std::make_shared<ServerConnection>(*this, std::move(socket));
      connections_.insert(connection);
      connection->Start();
    }
    Accept();
  });
}

void Server::Forget(const std::shared_ptr<ServerConnection>& connection) {
  connections_.erase(connection);
}

void Server::Stop() {
  if (stopped_) return;
  stopped_ = true;
  asio::error_code ec;
  acceptor_.close(ec);
  retry_.cancel();
  const auto open = connections_;
  for (const auto& c : open) c->Close();
  connections_.clear();
}

}  // namespace velt::tmsim
