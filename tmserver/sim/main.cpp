// tmsim: the TM server simulator. Serves a database file to libtmconn clients over TCP.
#include <CLI/CLI.hpp>
#include <asio.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "Database.h"
#include "HostPort.h"
#include "Server.h"
#include "TmProtocol.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"TM server simulator"};
  std::string db_path;
  std::string listen = "127.0.0.1:" + std::to_string(velt::tmproto::kDefaultPort);
  std::string name = "TMS";
  std::string synthetic;
  bool verbose = false;
  double latency_ms = 0;
  auto* db_option = app.add_option("--db", db_path, "database file (TOML)");
  app.add_option("--synthetic", synthetic,
                 "serve a generated database of CHANNELSxRTUS instead of a file, e.g. 50x100")
      ->excludes(db_option);
  app.add_option("--listen", listen, "ADDRESS:PORT to listen on (port 0: any free port)");
  app.add_option("--name", name, "the server name clients must give");
  app.add_option("--latency", latency_ms,
                 "send each answer MS milliseconds (fractions allowed) after its request arrived")
      ->check(CLI::Range(0.0, 60000.0));
  app.add_flag("-v,--verbose", verbose, "log every connection");
  CLI11_PARSE(app, argc, argv);

  velt::tmsim::Database db;
  if (!synthetic.empty()) {
    int channels = 0, rtus = 0;
    char extra = 0;
    if (std::sscanf(synthetic.c_str(), "%dx%d%c", &channels, &rtus, &extra) != 2 || channels < 1 ||
        channels > 65535 || rtus < 1 || rtus > 65535) {
      std::cerr << "tmsim: --synthetic wants CHANNELSxRTUS, e.g. 50x100\n";
      return 2;
    }
    db = velt::tmsim::SyntheticDatabase(channels, rtus);
  } else if (!db_path.empty()) {
    velt::tmsim::LoadResult loaded = velt::tmsim::LoadDatabaseFile(db_path);
    if (!loaded.database) {
      std::cerr << "tmsim: " << loaded.error << "\n";
      return 1;
    }
    db = std::move(*loaded.database);
  } else {
    std::cerr << "tmsim: give --db FILE (or --synthetic CxR)\n";
    return 2;
  }

  const auto where = velt::tmproto::SplitHostPort(listen, velt::tmproto::kDefaultPort);
  if (!where) {
    std::cerr << "tmsim: bad --listen address \"" << listen << "\"\n";
    return 2;
  }

  asio::io_context io;
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io);
  const auto endpoints =
      resolver.resolve(where->host.empty() ? "127.0.0.1" : where->host, std::to_string(where->port),
                       asio::ip::resolver_base::passive, ec);
  if (ec || endpoints.empty()) {
    std::cerr << "tmsim: cannot resolve \"" << where->host << "\": " << ec.message() << "\n";
    return 2;
  }
  const asio::ip::tcp::endpoint endpoint = *endpoints.begin();

  std::signal(SIGPIPE, SIG_IGN);
  asio::signal_set signals(io, SIGINT, SIGTERM);
  std::unique_ptr<velt::tmsim::Server> server;
  try {
    server = std::make_unique<velt::tmsim::Server>(
        io, db, name, endpoint, verbose,
        std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double, std::milli>(latency_ms)));
  } catch (const std::system_error& e) {
    std::cerr << "tmsim: cannot listen on " << endpoint << ": " << e.code().message() << "\n";
    return 1;
  }
  signals.async_wait([&](asio::error_code, int signal) {
    std::cerr << "tmsim: signal " << signal << ", stopping" << std::endl;
    server->Stop();
  });

  const asio::ip::tcp::endpoint local = server->LocalEndpoint();
  std::cout << "listening on " << local << std::endl;
  io.run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tmsim: " << e.what() << "\n";
    return 1;
  }
}
