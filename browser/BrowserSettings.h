// The browser's stored settings: value names and the text forms of their values. Every value is
// a string: integers in decimal, Booleans "True"/"False", rectangles as PlacementText.h writes
// them. A missing or unreadable value leaves its item as it was.
#pragma once

#include <optional>
#include <string>

#include "BrowserView.h"

namespace velt {

inline constexpr const char* kTreeWidthKey = "HETreeView1_Width";
inline constexpr const char* kAppendNameKey = "AppendNameItm_Checked";
inline constexpr const char* kAppendAddressKey = "AppendAddressItm_Checked";
inline constexpr const char* kFontKey = "Panel1_Font";
inline constexpr const char* kStayOnTopKey = "StayOnTopItm_Checked";

std::optional<int> ParseInteger(const std::string& text);
std::optional<int> ReadInteger(const BrowserSettingsStore& store, const std::string& name);
std::optional<bool> ReadBoolean(const BrowserSettingsStore& store, const std::string& name);
std::string BooleanText(bool value);

// The placement to apply, or nullopt: only when the stored PixelsPerInch is the screen's and a
// NormPos or MinMaxPos is stored. Values under the name with the screen size win.
std::optional<BrowserPlacement> ReadPlacement(const BrowserSettingsStore& store,
                                              const ScreenInfo& screen,
                                              const BrowserPlacement& current);
void WritePlacement(BrowserSettingsStore& store, const ScreenInfo& screen,
                    const BrowserPlacement& placement, bool destroying);

PanelFont ReadFont(const BrowserSettingsStore& store, PanelFont font, int pixelsPerInch);
void WriteFont(BrowserSettingsStore& store, const PanelFont& font, int pixelsPerInch);

}  // namespace velt
