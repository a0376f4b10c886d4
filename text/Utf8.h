// UTF-8 checks.
#pragma once

#include <string_view>

namespace velt {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values beyond
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

}  // namespace velt
