#include "launcher/browser_features.h"

namespace launcher {

std::optional<uint32_t> BrowserEmulationValue(std::string_view version) {
  uint32_t major = 0;
  size_t digits = 0;
  for (; digits < version.size() && digits < 3 && version[digits] >= '0' && version[digits] <= '9'; ++digits)
    major = major * 10 + uint32_t(version[digits] - '0');
  bool ends = digits == version.size() || version[digits] == '.';
  if (digits == 0 || !ends || major < 7 || major > 11) return std::nullopt;
  return major * 1000;
}

std::string_view InstalledBrowserVersion(std::string_view svcVersion, std::string_view version) {
  return svcVersion.empty() ? version : svcVersion;
}

std::vector<BrowserFeature> BrowserFeatureValues(uint32_t emulation) {
  return {
      {"FEATURE_BROWSER_EMULATION", emulation},
      {"FEATURE_AJAX_CONNECTIONEVENTS", 1},
      {"FEATURE_GPU_RENDERING", 1},
      {"FEATURE_IVIEWOBJECTDRAW_DMLT9_WITH_GDI", 0},
      {"FEATURE_NINPUT_LEGACYMODE", 0},
      {"FEATURE_DISABLE_NAVIGATION_SOUNDS", 1},
      {"FEATURE_SCRIPTURL_MITIGATION", 1},
      {"FEATURE_SPELLCHECKING", 0},
      {"FEATURE_STATUS_BAR_THROTTLING", 1},
      {"FEATURE_VALIDATE_NAVIGATE_URL", 1},
      {"FEATURE_WEBOC_DOCUMENT_ZOOM", 1},
      {"FEATURE_WEBOC_POPUPMANAGEMENT", 0},
      {"FEATURE_ADDON_MANAGEMENT", 0},
      {"FEATURE_WEBSOCKET", 1},
      {"FEATURE_WINDOW_RESTRICTIONS", 0},
  };
}

}  // namespace launcher
