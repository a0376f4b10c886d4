// The program's modal messages, behind an interface so that the logic that asks runs in
// tests without a display. The windows implement it with message boxes.
#pragma once

#include <string>

namespace velt {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A confirmation with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // An error message with an OK button; `reason`, when not empty, says why under it.
  virtual void ShowError(const std::string& text, const std::string& reason) = 0;
  void ShowError(const std::string& text) { ShowError(text, {}); }
};

}  // namespace velt
