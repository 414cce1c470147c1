// The version manifest "version.ini": the versions the patch servers
// announce and the servers to patch from, read with the private-profile
// functions. The manifest comes from the patch server, so every value is
// outside input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestValues {
  uint32_t latest = 0;         // "LatestVersion"
  uint32_t minimal = 0;        // "MinimalVersion"
  uint32_t preDownStart = 0;   // "PreDownStart"
  uint32_t preDownEnd = 0;     // "PreDownEnd"
  uint32_t serverPatcher = 0;  // "OwnVersion", or "CoreVersion" when that is 0
  std::vector<std::string> downloadUrls;  // up to three, in the order drawn, no trailing "/"
};

// Reads the manifest at `path`: the versions from `versionSection`, the
// servers ("server1", ...) and weights ("POD1", ... of "<download>_POD",
// else of the download section) from `downloadSection`, drawn by weight
// with the calendar time `nowSeconds`. Returns 0, or 3 after a level-8
// line when the manifest is unusable: a value of "LatestVersion",
// "MinimalVersion", "OwnVersion" or "CoreVersion" that is not a number
// (which the profile functions would read as 0, so "abc" would pass for a
// client newer than the servers), all of latest, minimal and patcher
// version 0, or no server. The values read before a failure stay
// in `out`.
uint32_t ReadManifest(const std::string& path, const std::string& versionSection,
                      const std::string& downloadSection, uint64_t nowSeconds, ManifestValues* out);
