#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/path.h"
#include "platform/process_paths.h"

namespace plat {

std::string ModuleFileName() {
  char buffer[PATH_MAX];
  ssize_t got = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (got <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(got));
}

std::string ModuleFolder() { return FolderOf(ModuleFileName()); }

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  if (!getcwd(buffer, sizeof buffer)) return std::string();
  return buffer;
}

bool SetCurrentFolder(const std::string& folder) { return chdir(ToNativePath(folder).c_str()) == 0; }

std::string SystemTempFolder() {
  const char* env = getenv("TMPDIR");
  std::string folder = (env && *env) ? env : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace plat
