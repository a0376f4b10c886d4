// UTF-8 <-> Windows-1251 at the edge of the tmconn C interface (iconv underneath).
#pragma once

#include <string>
#include <string_view>

namespace velt {

// Characters that Windows-1251 cannot hold, and bytes that are not UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view utf8);

// As above, but fails (false) on the first character that cannot be converted.
bool Utf8ToCp1251Strict(std::string_view utf8, std::string& out);

// The one byte that Windows-1251 leaves undefined (0x98) becomes `replacement`.
std::string Cp1251ToUtf8(std::string_view cp1251, std::string_view replacement = "?");

}  // namespace velt
