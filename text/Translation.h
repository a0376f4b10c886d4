// Messages in the reader's language through gettext. Each program binds its own text domain to
// its Russian catalogue; where the locale is not Russian, or no catalogue is found, the English
// text stays.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace velt {

// Chooses the message language from the environment (LC_ALL, LC_MESSAGES, LANG, LANGUAGE) and
// binds domain to the catalogues in localeDirs (the first that holds the domain's catalogue).
// Only messages are switched: numbers keep the C locale's decimal point.
void InitTranslation(const char* domain, const char* const* localeDirs, int dirCount);

// The translation of english in the program's text domain.
const char* Tr(const char* english);

// The translation of english with each "{}" replaced by the next argument, in order.
std::string Tr(const char* english, std::initializer_list<std::string_view> arguments);

}  // namespace velt
