#include "engine/patch_entry.h"

#include "download/fetch.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "platform/file_system.h"
#include "platform/process_paths.h"

uint32_t ApplyDebugMarker(const std::string& moduleFolder, uint32_t flags) {
  // Only the marker's existence counts; its content is never read.
  if (!moduleFolder.empty() && plat::FileExists(moduleFolder + "\\debug_patch.ini")) {
    flags |= kFlagLogEnabled | kFlagLogVerbose;
  }
  return flags;
}

uint32_t PLV5_Init(PatchStartParams params, PatchStartResults* results) {
  params.flags = ApplyDebugMarker(plat::ModuleFolder(), params.flags);
  LogSetup((params.flags & kFlagLogEnabled) != 0, (params.flags & kFlagLogVerbose) != 0);
  // The stop of an earlier session in this process cancelled its transfers;
  // this session's fetches must not inherit that.
  ClearTransferCancel();
  return CPatchMain::Instance().Init(params, results);
}

uint32_t PLV5_StartPatch() {
  LogWrite(kLogTrace, "PLV5_StartPatch() begins");
  return CPatchMain::Instance().StartPatch();
}

uint32_t PLV5_StartSelfUpdate() {
  LogWrite(kLogTrace, "PLV5_StartSelfUpdate() begins");
  return CPatchMain::Instance().StartSelfUpdate();
}

void PLV5_Uninit() {
  LogWrite(kLogTrace, "PLV5_Uninit() called");
  CPatchMain::Instance().Uninit();
  LogWrite(kLogTrace, "PV5::PLV5_Uninit() finished");
}

PatchStatus* PLV5_LockStatus() { return CPatchMain::Instance().LockStatus(); }

void PLV5_UnlockStatus() { CPatchMain::Instance().UnlockStatus(); }

bool PLV5_DownloadFile(const std::string& url, const std::string& file) {
  return GetFileFromServerV5(url, file, 0, TransferProgress()) == kFetchOk;
}
