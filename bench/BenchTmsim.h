// One tmsim and one connection per kind of server (added latency, database) for every
// benchmark of a run; they end at exit.
#pragma once

#include <string>

#include "tmaccess.h"

namespace velt {

// synthetic: empty for the demo database, else tmsim's --synthetic argument ("50x100").
TmAccess& SharedTmsim(double latencyMs, const std::string& synthetic = {});

}  // namespace velt
