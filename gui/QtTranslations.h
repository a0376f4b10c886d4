// Qt's own texts (the buttons of message boxes, the file and font dialogs) in the user's
// language, from the translations Qt ships (package qt6-translations-l10n).
#pragma once

class QCoreApplication;

namespace velt {

// Installs Qt's translator for the locale of the environment; true when one was found.
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace velt
