// The browser's settings in the user's native settings store: organisation "Tarnwell",
// application "Dorvan", group "CurrentVersion/TMSBrowse".
#pragma once

#include <QSettings>

#include "BrowserView.h"

namespace velt {

class BrowserQSettings : public BrowserSettingsStore {
 public:
  BrowserQSettings();
  std::optional<std::string> Read(const std::string& name) const override;
  void Write(const std::string& name, const std::string& value) override;

 private:
  mutable QSettings settings_;
};

}  // namespace velt
