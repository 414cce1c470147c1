#include "engine/self_update.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "download/fetch.h"
#include "engine/client_check.h"
#include "engine/patch_file.h"
#include "engine/patch_log.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/process_paths.h"

namespace {

constexpr uint32_t kSelfUpdateError = 8;

// The file name of a path split at its last ".": "a.dll.pre_zulpatch" gives
// "a.dll" and ".pre_zulpatch".
void SplitName(const std::string& path, std::string* name, std::string* extension) {
  const std::string file = plat::FileNameOf(path);
  const size_t dot = file.rfind('.');
  *name = dot == std::string::npos ? file : file.substr(0, dot);
  *extension = dot == std::string::npos ? std::string() : file.substr(dot);
}

// The removable name of a target that cannot be replaced: numbered past
// every ".del_zulpatch" file of the folder, so none is overwritten.
std::string RemovableName(const std::string& programFolder, const std::string& target) {
  std::vector<std::string> leftovers;
  CollectFiles(programFolder, leftovers, "*.del_zulpatch*", false);
  if (leftovers.empty()) return target + ".del_zulpatch";
  long highest = 0;
  for (const std::string& path : leftovers) {
    std::string name, extension;
    SplitName(path, &name, &extension);
    const size_t open = extension.find('(');
    const size_t close = extension.find(')');
    if (extension.find(".del_zulpatch") == std::string::npos || open == std::string::npos ||
        close == std::string::npos || close < open) {
      continue;
    }
    const long number = strtol(extension.substr(open + 1, close - open - 1).c_str(), nullptr, 10);
    if (number > highest) highest = number;
  }
  return target + ".del_zulpatch(" + std::to_string(highest + 1) + ")";
}

// Moves an old file back from its removable name, never over a file.
void PutBack(const std::string& removable, const std::string& target) {
  if (plat::MoveNoReplace(removable, target)) return;
  LogWrite(kLogError, "Failed to restore old patched file : %s => %s, LastError [%d]", removable.c_str(),
           target.c_str(), static_cast<int32_t>(plat::LastError()));
}

}  // namespace

CTaskSelfUpdate::CTaskSelfUpdate(TaskHost& host, const EngineSettings& settings, uint32_t serverPatcherVersion)
    : m_host(host), m_settings(settings), m_serverPatcherVersion(serverPatcherVersion) {}

int32_t CTaskSelfUpdate::Process() {
  LogWrite(kLogTrace, "CTaskSelfUpdate::Process()");
  char relative[4096];
  snprintf(relative, sizeof relative, "core%u.cab", m_serverPatcherVersion);
  TaskHost& host = m_host;
  const uint32_t result = GetFileFromServers(
      m_settings.downloadUrls, relative, "upgrade.cab", 0, [&host](int32_t done, int32_t total) {
        const double percent = total == 0 ? 0.0 : static_cast<double>(done) / total * 100.0;
        host.PostTaskEvent(2, static_cast<uint32_t>(static_cast<int32_t>(percent)), 0);
      });
  if (result != 0 && result != 2) {
    LogWrite(kLogError, "Failed to download file [%s]", relative);
    host.PostTaskEvent(kEventTypeError, result, kSelfUpdateError);
    return 0;
  }
  host.PostTaskEvent(1, 0, 0);
  return 0;
}

bool ProcSelfUpdate() { return ProcSelfUpdateIn(plat::ModuleFolder()); }

bool ProcSelfUpdateIn(const std::string& programFolderIn) {
  LogWrite(kLogDetail, "ProcSelfUpdate() begins.");
  std::string programFolder = programFolderIn;
  if (!programFolder.empty() && programFolder.back() != '\\' && programFolder.back() != '/') programFolder += '\\';

  // Renames are put on disk before the start goes on: a power cut must
  // not bring back a name this start already moved.
  struct FolderSync {
    const std::string& folder;
    ~FolderSync() { plat::SyncFolder(folder); }
  } syncAtEnd{programFolder};

  std::vector<std::string> leftovers;
  CollectFiles(programFolder, leftovers, "*.del_zulpatch*", false);
  for (const std::string& path : leftovers) {
    const std::string target = path.substr(0, path.rfind(".del_zulpatch"));
    if (plat::GetAttributes(target) == plat::kInvalidAttributes &&
        plat::GetAttributes(target + ".pre_zulpatch") != plat::kInvalidAttributes) {
      // An installation ended between its two moves: this is the only copy
      // of the target until its new file is in place.
      LogWrite(kLogError, "Restore old patched file : %s => %s", path.c_str(), target.c_str());
      PutBack(path, target);
      continue;
    }
    LogWrite(kLogDetail, "Try to delete old patched file : %s", path.c_str());
    plat::SetAttributes(path, plat::kAttrNormal);
    if (!plat::RemoveFile(path)) LogWrite(kLogDetail, "Failed to delete old patched file : %s", path.c_str());
  }

  std::vector<std::string> updates;
  CollectFiles(programFolder, updates, "*.pre_zulpatch", false);
  for (const std::string& update : updates) {
    LogWrite(kLogDetail, "Try to patch to pre zulpatch file : %s", update.c_str());
    std::string name, extension;
    SplitName(update, &name, &extension);
    if (name.empty()) {
      LogWrite(kLogError, "Wrong pre patch file is added in client folder : %s", update.c_str());
      return false;
    }
    const std::string target = plat::FolderOf(update) + name;
    plat::SetAttributes(update, plat::kAttrNormal);
    plat::SetAttributes(target, plat::kAttrNormal);
    LogWrite(kLogDetail, "MoveFileEx Ready. Before : %s, %lld", update.c_str(),
             static_cast<long long>(GetFileSize64(update)));
    LogWrite(kLogDetail, "MoveFileEx Ready. After  : %s, %lld", target.c_str(),
             static_cast<long long>(GetFileSize64(target)));
    if (plat::MoveReplace(update, target)) {
      LogWrite(kLogDetail, "MoveFileEx Success. %s => %s.", update.c_str(), target.c_str());
      plat::CopyOneFile(target, target + ".after_patch", false);
      continue;
    }
    LogWrite(kLogDetail, "MoveFileEx failed. errCode = %d. %s => %s\n", static_cast<int32_t>(plat::LastError()),
             update.c_str(), target.c_str());
    const std::string removable = RemovableName(programFolder, target);
    LogWrite(kLogDetail, "Try to rename old file name to removeable file name : %s => %s", target.c_str(),
             removable.c_str());
    if (!plat::MoveReplace(target, removable)) {
      LogWrite(kLogError, "Failed to rename old file name to removeable file name : %s => %s, LastError [%d]",
               target.c_str(), removable.c_str(), static_cast<int32_t>(plat::LastError()));
      return false;
    }
    plat::SetAttributes(update, plat::kAttrNormal);
    plat::SetAttributes(target, plat::kAttrNormal);
    if (!plat::MoveReplace(update, target)) {
      LogWrite(kLogError, "Failed to renaming-patch : %s => %s, LastError [%d]", update.c_str(), target.c_str(),
               static_cast<int32_t>(plat::LastError()));
      // Under its removable name the old file would be deleted by the next
      // start, leaving no file at all: it goes back.
      PutBack(removable, target);
      return false;
    }
    LogWrite(kLogDetail, "MoveFileEx Success. #2. %s => %s", update.c_str(), target.c_str());
  }
  LogWrite(kLogDetail, "ProcSelfUpdate() finished. success.");
  return true;
}
