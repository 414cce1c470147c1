#include "launcher/startup.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "download/fetch_result.h"
#include "download/http_socket.h"
#include "engine/patch_types.h"
#include "platform/ini_profile.h"
#include "platform/process_launch.h"
#include "platform/process_paths.h"

namespace {

// Long enough to see that a value did not fit the engine's 260 bytes.
constexpr uint32_t kSettingBufferSize = 4096;

std::string ReadSetting(const char* section, const char* key, const char* defaultValue, const std::string& file) {
  char buffer[kSettingBufferSize];
  const uint32_t n = plat::ReadProfileString(section, key, defaultValue, buffer, sizeof buffer, file);
  return std::string(buffer, n);
}

// Outcome of one maintenance download, shared with the thread that runs it
// so that the thread may outlive an impatient caller.
struct DownloadWait {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  bool ok = false;
};

}  // namespace

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string joined;
  for (const std::string& argument : arguments) joined += argument + " ";
  if (!joined.empty()) joined.pop_back();
  return joined;
}

uint32_t EngineFlagsFor(const std::string& parameters) {
  const uint32_t flags = parameters.find(kDebugSwitch) != std::string::npos ? kLauncherDebugFlags : kLauncherFlags;
  return parameters.find(kRepairSwitch) != std::string::npos ? flags | kFlagRepair : flags;
}

bool ReadVersionUrl(std::string* url) {
  const std::string value = ReadSetting("URL", "VersionUrl", "", kLocalSettingsFile);
  // A URL the engine's 260-byte field cannot hold whole would be cut into a
  // different address; it counts as no URL.
  if (value.empty() || value.size() >= kEngineTextSize) return false;
  *url = value;
  return true;
}

std::string ReadMaintenanceUrl() { return ReadSetting("URL", "MaintenanceUrl", "", kLocalSettingsFile); }

std::string ReadLauncherPageUrl() { return ReadSetting("URL", "LauncherPageUrl", "", kLocalSettingsFile); }

uint32_t MaintenanceDeadlineMs() { return SocketConnectTimeoutMs(); }

std::string CheckMaintenance(const std::string& maintenanceUrl, const DownloadFileFunction& download,
                             uint32_t deadlineMs) {
  if (maintenanceUrl.empty() || !download) return std::string();
  const std::string file = plat::TempFolder() + kMaintenanceFileName;

  auto wait = std::make_shared<DownloadWait>();
  std::thread([wait, download, maintenanceUrl, file] {
    const bool ok = download(maintenanceUrl, file);
    std::lock_guard<std::mutex> lock(wait->lock);
    wait->ok = ok;
    wait->finished = true;
    wait->done.notify_all();
  }).detach();
  {
    std::unique_lock<std::mutex> lock(wait->lock);
    if (!wait->done.wait_for(lock, std::chrono::milliseconds(deadlineMs), [&] { return wait->finished; })) {
      // Ends the transfer at its next block or attempt; a connection that
      // is stuck waits for its own time-out, in the background.
      SetTransferCancel();
      return std::string();
    }
    if (!wait->ok) return std::string();
  }
  if (plat::ReadProfileInt("MAINTENANCE", "IsUsed", 0, file) == 0) return std::string();
  return ReadSetting("MAINTENANCE", "Msg", "Maintenance", file);
}

uint32_t LaunchExecutable(const std::string& exeName, const std::string& arguments, plat::WindowHandle owner,
                          const std::function<void(const std::string& text)>& showError) {
  plat::LaunchError error;
  if (plat::StartProgram(exeName, arguments, owner, &error)) return 1;
  char text[1024];
  snprintf(text, sizeof text, "[LastError : 0x%x ] %s", error.code, error.text.c_str());
  if (showError) showError(text);
  return 0;
}
