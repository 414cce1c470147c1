// The repository's two INI files as text: the manifest "version.ini" (a
// new one, or an existing one with one value changed and every other line
// kept byte for byte) and the deletion list "delete.ini".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

// The section names the launcher passes to the engine.
constexpr char kVersionSection[] = "VERSION";
constexpr char kDownloadSection[] = "DOWNLOAD";

struct ManifestServer {
  std::string url;      // base URL without a trailing '/'
  uint32_t weight = 1;  // selection weight ("POD<n>" in [DOWNLOAD_POD])
};

struct ManifestContent {
  uint32_t latest = 0;
  uint32_t minimal = 0;
  uint32_t ownVersion = 0;  // the patcher version the repository serves
  std::vector<ManifestServer> servers;
};

// A commented manifest for a new repository (CR LF line ends). Weights are
// written only when one of them is not 1.
std::string NewManifestText(const ManifestContent& content);

// `text` with `key` of `section` set to `value` (names matched without
// regard to letter case, as the profile reader does); a missing key is
// added at the end of its section, a missing section at the end of the
// text. Every other byte is kept.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);

// "[DELETE]" with File1, File2, ... in the given order.
std::string DeleteListText(const std::vector<std::string>& names);
// The names of a "delete.ini" file (File1, File2, ... up to the first
// missing or empty one); empty when the file does not exist.
std::vector<std::string> ReadDeleteList(const std::string& path);

}  // namespace publish
