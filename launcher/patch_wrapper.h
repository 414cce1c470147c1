// CPatchWrapper: the launcher's bridge to the patch engine, and the place
// where every decision of the launcher is taken (start the self-updater,
// report an error, declare the client ready). It never draws: a front-end
// derives from it and implements the virtual operations (the Windows main
// window with message boxes and controls, the console launcher with
// terminal output).
//
// Threads: everything here runs on the owner window's thread. The engine
// talks back only by posting messages 2024 (progress) and 2025 (error) to
// the owner handle; the front-end passes every message it receives to
// HandleWindowMessage after its own handling. On Windows the owner is the
// main window's HWND; elsewhere it is a plat::MessageLoop handle, whose
// loop the front-end runs. Timers 1000 and 1001 are set on the same handle.
//
// Order of calls by a front-end, once it can show messages:
//   Initialize(owner); then RequestSelfUpdate(""); then, only if that
//   returned non-zero, RequestPatch("parameter").
// The wrapper then ends in exactly one of: CloseWindow (after an error, a
// maintenance notice or the self-updater's start), or OnReady.
//
// Text is UTF-8 (converted at the platform boundary on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/patch_types.h"
#include "platform/message_sink.h"

namespace plat {
class NamedEvent;
}

constexpr uint32_t kProgressMessage = 2024;  // wParam: progress kind 1..19
constexpr uint32_t kErrorMessage = 2025;     // wParam: engine error code
// Timer 1001 decides after RequestPatch; timer 1000 then waits for the wait
// event to disappear before the patch run starts.
constexpr uintptr_t kStartPatchTimer = 1000;
constexpr uintptr_t kRequestPatchTimer = 1001;
constexpr uint32_t kWrapperTimerMs = 500;
// While an event of this name exists (made by another program), the patch
// run does not start. Outside Windows it is a held lock, see
// platform/named_event.h.
inline constexpr char kWaitEventName[] = "C6AB02DE-D4BE-41ed-B239-B3EADA4FED42";
inline constexpr char kGameExecutable[] = "halvrecht.exe";
inline constexpr char kSelfUpdaterExecutable[] = "selfupdate_hv.exe";
// The game's arguments when the player presses play.
inline constexpr char kGameArguments[] = "-a FF";
// The argument string the front-ends pass to RequestPatch.
inline constexpr char kPatchRequestArguments[] = "parameter";

// Results of CloseWindow.
constexpr int kCloseSelfUpdate = 0;
constexpr int kCloseReady = 1;
constexpr int kCloseFailed = 2;

// The engine entry functions the wrapper calls. RealEngineEntries() gives
// the PLV5_ functions; tests put in their own to drive every result.
struct EngineEntries {
  std::function<uint32_t(PatchStartParams, PatchStartResults*)> init;
  std::function<uint32_t()> startPatch;
  std::function<uint32_t()> startSelfUpdate;
  std::function<void()> uninit;
  std::function<PatchStatus*()> lockStatus;  // null: no record published
  std::function<void()> unlockStatus;
  std::function<bool(const std::string& url, const std::string& file)> downloadFile;
};
EngineEntries RealEngineEntries();

class CPatchWrapper {
 public:
  explicit CPatchWrapper(EngineEntries engine = RealEngineEntries());
  virtual ~CPatchWrapper();  // slot 0; releases the single-instance event

  CPatchWrapper(const CPatchWrapper&) = delete;
  CPatchWrapper& operator=(const CPatchWrapper&) = delete;

  // slot 1: show LauncherErrorText(code), then CloseWindow(2).
  virtual void OnFatalError(uint32_t code) = 0;
  // slot 2: show EngineErrorText(code) when it is not empty. The wrapper
  // calls CloseWindow(2) itself afterwards.
  virtual void OnEngineError(uint32_t code) = 0;
  // slot 3: a progress event; `status` is valid only during the call.
  virtual void OnProgress(const PatchStatus& status, uint32_t kind, intptr_t value) = 0;
  // slot 4: a notice (the maintenance text), captioned with the title.
  virtual void ShowMessage(const std::string& text) = 0;
  // slot 5: end the front-end with kCloseSelfUpdate, kCloseReady or kCloseFailed.
  virtual void CloseWindow(int result) = 0;
  // slot 6: the client is current and the engine stopped. Base: launches
  // the game with GetLaunchArguments(); on failure OnFatalError(9); then
  // CloseWindow(1).
  virtual void OnReady();
  // slot 7: base returns the patch arguments.
  virtual std::string GetLaunchArguments();
  // slot 8: base returns the self-update arguments.
  virtual std::string GetSelfUpdateArguments();
  // slot 9: a failed program start, with the "[LastError : 0x%x ] %s"
  // text, for a box captioned kLaunchErrorCaption.
  virtual void ShowLaunchError(const std::string& text) = 0;

  // The start-up steps (single instance, command line, maintenance notice,
  // version URL, flags, working folder), then PLV5_Init. Non-zero when the
  // engine is ready; 0 after OnFatalError, or after a maintenance notice
  // was shown and CloseWindow(2) called.
  uint32_t Initialize(plat::WindowHandle ownerWindow);
  // 0 when not initialised. Starts the self-update when the servers
  // announce a newer patcher; 1 otherwise.
  uint32_t RequestSelfUpdate(const std::string& arguments);
  // 0 when not initialised or a self-update is needed; else sets timer
  // 1001 and returns 1.
  uint32_t RequestPatch(const std::string& arguments);
  // 1 when the message was the wrapper's (its timers, 2024, 2025).
  uint32_t HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // Start "halvrecht.exe" / "selfupdate_hv.exe" from the working folder
  // with GetLaunchArguments(); 1 on success, 0 on failure.
  uint32_t LaunchGame();
  uint32_t LaunchSelfUpdater();
  // The launch routine with this wrapper's owner and ShowLaunchError; the
  // window's play button uses it with kGameExecutable and kGameArguments.
  uint32_t Launch(const std::string& exeName, const std::string& arguments);

  // Settings a front-end may give before Initialize.
  void SetMaintenanceUrl(const std::string& url) { maintenanceUrl_ = url; }
  void SetSkipMaintenanceCheck(bool skip) { skipMaintenanceCheck_ = skip; }
  // A version URL given here is used instead of the settings file's.
  void SetVersionUrl(const std::string& url) { versionUrl_ = url; }
  // How long the maintenance download may take (MaintenanceDeadlineMs()
  // unless set).
  void SetMaintenanceDeadlineMs(uint32_t ms) { maintenanceDeadlineMs_ = ms; }

  // PLV5_Uninit, once, if the engine was initialised and not yet stopped:
  // what a front-end calls when the player cancels. The destructor does it
  // too.
  void StopEngine();

  // State, for front-ends and tests.
  bool Initialized() const { return initialized_; }
  bool PatchNeeded() const { return patchNeeded_; }
  bool SelfUpdateNeeded() const { return selfUpdateNeeded_; }
  uint32_t LastRunState() const { return lastRunState_; }
  const std::string& CommandLineParameters() const { return commandLineParameters_; }
  const PatchStartParams& StartParams() const { return startParams_; }
  const PatchStartResults& StartResults() const { return startResults_; }
  plat::WindowHandle OwnerWindow() const { return ownerWindow_; }

 protected:
  EngineEntries& Engine() { return engine_; }

 private:
  // The init result's evaluation; false after OnFatalError.
  bool EvaluateInitResult(uint32_t result);
  void OnStartPatchTimer();
  uint32_t OnRequestPatchTimer();
  uint32_t OnProgressMessage(uint32_t kind, intptr_t value);

  EngineEntries engine_;
  std::unique_ptr<plat::NamedEvent> singleInstance_;
  plat::WindowHandle ownerWindow_ = nullptr;
  uint32_t lastRunState_ = 0;
  std::string commandLineParameters_;
  std::string patchArguments_;
  std::string selfUpdateArguments_;
  std::string maintenanceUrl_;
  std::string versionUrl_;
  PatchStartParams startParams_{};
  PatchStartResults startResults_{};
  bool initialized_ = false;
  bool patchNeeded_ = true;
  bool selfUpdateNeeded_ = false;
  bool skipMaintenanceCheck_ = false;
  uint32_t maintenanceDeadlineMs_;
  // The engine stopped for good: later messages of the same run change nothing.
  bool engineStopped_ = false;
};
