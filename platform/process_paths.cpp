// The part of the process folders that both backends share: the test
// seam in front of the temporary folder.
#include "platform/process_paths.h"

#include <mutex>

namespace plat {

namespace {

// Function statics: test programs set the folder from static initialisers.
std::mutex& TempLock() {
  static std::mutex lock;
  return lock;
}

std::string& TempOverride() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string TempFolder() {
  {
    std::lock_guard<std::mutex> lock(TempLock());
    if (!TempOverride().empty()) return TempOverride();
  }
  return SystemTempFolder();
}

void SetTempFolderForTesting(const std::string& folder) {
  std::lock_guard<std::mutex> lock(TempLock());
  TempOverride() = folder;
}

}  // namespace plat
