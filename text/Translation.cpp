#include "Translation.h"

#include <libintl.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace velt {

namespace {

std::string EnvLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

}  // namespace

void InitTranslation(const char* domain, const char* const* localeDirs, int dirCount) {
  if (std::setlocale(LC_MESSAGES, "") == nullptr) {
    // A Russian locale that this machine has not generated: messages can still be Russian, as
    // gettext honours LANGUAGE under C.UTF-8.
    if (EnvLocale().rfind("ru", 0) == 0 && std::setlocale(LC_MESSAGES, "C.UTF-8") != nullptr) {
      setenv("LANGUAGE", "ru", 0);
    }
  }
  for (int i = 0; i < dirCount; ++i) {
    const std::string catalogue = std::string(localeDirs[i]) + "/ru/LC_MESSAGES/" + domain + ".mo";
    struct stat info {};
    if (stat(catalogue.c_str(), &info) == 0) {
      bindtextdomain(domain, localeDirs[i]);
      break;
    }
  }
  bind_textdomain_codeset(domain, "UTF-8");
  textdomain(domain);
}

const char* Tr(const char* english) {
  return gettext(english);
}

std::string Tr(const char* english, std::initializer_list<std::string_view> arguments) {
  const std::string_view pattern = Tr(english);
  std::string text;
  size_t from = 0;
  for (const std::string_view argument : arguments) {
    const size_t at = pattern.find("{}", from);
    if (at == std::string_view::npos) break;
    text.append(pattern.substr(from, at - from)).append(argument);
    from = at + 2;
  }
  text.append(pattern.substr(from));
  return text;
}

}  // namespace velt
