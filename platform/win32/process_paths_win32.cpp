#include <windows.h>

#include "platform/path.h"
#include "platform/process_paths.h"

namespace plat {

std::string ModuleFileName() {
  char buffer[MAX_PATH];
  DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

std::string ModuleFolder() { return FolderOf(ModuleFileName()); }

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD length = ::GetCurrentDirectoryA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

bool SetCurrentFolder(const std::string& folder) { return ::SetCurrentDirectoryA(folder.c_str()) != FALSE; }

std::string SystemTempFolder() {
  char buffer[MAX_PATH + 1];
  DWORD length = ::GetTempPathA(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return std::string();
  return std::string(buffer, length);
}

}  // namespace plat
