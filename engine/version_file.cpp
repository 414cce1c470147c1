#include "engine/version_file.h"

#include "engine/patch_log.h"
#include "platform/file_system.h"

namespace {
constexpr size_t kMaxPath = 259;
}

bool GetVerFile(const std::string& folder, uint32_t* version) {
  const std::string path = folder + "version.dat";
  // A read-only copy (a client installed from read-only media) would
  // otherwise refuse every commit, and no run could ever finish.
  plat::SetAttributes(path, plat::kAttrNormal);
  plat::File file;
  if (path.size() > kMaxPath ||
      !file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
    LogWrite(kLogError, "GetVerFile:Failed to CreateFile : File [%s]", path.c_str());
    return false;
  }
  uint8_t bytes[4] = {};
  uint32_t got = 0;
  if (!file.Read(bytes, 4, &got) || got < 4) {
    LogWrite(kLogError, "GetVerFile:Failed to ReadFile : File [%s]", path.c_str());
    *version = 0;
    return false;
  }
  *version = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
             static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return true;
}

bool SetVerFile(const std::string& folder, uint32_t version) {
  const std::string path = folder + "version.dat";
  // A read-only copy (a client installed from read-only media) would
  // otherwise refuse every commit, and no run could ever finish.
  plat::SetAttributes(path, plat::kAttrNormal);
  plat::File file;
  if (path.size() > kMaxPath ||
      !file.Open(path, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways)) {
    LogWrite(kLogError, "SetVerFile:Failed to CreateFile : File [%s]", path.c_str());
    return false;
  }
  const uint8_t bytes[4] = {static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8),
                            static_cast<uint8_t>(version >> 16), static_cast<uint8_t>(version >> 24)};
  uint32_t done = 0;
  if (!file.Write(bytes, 4, &done) || done != 4 || !file.Flush()) {
    LogWrite(kLogError, "SetVerFile:Failed to WriteFile : File [%s]", path.c_str());
    return false;
  }
  return true;
}
