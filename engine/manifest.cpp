#include "engine/manifest.h"

#include "engine/ini_manager.h"
#include "engine/patch_log.h"
#include "engine/server_selection.h"
#include "platform/ini_profile.h"

namespace {

constexpr uint32_t kManifestUnusable = 3;

// A version key's value, read as the profile functions read it. False for
// a value that is there but does not start with a decimal number (a "+"
// aside); a missing or empty key is 0, as the profile functions give it.
bool ReadVersion(const CIniManager& manifest, const std::string& section, const char* key, uint32_t* value) {
  char text[64];
  const uint32_t length =
      plat::ReadProfileString(section.c_str(), key, "", text, static_cast<uint32_t>(sizeof text), manifest.Path());
  const size_t digit = length > 0 && text[0] == '+' ? 1 : 0;
  if (length > 0 && (text[digit] < '0' || text[digit] > '9')) {
    LogWrite(kLogError, "Wrong version.ini : %s is not a version number [%s]", key, text);
    return false;
  }
  *value = manifest.GetInt(section, key);
  return true;
}

}  // namespace

uint32_t ReadManifest(const std::string& path, const std::string& versionSection,
                      const std::string& downloadSection, uint64_t nowSeconds, ManifestValues* out) {
  CIniManager manifest;
  manifest.SetFile(path, false);
  // The pre-download range is only passed back to the launcher; the other
  // versions decide what the run does.
  if (!ReadVersion(manifest, versionSection, "LatestVersion", &out->latest) ||
      !ReadVersion(manifest, versionSection, "MinimalVersion", &out->minimal)) {
    return kManifestUnusable;
  }
  out->preDownStart = manifest.GetInt(versionSection, "PreDownStart");
  out->preDownEnd = manifest.GetInt(versionSection, "PreDownEnd");
  if (!ReadVersion(manifest, versionSection, "OwnVersion", &out->serverPatcher) ||
      (out->serverPatcher == 0 && !ReadVersion(manifest, versionSection, "CoreVersion", &out->serverPatcher))) {
    return kManifestUnusable;
  }
  if (out->latest == 0 && out->minimal == 0 && out->serverPatcher == 0) {
    LogWrite(kLogError, "Wrong version.ini");
    return kManifestUnusable;
  }

  std::vector<std::string> servers;
  if (!manifest.GetStringList(downloadSection, "server", servers)) {
    LogWrite(kLogError, "Failed to obtain download urls from version.ini");
    return kManifestUnusable;
  }
  std::vector<std::string> weights;
  if (!manifest.GetStringList(downloadSection + "_POD", "POD", weights)) {
    manifest.GetStringList(downloadSection, "POD", weights);
  }
  out->downloadUrls = SelectDownloadServers(servers, weights, nowSeconds);
  if (out->downloadUrls.empty()) {
    LogWrite(kLogError, "Failed to make download urls from version.ini");
    return kManifestUnusable;
  }
  return 0;
}
