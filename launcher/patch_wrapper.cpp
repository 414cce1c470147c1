#include "launcher/patch_wrapper.h"

#include <cstdio>

#include "engine/patch_entry.h"
#include "engine/patcher_version.h"
#include "launcher/startup.h"
#include "platform/named_event.h"
#include "platform/process_launch.h"
#include "platform/process_paths.h"

namespace {

// PLV5_Init results that let the launcher go on; 7 means nothing to patch.
constexpr uint32_t kInitPatchNeeded = 0;
constexpr uint32_t kInitNothingToDo = 7;
// The launcher's text when the engine cannot start its run: the same words
// as an engine that could not start its workers at initialisation.
constexpr uint32_t kLauncherEngineStartFailed = 11;

// Copies text into an engine field; false when it does not fit whole.
bool CopyField(char (&field)[kEngineTextSize], const std::string& text) {
  if (text.size() >= kEngineTextSize) return false;
  snprintf(field, kEngineTextSize, "%s", text.c_str());
  return true;
}

}  // namespace

EngineEntries RealEngineEntries() {
  EngineEntries entries;
  entries.init = PLV5_Init;
  entries.startPatch = PLV5_StartPatch;
  entries.startSelfUpdate = PLV5_StartSelfUpdate;
  entries.uninit = PLV5_Uninit;
  entries.lockStatus = PLV5_LockStatus;
  entries.unlockStatus = PLV5_UnlockStatus;
  entries.downloadFile = PLV5_DownloadFile;
  return entries;
}

CPatchWrapper::CPatchWrapper(EngineEntries engine)
    : engine_(std::move(engine)), maintenanceDeadlineMs_(MaintenanceDeadlineMs()) {}

CPatchWrapper::~CPatchWrapper() { StopEngine(); }

void CPatchWrapper::StopEngine() {
  if (initialized_ && !engineStopped_) engine_.uninit();
  engineStopped_ = true;
}

uint32_t CPatchWrapper::Initialize(plat::WindowHandle ownerWindow) {
  ownerWindow_ = ownerWindow;
  if (plat::NamedEvent::Create(kSingleInstanceEventName, &singleInstance_) == plat::NamedEvent::Result::kExists) {
    OnFatalError(kLauncherAlreadyRunning);
    return 0;
  }
  commandLineParameters_ = JoinCommandLine(plat::ProcessArguments());

  if (!skipMaintenanceCheck_) {
    const std::string url = maintenanceUrl_.empty() ? ReadMaintenanceUrl() : maintenanceUrl_;
    const std::string notice = CheckMaintenance(url, engine_.downloadFile, maintenanceDeadlineMs_);
    if (!notice.empty()) {
      ShowMessage(notice);
      CloseWindow(kCloseFailed);
      return 0;
    }
  }
  if (versionUrl_.empty() && !ReadVersionUrl(&versionUrl_)) {
    OnFatalError(kLauncherNoVersionUrl);
    return 0;
  }

  startParams_ = PatchStartParams{};
  startParams_.ownerWindow = ownerWindow_;
  startParams_.progressMessage = kProgressMessage;
  startParams_.errorMessage = kErrorMessage;
  startParams_.flags = EngineFlagsFor(commandLineParameters_);
  startParams_.downloaderType = 0;
  startParams_.keepOldManifest = 0;
  CopyField(startParams_.versionSection, "VERSION");
  CopyField(startParams_.downloadSection, "DOWNLOAD");
  if (!CopyField(startParams_.manifestUrl, versionUrl_)) {
    OnFatalError(kLauncherNoVersionUrl);
    return 0;
  }
  // A folder the engine cannot address whole has no readable version.dat.
  const std::string folder = plat::CurrentFolder();
  if (folder.empty() || !CopyField(startParams_.workingFolder, folder)) {
    OnFatalError(4);
    return 0;
  }

  startResults_ = PatchStartResults{};
  return EvaluateInitResult(engine_.init(startParams_, &startResults_)) ? 1 : 0;
}

bool CPatchWrapper::EvaluateInitResult(uint32_t result) {
  if (result == kInitPatchNeeded || result == kInitNothingToDo) {
    initialized_ = true;
    patchNeeded_ = result != kInitNothingToDo;
    selfUpdateNeeded_ = startResults_.preDownStartVersion > kPatcherVersion;
    return true;
  }
  initialized_ = false;
  engine_.uninit();
  OnFatalError(result);
  return false;
}

uint32_t CPatchWrapper::RequestSelfUpdate(const std::string& arguments) {
  if (!initialized_) return 0;
  selfUpdateArguments_ = arguments.empty() ? commandLineParameters_ : arguments;
  // An engine that did not start would never post a message, and the
  // launcher would wait for ever.
  if (selfUpdateNeeded_ && engine_.startSelfUpdate() == 0) {
    StopEngine();
    OnFatalError(kLauncherEngineStartFailed);
    return 0;
  }
  return 1;
}

uint32_t CPatchWrapper::RequestPatch(const std::string& arguments) {
  if (!initialized_ || selfUpdateNeeded_) return 0;
  patchArguments_ = arguments.empty() ? commandLineParameters_ : arguments;
  plat::SetWindowTimer(ownerWindow_, kRequestPatchTimer, kWrapperTimerMs);
  return 1;
}

uint32_t CPatchWrapper::HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == plat::kTimerMessage && wParam == kStartPatchTimer) {
    OnStartPatchTimer();
    return 1;
  }
  if (message == plat::kTimerMessage && wParam == kRequestPatchTimer) return OnRequestPatchTimer();
  if (message == kProgressMessage) return OnProgressMessage(static_cast<uint32_t>(wParam), lParam);
  if (message == kErrorMessage) {
    // Messages the engine posted before it was stopped are stale.
    if (engineStopped_) return 1;
    StopEngine();
    OnEngineError(static_cast<uint32_t>(wParam));
    CloseWindow(kCloseFailed);
    return 1;
  }
  return 0;
}

void CPatchWrapper::OnStartPatchTimer() {
  // Another program holds the run back while its event exists.
  if (plat::NamedEventExists(kWaitEventName)) return;
  plat::KillWindowTimer(ownerWindow_, kStartPatchTimer);
  if (engineStopped_) return;
  if (engine_.startPatch() == 0) {
    StopEngine();
    OnFatalError(kLauncherEngineStartFailed);
  }
}

uint32_t CPatchWrapper::OnRequestPatchTimer() {
  plat::KillWindowTimer(ownerWindow_, kRequestPatchTimer);
  if (!initialized_ || selfUpdateNeeded_ || engineStopped_) return 0;
  if (patchNeeded_) {
    plat::SetWindowTimer(ownerWindow_, kStartPatchTimer, kWrapperTimerMs);
  } else {
    StopEngine();
    OnReady();
  }
  return 1;
}

uint32_t CPatchWrapper::OnProgressMessage(uint32_t kind, intptr_t value) {
  // The engine is stopped once state 2 or 10 was acted on; a message it
  // posted before must not start the game or the self-updater again.
  if (engineStopped_) return 1;
  PatchStatus* status = engine_.lockStatus();
  if (!status) return 0;
  if (kind == 19) lastRunState_ = status->state;
  OnProgress(*status, kind, value);
  engine_.unlockStatus();

  if (lastRunState_ == kStateSelfUpdated) {
    StopEngine();
    if (LaunchSelfUpdater() == 0) OnFatalError(kLauncherSelfUpdateFailed);
    CloseWindow(kCloseSelfUpdate);
  } else if (lastRunState_ == kStateFinished) {
    StopEngine();
    OnReady();
  }
  return 1;
}

void CPatchWrapper::OnReady() {
  if (LaunchGame() == 0) {
    StopEngine();
    OnFatalError(kLauncherGameFailed);
  }
  CloseWindow(kCloseReady);
}

std::string CPatchWrapper::GetLaunchArguments() { return patchArguments_; }

std::string CPatchWrapper::GetSelfUpdateArguments() { return selfUpdateArguments_; }

uint32_t CPatchWrapper::LaunchGame() { return Launch(kGameExecutable, GetLaunchArguments()); }

uint32_t CPatchWrapper::LaunchSelfUpdater() { return Launch(kSelfUpdaterExecutable, GetLaunchArguments()); }

uint32_t CPatchWrapper::Launch(const std::string& exeName, const std::string& arguments) {
  return LaunchExecutable(exeName, arguments, ownerWindow_, [this](const std::string& text) { ShowLaunchError(text); });
}
