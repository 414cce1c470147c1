// The feature-control settings that make the system's embedded browser
// render the launcher page like the installed browser would, instead of in
// its old compatibility mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace launcher {

// The emulation value for an installed browser version text such as
// "11.0.9600.18376": major version 7 to 11 gives 7000 to 11000; any other
// major version, or a text that does not start with one, gives nothing.
std::optional<uint32_t> BrowserEmulationValue(std::string_view version);

// The version text to use: the service version when the machine has one
// (newer browsers keep the old "version" value at 9.x for compatibility),
// else the plain version.
std::string_view InstalledBrowserVersion(std::string_view svcVersion, std::string_view version);

struct BrowserFeature {
  const char* subkey;  // under ...\Main\FeatureControl\ of the user's key
  uint32_t value;      // DWORD named after the program's file name
};

// Every value to write, the emulation value first.
std::vector<BrowserFeature> BrowserFeatureValues(uint32_t emulation);

}  // namespace launcher
