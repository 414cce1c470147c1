#include "engine/folders.h"

#include "engine/patch_log.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace {

constexpr size_t kMaxPath = 260;

// "C:" of a path that begins with a drive letter, else "".
std::string DriveOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    return path.substr(0, 2);
  }
  return std::string();
}

}  // namespace

bool RecCreateDirectoryFile(const std::string& filePath) {
  if (filePath.size() >= kMaxPath) {
    LogWrite(kLogError, "Path too long to create : Path [%s]", filePath.c_str());
    return false;
  }
  const std::string drive = DriveOf(filePath);
  const std::string folder = plat::FolderOf(filePath.substr(drive.size()));
  if (folder.empty() || folder == "\\" || folder == "/") return true;

  for (size_t i = 0; i < folder.size(); ++i) {
    if (!plat::IsPathSeparator(folder[i])) continue;
    const std::string sofar = folder.substr(0, i);
    // A root ("" before a leading separator) always exists and cannot be created.
    if (sofar.empty()) continue;
    if (!plat::CreateFolder(drive + sofar) && plat::LastError() != plat::kErrorAlreadyExists) return false;
  }
  return true;
}

bool RecCreateDirectory(const std::string& folder) {
  const bool endsInSeparator = !folder.empty() && plat::IsPathSeparator(folder.back());
  return RecCreateDirectoryFile(folder + (endsInSeparator ? "temp.txt" : "\\temp.txt"));
}
