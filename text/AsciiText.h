// ASCII-only case and blank handling. Bytes >= 0x80 (Cyrillic in UTF-8 or Windows-1251) are
// never changed or taken for blanks.
#pragma once

#include <string>
#include <string_view>

namespace velt {

std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
bool EqualNoCaseAscii(std::string_view a, std::string_view b);

// `text` without the leading and trailing characters that occur in `blanks`.
std::string_view TrimAscii(std::string_view text, std::string_view blanks);
// `text` without leading and trailing spaces and control characters (bytes 0..32).
std::string_view TrimControls(std::string_view text);

}  // namespace velt
