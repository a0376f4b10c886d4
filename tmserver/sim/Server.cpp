#include "Server.h"

#include <array>
#include <chrono>
#include <deque>
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
        timer_(socket_.get_executor()),
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
    timer_.cancel();
  }

 private:
  // Answers not yet sent, each due a latency after its request arrived.
  struct Pending {
    std::chrono::steady_clock::time_point due;
    std::string bytes;
  };
  // A client that sends without reading is not read any further until its answers drain.
  static constexpr size_t kMaxPendingBytes = 1 << 20;

  void Log(const std::string& what) const {
    std::cerr << "tmsim: " << peer_ << ": " << what << std::endl;
  }

  void Read() {
    reading_ = true;
    socket_.async_read_some(
        asio::buffer(chunk_),
        [self = shared_from_this()](asio::error_code ec, size_t n) { self->OnRead(ec, n); });
  }

  void OnRead(asio::error_code ec, size_t n) {
    reading_ = false;
    if (ec) {
      if (ec != asio::error::eof && ec != asio::error::operation_aborted &&
          ec != asio::error::connection_reset) {
        Log("read failed: " + ec.message());
      } else if (server_.Verbose()) {
        Log("disconnected");
      }
      if (ec == asio::error::eof) {
        // The client has sent all it will: its answers still go out when due.
        closing_ = true;
        Pump();
      } else {
        Finish();
      }
      return;
    }
    const auto arrived = std::chrono::steady_clock::now();
    in_.append(chunk_.data(), n);
    std::string out, problem;
    const ClientSession::Outcome outcome = session_.Feed(in_, out, problem);
    if (outcome == ClientSession::Outcome::kClose) {
      Log(problem + "; connection closed");
      closing_ = true;
    }
    if (!out.empty()) {
      pendingBytes_ += out.size();
      pending_.push_back(Pending{arrived + server_.Latency(), std::move(out)});
    }
    Pump();
    ReadMore();
  }

  void ReadMore() {
    if (!reading_ && !closing_ && !finished_ && pendingBytes_ < kMaxPendingBytes) Read();
  }

  // Sends every answer that is due, waits for the next one, and finishes a closing connection
  // once nothing is left to send.
  void Pump() {
    if (writing_ || waiting_ || finished_) return;
    if (pending_.empty()) {
      if (closing_) Finish();
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (pending_.front().due > now) {
      waiting_ = true;
      timer_.expires_at(pending_.front().due);
      timer_.async_wait([self = shared_from_this()](asio::error_code ec) {
        self->waiting_ = false;
        if (!ec) self->Pump();
      });
      return;
    }
    sending_.clear();
    while (!pending_.empty() && pending_.front().due <= now) {
      sending_ += pending_.front().bytes;
      pending_.pop_front();
    }
    writing_ = true;
    asio::async_write(socket_, asio::buffer(sending_),
                      [self = shared_from_this()](asio::error_code wec, size_t) {
                        self->writing_ = false;
                        self->pendingBytes_ -= self->sending_.size();
                        if (wec) {
                          self->Finish();
                        } else {
                          self->Pump();
                          self->ReadMore();
                        }
                      });
  }

  void Finish() {
    if (finished_) return;
    finished_ = true;
    Close();
    server_.Forget(shared_from_this());
  }

  Server& server_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  tcp::endpoint peer_;
  ClientSession session_;
  std::array<char, 4096> chunk_{};
  std::string in_, sending_;
  std::deque<Pending> pending_;
  size_t pendingBytes_ = 0;
  bool reading_ = false, writing_ = false, waiting_ = false, closing_ = false, finished_ = false;
};

Server::Server(asio::io_context& io, const Database& db, std::string name,
               const tcp::endpoint& listen, bool verbose, std::chrono::nanoseconds latency)
    : db_(db),
      name_(std::move(name)),
      verbose_(verbose),
      latency_(latency),
      acceptor_(io),
      retry_(io) {
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
