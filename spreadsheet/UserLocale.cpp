#include "UserLocale.h"

#include <cstdlib>
#include <string>

namespace velt {

namespace {

struct LocaleEntry {
  std::string_view name;
  int32_t lcid;
};

// The locales a dispatch centre is likely to run under; the language alone decides when the
// territory is not listed.
constexpr LocaleEntry kLocales[] = {
    {"ru_RU", 0x0419}, {"ru", 0x0419},    {"uk_UA", 0x0422}, {"uk", 0x0422},    {"be_BY", 0x0423},
    {"be", 0x0423},    {"kk_KZ", 0x043F}, {"kk", 0x043F},    {"en_US", 0x0409}, {"en_GB", 0x0809},
    {"en", 0x0409},    {"de_DE", 0x0407}, {"de", 0x0407},    {"fr_FR", 0x040C}, {"fr", 0x040C},
};

constexpr int32_t kDefault = 0x0409;

}  // namespace

int32_t LocaleIdFromName(std::string_view name) {
  const auto end = name.find_first_of(".@");
  if (end != std::string_view::npos) name = name.substr(0, end);
  if (name.empty() || name == "C" || name == "POSIX") return kDefault;
  for (const auto& entry : kLocales) {
    if (entry.name == name) return entry.lcid;
  }
  const auto language = name.substr(0, name.find('_'));
  for (const auto& entry : kLocales) {
    if (entry.name == language) return entry.lcid;
  }
  return kDefault;
}

int32_t UserLocaleId() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return LocaleIdFromName(value);
  }
  return kDefault;
}

}  // namespace velt
