#include "Server.h"

#include <array>
#include <chrono>
#include <deque>
#include <iostream>
#include <sstream>

#include "ClientSession.h"
#include "SliceTime.h"
#include "TmProtocol.h"

namespace velt::tmsim {

using asio::ip::tcp;

class ServerConnection : public std::enable_shared_from_this<ServerConnection> {
 public:
  ServerConnection(Server& server, tcp::socket socket)
      : server_(server),
        socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        session_(server.Db(), server.Name(), CivilNow),
        helloTimer_(socket_.get_executor()) {
    asio::error_code ec;
    peer_ = socket_.remote_endpoint(ec);
    socket_.set_option(tcp::no_delay(true), ec);
  }

  void Start() {
    if (server_.Verbose()) Log("connected");
    // A connection that does not say Hello in time only holds a slot; it goes.
    helloTimer_.expires_after(server_.Limits().helloTimeout);
    helloTimer_.async_wait([weak = weak_from_this()](asio::error_code ec) {
      auto self = weak.lock();
      if (ec || !self || self->session_.Greeted()) return;
      self->server_.Log("no hello",
                        "tmsim: " + self->Peer() + ": no Hello in time; connection closed");
      self->Finish();
    });
    Read();
  }

  void Close() {
    asio::error_code ec;
    helloTimer_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    timer_.cancel();
  }

  bool Greeted() const { return session_.Greeted(); }

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
  std::string Peer() const {
    std::ostringstream text;
    text << peer_;
    return text.str();
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
        server_.Log("read failed", "tmsim: " + Peer() + ": read failed: " + ec.message());
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
      // A client sending garbage in a loop must not fill the log.
      server_.Log("protocol", "tmsim: " + Peer() + ": " + problem + "; connection closed");
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
  asio::steady_timer helloTimer_;
  std::array<char, 4096> chunk_{};
  std::string in_, sending_;
  std::deque<Pending> pending_;
  size_t pendingBytes_ = 0;
  bool reading_ = false, writing_ = false, waiting_ = false, closing_ = false, finished_ = false;
};

Server::Server(asio::io_context& io, const Database& db, std::string name,
               const tcp::endpoint& listen, bool verbose, ConnectionLimits limits,
               std::chrono::nanoseconds latency)
    : db_(db),
      name_(std::move(name)),
      verbose_(verbose),
      latency_(latency),
      acceptor_(io),
      retry_(io),
      limits_(limits) {
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
      Log("accept", "tmsim: accept failed: " + ec.message());
      retry_.expires_after(std::chrono::milliseconds(100));
      retry_.async_wait([this](asio::error_code wec) {
        if (!wec && !stopped_) Accept();
      });
      return;
    } else if (connections_.size() >= limits_.maxConnections && !DropIdle()) {
      Refuse(std::move(socket));
    } else {
      auto connection = std::make_shared<ServerConnection>(*this, std::move(socket));
      connections_.insert(connection);
      if (arrivals_.size() > 2 * limits_.maxConnections) {
        std::erase_if(arrivals_, [](const auto& weak) { return weak.expired(); });
      }
      arrivals_.push_back(connection);
      connection->Start();
    }
    Accept();
  });
}

void Server::Log(const std::string& kind, const std::string& line) {
  if (auto text = log_.Filter(kind, line, LogLimiter::Clock::now())) {
    std::cerr << *text << std::endl;
  }
}

bool Server::DropIdle() {
  for (auto it = arrivals_.begin(); it != arrivals_.end();) {
    const auto connection = it->lock();
    if (!connection || !connections_.contains(connection)) {
      it = arrivals_.erase(it);
      continue;
    }
    if (connection->Greeted()) {
      ++it;
      continue;
    }
    arrivals_.erase(it);
    Log("dropped", "tmsim: " + std::to_string(limits_.maxConnections) +
                       " connections open; dropped one that had not said Hello");
    connection->Close();
    connections_.erase(connection);
    return true;
  }
  return false;
}

// A connection over the cap: the refusal is sent, the client's Hello read and dropped (closing
// with unread data would reset the connection before the client reads the refusal), and the
// socket closed at end of file or after two seconds.
class Refusal : public std::enable_shared_from_this<Refusal> {
 public:
  Refusal(tcp::socket socket, std::shared_ptr<size_t> count)
      : socket_(std::move(socket)), timer_(socket_.get_executor()), count_(std::move(count)) {
    ++*count_;
  }
  ~Refusal() { --*count_; }

  void Start() {
    velt::tmproto::Encode(velt::tmproto::Refused{"too many connections; try again later"}, frame_);
    timer_.expires_after(std::chrono::seconds(2));
    timer_.async_wait([self = shared_from_this()](asio::error_code ec) {
      if (!ec) self->Close();
    });
    asio::async_write(socket_, asio::buffer(frame_),
                      [self = shared_from_this()](asio::error_code ec, size_t) {
                        asio::error_code ignored;
                        self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
                        if (ec) {
                          self->Close();
                        } else {
                          self->Drain();
                        }
                      });
  }

 private:
  void Drain() {
    socket_.async_read_some(asio::buffer(sink_),
                            [self = shared_from_this()](asio::error_code ec, size_t) {
                              if (ec) {
                                self->Close();
                              } else {
                                self->Drain();
                              }
                            });
  }
  void Close() {
    asio::error_code ec;
    timer_.cancel();
    socket_.close(ec);
  }

  tcp::socket socket_;
  asio::steady_timer timer_;
  std::shared_ptr<size_t> count_;  // the server's, which the last refusal may outlive
  std::string frame_;
  std::array<char, 512> sink_{};
};

void Server::Refuse(tcp::socket socket) {
  Log("refused", "tmsim: " + std::to_string(limits_.maxConnections) +
                     " clients connected; a new connection was refused");
  if (*refusing_ >= 64) return;  // the socket closes as it goes
  std::make_shared<Refusal>(std::move(socket), refusing_)->Start();
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
  arrivals_.clear();
}

}  // namespace velt::tmsim
