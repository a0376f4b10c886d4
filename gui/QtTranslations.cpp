#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velt {

bool InstallQtTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  // Debian keeps them there whatever the build's own prefix says.
  for (const QString& where : {folder, QStringLiteral("/usr/share/qt6/translations")}) {
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"), where)) {
      QCoreApplication::installTranslator(translator);
      return true;
    }
  }
  delete translator;
  return false;
}

}  // namespace velt
