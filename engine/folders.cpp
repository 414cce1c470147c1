#include "engine/folders.h"

#include <vector>

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

bool DeleteFolder(const std::string& folder) {
  if (folder.empty()) return false;
  const bool endsInSeparator = plat::IsPathSeparator(folder.back());
  const std::string prefix = endsInSeparator ? folder : folder + "\\";
  std::vector<plat::FindEntry> entries;
  plat::FindEntries(prefix + "*.*", &entries);
  for (const plat::FindEntry& entry : entries) {
    // Only the folder itself and its parent are skipped: a short name that
    // begins with '.' is still content to delete.
    if (entry.name == "." || entry.name == "..") continue;
    const std::string path = prefix + entry.name;
    if (entry.IsDirectory()) {
      if (!DeleteFolder(path)) return false;
    } else {
      plat::SetAttributes(path, plat::kAttrNormal);
      if (!plat::RemoveFile(path)) return false;
    }
  }
  plat::SetAttributes(folder, plat::kAttrNormal);
  return plat::RemoveFolder(endsInSeparator ? folder.substr(0, folder.size() - 1) : folder);
}
