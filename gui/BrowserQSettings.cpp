#include "BrowserQSettings.h"

namespace velt {

BrowserQSettings::BrowserQSettings()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwell"),
                QStringLiteral("Dorvan")) {
  settings_.beginGroup(QStringLiteral("CurrentVersion/TMSBrowse"));
}

std::optional<std::string> BrowserQSettings::Read(const std::string& name) const {
  const QString key = QString::fromStdString(name);
  if (!settings_.contains(key)) return std::nullopt;
  return settings_.value(key).toString().toStdString();
}

void BrowserQSettings::Write(const std::string& name, const std::string& value) {
  settings_.setValue(QString::fromStdString(name), QString::fromStdString(value));
}

}  // namespace velt
