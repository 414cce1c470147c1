// CPatchMain: the one patch engine of the process.
//
// The launcher drives it through the PLV5_ entry functions on its own
// thread. Once started, the engine thread (the CWorker part) handles one
// engine event per pass (the CMsgProc part), pumps the download manager,
// and reports to the launcher only by posting the progress and error
// messages to the owner window and by publishing a PatchStatus copy under
// the status lock. The live status belongs to the engine thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/downloader.h"
#include "engine/patch_types.h"
#include "workers/msg_proc.h"
#include "workers/task.h"
#include "workers/task_worker.h"
#include "workers/worker.h"

// Engine event types handled by the engine itself (the rest belong to the
// patch driver).
constexpr uint32_t kEventError = 0;
constexpr uint32_t kEventSelfUpdateProgress = 2;
constexpr uint32_t kEventVersionStep = 3;
constexpr uint32_t kEventSelfUpdateStart = 4;
constexpr uint32_t kEventDownloadComplete = 8;  // 8..12 follow the download statuses 0..4

// Error code of the error message when the downloader pump fails.
constexpr uint32_t kErrorDownloadFailed = 3;

// Progress counters of the version being worked on, as the total percent
// needs them.
struct CurrentPatchList {
  uint32_t downloadedSections = 0;  // cabinets downloaded and verified
  uint32_t extractedFiles = 0;      // extracted-file events
  uint32_t patchedSections = 0;     // sections patched
};

class CPatchMain : public CWorker, public CMsgProc, public NotifierDownloadStatus {
 public:
  static CPatchMain& Instance();

  ~CPatchMain() override;

  // First steps of initialisation: the version log line, owner window and
  // messages, working folder and flags, the backup folder names.
  uint32_t Init(const PatchStartParams& params, PatchStartResults* results);
  uint32_t StartPatch();
  uint32_t StartSelfUpdate();
  // The stop sequence: engine thread, task workers, download manager.
  void Uninit();

  PatchStatus* LockStatus();
  void UnlockStatus();

  void Run() override;
  void OnMessage(const EngineEvent& event) override;
  void OnDownloadStatus(uint32_t status, uint32_t requestNumber) override;

  void ReportError(uint32_t code);
  void SetState(uint32_t state);
  void PublishProgress(uint32_t kind);
  bool IsValidVersion(uint32_t version) const;
  // Places the task on the task worker with the most queued tasks (the
  // first on a tie); destroys it and returns false when there is none.
  bool PostTask(std::unique_ptr<CTask> task);
  // Creates and starts the one task worker of the engine (false on failure,
  // logged).
  bool CreateTaskWorker();

  // Progress of a self-update transfer, posted as an event of type 2.
  static void SelfUpdateProgress(int32_t done, int32_t total);

  float ComputeTotalPercent() const;

  // Accessors for the parts of the engine that build on this object.
  PatchStatus& LiveStatus() { return m_liveStatus; }
  CurrentPatchList& PatchList() { return m_CurrentPatchList; }
  const std::string& WorkingFolder() const { return m_workingFolder; }
  const std::string& DownloadFolder() const { return m_downloadFolder; }
  const std::string& TempFolder() const { return m_tempFolder; }
  const std::string& OutputFolder() const { return m_outputFolder; }
  uint32_t Flags() const { return m_flags; }
  bool Stopping() const { return m_stop.load(); }
  size_t TaskWorkerCount() const { return m_taskWorkers.size(); }
  CTaskWorker* TaskWorkerAt(size_t i) { return m_taskWorkers[i].get(); }

  // Version numbers, as the manifest and "version.dat" give them.
  struct Versions {
    uint32_t latest = 0;
    uint32_t minimal = 0;
    uint32_t preDownStart = 0;
    uint32_t preDownEnd = 0;
    uint32_t local = 0;
    uint32_t serverPatcher = 0;
    uint32_t current = 0;
    uint32_t lastCompleted = 0;
    uint32_t toGo = 0;
  };
  Versions& VersionInfo() { return m_versions; }

  // Test seams: a worker list and a downloader without a manifest.
  void AddTaskWorkerForTesting(std::unique_ptr<CTaskWorker> worker);
  void SetDownloaderForTesting(std::unique_ptr<CDownloader> downloader);
  void ResetForTesting();

 private:
  CPatchMain();
  uint32_t StartEngine(uint32_t firstEventType, uint32_t firstSection);
  void PostToOwner(uint32_t message, uint32_t wParam);
  // Stops every thread; quiet when logging must not be used (process exit).
  void StopAll();

  plat::WindowHandle m_ownerWindow = nullptr;
  uint32_t m_progressMessage = 0;
  uint32_t m_errorMessage = 0;
  std::string m_workingFolder;
  std::string m_downloadFolder;
  std::string m_tempFolder;
  std::string m_outputFolder;
  Versions m_versions;
  uint32_t m_flags = 0;
  std::vector<std::string> m_downloadUrls;

  PatchStatus m_liveStatus{};
  PatchStatus m_publishedStatus{};
  std::mutex m_statusLock;

  CurrentPatchList m_CurrentPatchList;
  std::vector<std::unique_ptr<CTaskWorker>> m_taskWorkers;

  uint32_t m_stepStartTick = 0;
  uint32_t m_accumulatedTime = 0;
  std::atomic<bool> m_stop{false};
  uint32_t m_wrongCrcRetries = 0;
  std::unique_ptr<CDownloader> m_downloader;
  uint32_t m_downloaderType = 0;
  uint32_t m_runStartTick = 0;
};
