// The user's default locale as a Windows locale identifier (LCID), the number that the
// spreadsheet's object model takes with its locale-aware calls.
#pragma once

#include <cstdint>
#include <string_view>

namespace velt {

// From a POSIX locale name such as "ru_RU.UTF-8" or "en_US"; 0x0409 (en-US) when the name
// is empty, "C", "POSIX" or unknown.
int32_t LocaleIdFromName(std::string_view name);

// From the environment, as the C library chooses the messages locale: LC_ALL, then
// LC_MESSAGES, then LANG.
int32_t UserLocaleId();

}  // namespace velt
