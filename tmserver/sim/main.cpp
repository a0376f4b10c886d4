// tmsim: the TM server simulator. Serves a database file to libtmconn clients over TCP.
#include <CLI/CLI.hpp>
#include <asio.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "ConnectionLimits.h"
#include "Database.h"
#include "HostPort.h"
#include "Server.h"
#include "TmProtocol.h"
#include "Translation.h"

namespace {

using velt::Tr;

int Run(int argc, char** argv) {
  CLI::App app{"TM server simulator"};
  std::string db_path;
  std::string listen = "127.0.0.1:" + std::to_string(velt::tmproto::kDefaultPort);
  std::string name = "TMS";
  std::string synthetic;
  bool verbose = false;
  double latency_ms = 0;
  velt::tmsim::ConnectionLimits limits;
  size_t max_connections = limits.maxConnections;
  double hello_timeout = std::chrono::duration<double>(limits.helloTimeout).count();
  app.option_defaults()->always_capture_default();
  app.set_version_flag("--version", std::string("tmsim ") + VELT_VERSION);
  auto* db_option = app.add_option("--db", db_path, Tr("database file (TOML)"));
  app.add_option("--synthetic", synthetic,
                 Tr("serve a generated database of CHANNELSxRTUS instead of a file, e.g. 50x100"))
      ->excludes(db_option);
  app.add_option("--listen", listen,
                 Tr("ADDRESS[:PORT] to listen on; without a port, port {} (port 0: any free port)",
                    {std::to_string(velt::tmproto::kDefaultPort)}));
  app.add_option("--name", name, Tr("the server name clients must give"));
  app.add_option("--latency", latency_ms,
                 Tr("send each answer MS milliseconds (fractions allowed) after its request "
                    "arrived"))
      ->check(CLI::Range(0.0, 60000.0));
  app.add_option("--max-connections", max_connections,
                 Tr("connections served at once; over it, one that has not said Hello is "
                    "dropped, or else the new one is refused"))
      ->check(CLI::Range(1, 100000));
  app.add_option("--hello-timeout", hello_timeout,
                 Tr("seconds a new connection has to say Hello before it is closed"))
      ->check(CLI::Range(0.1, 3600.0));
  app.add_flag("-v,--verbose", verbose, Tr("log every connection"));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version exit 0; every bad option 2, as documented (CLI11's own codes differ).
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  limits.maxConnections = max_connections;
  limits.helloTimeout =
      std::chrono::milliseconds(static_cast<int64_t>(hello_timeout * 1000.0 + 0.5));

  velt::tmsim::Database db;
  if (!synthetic.empty()) {
    int channels = 0, rtus = 0;
    char extra = 0;
    if (std::sscanf(synthetic.c_str(), "%dx%d%c", &channels, &rtus, &extra) != 2 || channels < 1 ||
        channels > 65535 || rtus < 1 || rtus > 65535) {
      std::cerr << "tmsim: " << Tr("--synthetic wants CHANNELSxRTUS, e.g. 50x100") << "\n";
      return 2;
    }
    db = velt::tmsim::SyntheticDatabase(channels, rtus);
  } else if (!db_path.empty()) {
    auto loaded = velt::tmsim::LoadDatabaseFile(db_path);
    if (!loaded.ok()) {
      std::cerr << "tmsim: " << loaded.error().text << "\n";
      return 1;
    }
    db = std::move(loaded).value();
  } else {
    std::cerr << "tmsim: " << Tr("give --db FILE (or --synthetic CxR)") << "\n";
    return 2;
  }

  const auto where = velt::tmproto::SplitHostPort(listen, velt::tmproto::kDefaultPort);
  if (!where) {
    std::cerr << "tmsim: " << Tr("bad --listen address \"{}\"", {listen}) << "\n";
    return 2;
  }

  asio::io_context io;
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io);
  const auto endpoints =
      resolver.resolve(where->host.empty() ? "127.0.0.1" : where->host, std::to_string(where->port),
                       asio::ip::resolver_base::passive, ec);
  if (ec || endpoints.empty()) {
    std::cerr << "tmsim: " << Tr("cannot resolve \"{}\": {}", {where->host, ec.message()}) << "\n";
    return 2;
  }
  const asio::ip::tcp::endpoint endpoint = *endpoints.begin();

  std::signal(SIGPIPE, SIG_IGN);
  asio::signal_set signals(io, SIGINT, SIGTERM);
  std::unique_ptr<velt::tmsim::Server> server;
  try {
    server = std::make_unique<velt::tmsim::Server>(
        io, db, name, endpoint, verbose, limits,
        std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double, std::milli>(latency_ms)));
  } catch (const std::system_error& e) {
    std::ostringstream where_text;
    where_text << endpoint;
    std::cerr << "tmsim: " << Tr("cannot listen on {}: {}", {where_text.str(), e.code().message()})
              << "\n";
    return 1;
  }
  signals.async_wait([&](asio::error_code, int signal) {
    std::cerr << "tmsim: " << Tr("signal {}, stopping", {std::to_string(signal)}) << std::endl;
    server->Stop();
  });

  const asio::ip::tcp::endpoint local = server->LocalEndpoint();
  std::cout << "listening on " << local << std::endl;
  io.run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* const localeDirs[] = {VELT_BUILD_LOCALE_DIR, VELT_SYSTEM_LOCALE_DIR};
  velt::InitTranslation(VELT_TEXT_DOMAIN, localeDirs, 2);
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tmsim: " << e.what() << "\n";
    return 1;
  }
}
