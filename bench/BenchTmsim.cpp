#include "BenchTmsim.h"

#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

#include "TmsimProcess.h"

namespace velt {

TmAccess& SharedTmsim(double latencyMs, const std::string& synthetic) {
  struct Server {
    std::unique_ptr<TmsimProcess> process;
    std::unique_ptr<TmAccess> tm;
  };
  static std::map<std::pair<double, std::string>, Server> servers;
  Server& server = servers[{latencyMs, synthetic}];
  if (!server.process) {
    TmsimOptions options;
    options.latency_ms = latencyMs;
    if (!synthetic.empty()) {
      options.database.clear();
      options.extra_args = {"--synthetic", synthetic};
    }
    server.process = std::make_unique<TmsimProcess>(options);
    server.tm = std::make_unique<TmAccess>();
    if ((server.tm->tmaConnect(server.process->Address() + "\\TMS", kClientName) & 0xFFFF) == 0) {
      throw std::runtime_error("cannot connect to tmsim");
    }
  }
  return *server.tm;
}

}  // namespace velt
