#include "engine/version_file.h"

#include "engine/patch_log.h"
#include "platform/file_system.h"

namespace {

constexpr size_t kMaxPath = 259;
constexpr char kPendingFinishName[] = "finish.pending";

enum class ReadResult { kRead, kOpenFailed, kShort };

ReadResult ReadU32File(const std::string& path, uint32_t* value) {
  plat::File file;
  if (path.size() > kMaxPath || !file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
    return ReadResult::kOpenFailed;
  }
  uint8_t bytes[4] = {};
  uint32_t got = 0;
  if (!file.Read(bytes, 4, &got) || got < 4) return ReadResult::kShort;
  *value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return ReadResult::kRead;
}

plat::ReplaceResult WriteU32File(const std::string& path, uint32_t value) {
  if (path.size() > kMaxPath) return plat::ReplaceResult::kCreateFailed;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return plat::ReplaceFileContents(path, bytes, 4);
}

}  // namespace

bool GetVerFile(const std::string& folder, uint32_t* version) {
  const std::string path = folder + "version.dat";
  // A read-only copy (a client installed from read-only media) would
  // otherwise refuse every commit, and no run could ever finish.
  plat::SetAttributes(path, plat::kAttrNormal);
  switch (ReadU32File(path, version)) {
    case ReadResult::kRead:
      return true;
    case ReadResult::kOpenFailed:
      LogWrite(kLogError, "GetVerFile:Failed to CreateFile : File [%s]", path.c_str());
      return false;
    case ReadResult::kShort:
      break;
  }
  LogWrite(kLogError, "GetVerFile:Failed to ReadFile : File [%s]", path.c_str());
  *version = 0;
  return false;
}

bool SetVerFile(const std::string& folder, uint32_t version) {
  const std::string path = folder + "version.dat";
  plat::SetAttributes(path, plat::kAttrNormal);
  // Emptying the file and then writing it would leave a client that no
  // later start can read when the process dies in between.
  switch (WriteU32File(path, version)) {
    case plat::ReplaceResult::kDone:
      return true;
    case plat::ReplaceResult::kCreateFailed:
      LogWrite(kLogError, "SetVerFile:Failed to CreateFile : File [%s]", path.c_str());
      return false;
    case plat::ReplaceResult::kWriteFailed:
      break;
  }
  LogWrite(kLogError, "SetVerFile:Failed to WriteFile : File [%s]", path.c_str());
  return false;
}

bool GetPendingFinish(const std::string& downloadFolder, uint32_t* baseVersion) {
  switch (ReadU32File(downloadFolder + kPendingFinishName, baseVersion)) {
    case ReadResult::kRead:
      return true;
    case ReadResult::kOpenFailed:
      return false;
    case ReadResult::kShort:
      break;
  }
  // A damaged record still says a finish is pending; from where is unknown,
  // so every list counts.
  *baseVersion = 0;
  return true;
}

bool SetPendingFinish(const std::string& downloadFolder, uint32_t baseVersion) {
  const std::string path = downloadFolder + kPendingFinishName;
  if (WriteU32File(path, baseVersion) == plat::ReplaceResult::kDone) return true;
  LogWrite(kLogError, "Failed to record the pending finish : File [%s] LastError [%d]", path.c_str(),
           static_cast<int32_t>(plat::LastError()));
  return false;
}

void ClearPendingFinish(const std::string& downloadFolder) {
  const std::string path = downloadFolder + kPendingFinishName;
  plat::SetAttributes(path, plat::kAttrNormal);
  plat::RemoveFile(path);
}
