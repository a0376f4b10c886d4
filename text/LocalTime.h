// The local time now: as a calendar record and as strftime writes it.
#pragma once

#include <ctime>
#include <string>

namespace velt {

std::tm LocalNow();
// strftime's text of the local time now; empty when it would not fit 63 bytes.
std::string LocalTimeText(const char* format);

}  // namespace velt
