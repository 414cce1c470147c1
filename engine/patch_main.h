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
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "apply/task_host.h"
#include "download/downloader.h"
#include "engine/file_crc_cache.h"
#include "engine/patch_list.h"
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
constexpr uint32_t kEventSelfUpdateDone = 1;
constexpr uint32_t kEventVerify = 5;
constexpr uint32_t kEventFinish = 6;
constexpr uint32_t kEventCabinetReady = 7;
constexpr uint32_t kEventDownloadComplete = 8;  // 8..12 follow the download statuses 0..4
constexpr uint32_t kEventDownloadFailed = 9;
constexpr uint32_t kEventConnectionLost = 10;
constexpr uint32_t kEventDiskFull = 11;
constexpr uint32_t kEventDownloadProgress = 12;
constexpr uint32_t kEventPreDownloadStep = 18;
constexpr uint32_t kEventPreDownloadDone = 19;

// Error code of the error message when the downloader pump fails.
constexpr uint32_t kErrorDownloadFailed = 3;

class CPatchMain : public CWorker, public CMsgProc, public NotifierDownloadStatus, public TaskHost {
 public:
  static CPatchMain& Instance();

  ~CPatchMain() override;

  // Reads the manifest and the local version and prepares the task worker
  // and the download manager; 0 when a patch run can start (other codes:
  // 3, 4, 5, 6, 7, 11).
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

  float ComputeTotalPercent() const;

  // Accessors for the parts of the engine that build on this object.
  PatchStatus& LiveStatus() { return m_liveStatus; }
  PatchList& CurrentList() { return m_CurrentPatchList; }
  const ExpectedCrcMap& ExpectedCrcs() const { return m_expectedCrcs; }
  const std::vector<std::string>& DownloadUrls() const { return m_downloadUrls; }
  CDownloader* Downloader() { return m_downloader.get(); }
  // The settings part that every task gets a copy of.
  EngineSettings Settings() const;

  // TaskHost
  bool Stopping() const override { return m_stop.load(); }
  void PostTaskEvent(const EngineEvent& event) override { PostEngineEventRecord(event); }
  using TaskHost::PostTaskEvent;

  // The patch list of a version: fetched, read, deleted, and the section
  // plan built. 0 or the list's error code (2, 9, 10, 21).
  uint32_t LoadPatchList(uint32_t version);
  // Asks the download manager for one section's cabinet, or queues event 7
  // at once when the cabinet is already in place. 0 or 3.
  uint32_t RequestDownloadSection(uint32_t version, const SectionPlanEntry& entry);
  // The download pump: requests plan entries from the cursor on until one
  // download is in flight or the plan is done. 0 or a request's error.
  uint32_t RequestPendingDownloads();
  // Every file the run's patch lists named against the CRC the last list
  // gave it: 0, 20 at the first mismatch, 2 when stopped.
  uint32_t CheckSumCheck();
  // The verification's walk over the expected CRCs, with its progress (10,
  // 11 per file, 12): `visit` gets the lower-cased name, the CRC the file
  // must have, its path and the CRC it has, and ends the walk by returning
  // false. 2 when the stop flag ended it, else 0.
  using ExpectedFileVisitor = std::function<bool(const std::string& name, const std::string& crc,
                                                 const std::string& path, const std::string& actual)>;
  uint32_t VisitExpectedFiles(const ExpectedFileVisitor& visit);
  // Adds to the expected CRCs the lists of the versions above the
  // verification base that this run did not read (a finish left by an
  // earlier run, a repair): 0, or the list's error (2, 9, 10, 21).
  uint32_t ReadEarlierLists();
  // Puts back every file whose CRC differs, from the normal cabinet of the
  // newest version whose list names it (only the files needed are
  // extracted), then checks again: 0, 20 when a file could not be healed,
  // 2 when stopped.
  uint32_t HealClient();
  // Fetches "delete.ini" and deletes the obsolete files it names, never the
  // engine's version records nor the launcher's own files. True when the
  // list was applied or the servers have none (they answer 404); false when
  // it could not be had or is no deletion list, so it is still to do.
  bool ProcessDeleteList();
  const std::string& WorkingFolder() const { return m_workingFolder; }
  const std::string& DownloadFolder() const { return m_downloadFolder; }
  const std::string& TempFolder() const { return m_tempFolder; }
  const std::string& OutputFolder() const { return m_outputFolder; }
  uint32_t Flags() const { return m_flags; }
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
  // Below zero: CRCs of files written a moment ago are kept too.
  void SetCrcStampStepForTesting(int64_t stepNs) { m_crcCache.SetStampStepForTesting(stepNs); }
  uint64_t CrcReadsForTesting() const { return m_crcCache.ReadsForTesting(); }
  ExpectedCrcMap& ExpectedCrcsForTesting() { return m_expectedCrcs; }
  void SetDownloadUrlsForTesting(const std::vector<std::string>& urls) { m_downloadUrls = urls; }
  void SetFlagsForTesting(uint32_t flags) { m_flags = flags; }
  void SetVersionsForTesting(const Versions& versions, uint32_t verifyBase) {
    m_versions = versions;
    m_verifyBase = verifyBase;
  }

 private:
  CPatchMain();
  bool CreateRunFolders();
  uint32_t StartEngine(uint32_t firstEventType, uint32_t firstSection);
  void PostToOwner(uint32_t message, uint32_t wParam);
  // The driver's handlers, one per event type.
  void OnVersionStep(uint32_t next);
  void BeginVersion();
  void OnCabinetReady(uint32_t section);
  void OnDownloadDone(uint32_t requestNumber);
  void OnDownloadFailed(uint32_t requestNumber);
  void OnDownloadProgress(uint32_t requestNumber);
  void OnExtractProgress(const EngineEvent& event);
  void OnExtractDone(const EngineEvent& event);
  void OnPatchProgress(const EngineEvent& event);
  void OnSectionPatched(uint32_t section);
  void CommitVersion();
  void OnVerify();
  void OnFinish();
  void OnSelfUpdateStart();
  void OnSelfUpdateProgress(uint32_t percent);
  void OnSelfUpdateDone();
  void OnPreDownloadStep(uint32_t version);
  void OnPreDownloadDone();
  // Removes the request from the in-flight table; false when unknown.
  bool TakeInFlight(uint32_t requestNumber, uint32_t* section);
  SectionPlanEntry* FindPlanEntry(uint32_t section);
  const std::string& ExpectedCabCrc(uint32_t section, bool isDiff) const;
  void ResetVersionState();
  // Fetches a version's "version.list" into its folder under the download
  // folder: 0, or 9 (logged) when no server gave it.
  uint32_t FetchPatchList(uint32_t version, std::string* localPath);
  // Remembers where a list ships its files and its normal cabinets' CRCs,
  // for healing; a newer list's word stands unless `newest`.
  void NoteListedFiles(uint32_t version, const PatchList& list, bool newest);
  struct HealedFile {
    std::string name;  // as the list spells it
    std::string crc;   // what it must have
  };
  // Heals the files of one section from the version's normal cabinet.
  bool HealSection(uint32_t version, uint32_t section, const std::vector<HealedFile>& files);
  void PublishStatusPart(uint32_t kind);
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

  PatchList m_CurrentPatchList;
  ExpectedCrcMap m_expectedCrcs;
  // The list loads and the verification read client files through it.
  CFileCrcCache m_crcCache;
  // Where the newest list that names a file ships it, by lower-cased name.
  struct ShippedFile {
    std::string name;  // as the list spells it
    uint32_t version;
    uint32_t section;
  };
  std::map<std::string, ShippedFile> m_shippedIn;
  std::map<uint32_t, std::vector<std::string>> m_normalCabCrcs;  // by version, index = section - 1
  // The files of the lists above this version are verified at the end of
  // the run: the local version, or lower for a pending finish or a repair,
  // never below the minimal version.
  uint32_t m_verifyBase = 0;
  // The most recent section request and how often it was made in a row.
  bool m_hasLastRequest = false;
  SectionPlanEntry m_lastRequest{0, 0};
  uint32_t m_requestAttempts = 0;
  std::string m_manifestPath;
  std::vector<std::unique_ptr<CTaskWorker>> m_taskWorkers;

  uint32_t m_stepStartTick = 0;
  uint32_t m_accumulatedTime = 0;
  std::atomic<bool> m_stop{false};
  uint32_t m_wrongCrcRetries = 0;
  std::unique_ptr<CDownloader> m_downloader;
  uint32_t m_downloaderType = 0;
  uint32_t m_runStartTick = 0;
};
