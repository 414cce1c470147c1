#include "engine/patch_main.h"

#include <cstring>

#include "download/fetch_result.h"
#include "engine/folders.h"
#include "engine/patch_log.h"
#include "engine/version_file.h"
#include "platform/clock.h"

namespace {

// The status parts that a progress kind refreshes in the published copy.
void CopySummary(PatchStatus& to, const PatchStatus& from) {
  to.state = from.state;
  memcpy(to.stepText, from.stepText, sizeof to.stepText);
  to.totalPercent = from.totalPercent;
  to.version = from.version;
  to.sectionCount = from.sectionCount;
  to.sectionsDownloaded = from.sectionsDownloaded;
}

void CopyTask(PatchStatus& to, const PatchStatus& from) {
  memcpy(to.taskText, from.taskText, sizeof to.taskText);
  to.taskPercent = from.taskPercent;
}

void CopyDownload(PatchStatus& to, const PatchStatus& from) {
  memcpy(to.downloadFile, from.downloadFile, sizeof to.downloadFile);
  to.downloadPercent = from.downloadPercent;
  to.downloadTotalSize = from.downloadTotalSize;
  to.downloadSpeed = from.downloadSpeed;
  to.downloadReserved[0] = from.downloadReserved[0];
  to.downloadReserved[1] = from.downloadReserved[1];
  to.downloadElapsed = from.downloadElapsed;
}

void CopyExtract(PatchStatus& to, const PatchStatus& from) {
  memcpy(to.extractFile, from.extractFile, sizeof to.extractFile);
  to.extractPercent = from.extractPercent;
}

void CopyPatch(PatchStatus& to, const PatchStatus& from) {
  memcpy(to.patchFile, from.patchFile, sizeof to.patchFile);
  to.patchPercent = from.patchPercent;
}

}  // namespace

CPatchMain& CPatchMain::Instance() {
  static CPatchMain engine;
  return engine;
}

CPatchMain::CPatchMain() = default;

CPatchMain::~CPatchMain() {
  // At process exit the log may already be gone: stop quietly.
  m_stop.store(true);
  StopAll();
}

bool CPatchMain::CreateRunFolders() {
  for (const std::string* folder : {&m_downloadFolder, &m_tempFolder, &m_outputFolder}) {
    if (!RecCreateDirectory(*folder)) {
      LogWrite(kLogError, "Failed to RecCreateDirectory : Path [%s]", folder->c_str());
      return false;
    }
  }
  return true;
}

uint32_t CPatchMain::StartEngine(uint32_t firstEventType, uint32_t firstSection) {
  // Cleared before the thread starts: a stop flag left by an earlier
  // session would end the new thread's loop before its first pass.
  m_stop.store(false);
  {
    // The launcher must not read the end state of an earlier run of this
    // process as the state of this one.
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_publishedStatus = m_liveStatus;
  }
  // Set before the thread exists: its first step may already end and read it.
  m_stepStartTick = plat::TickCount();
  if (!StartThread(nullptr, 0)) return 0;
  PostEngineEvent(firstEventType, firstSection, 0);
  return 1;
}

uint32_t CPatchMain::StartPatch() {
  m_runStartTick = plat::TickCount();
  // A process may run the engine more than once; nothing of an earlier run
  // may leak into this one.
  m_expectedCrcs.clear();
  m_shippedIn.clear();
  m_normalCabCrcs.clear();
  m_crcCache.Clear();
  ResetVersionState();
  if (!CreateRunFolders()) return 0;
  // Before the run touches a client file: whatever happens to the process
  // from here on, the next start verifies and finishes what this run began.
  SetPendingFinish(m_downloadFolder, m_verifyBase);
  return StartEngine(kEventVersionStep, m_versions.local + 1);
}

uint32_t CPatchMain::StartSelfUpdate() { return CreateRunFolders() ? StartEngine(kEventSelfUpdateStart, 0) : 0; }

void CPatchMain::StopAll() {
  // First of all: the engine thread may itself be inside a fetch (the
  // client CRC list, the deletion list) and the task thread inside a
  // self-update fetch; each ends within a fraction of a second of this,
  // so neither join below waits for a server.
  SetTransferCancel();
  StopThread();
  for (auto& worker : m_taskWorkers) {
    worker->StopThread();
    worker->ClearTasks();
    worker.reset();
  }
  m_taskWorkers.clear();
  if (m_downloader) {
    m_downloader->Stop();
    m_downloader.reset();
  }
  // Every thread that could be fetching has ended: the next fetch of this
  // process, whoever makes it, must not find the stop still set.
  ClearTransferCancel();
}

void CPatchMain::Uninit() {
  m_stop.store(true);
  StopAll();
  // Whatever the engine thread had not handled yet is dropped unhandled.
  ClearEvents();
  const int32_t runTime = static_cast<int32_t>(plat::TickCount() - m_runStartTick);
  // "수행시간" (run time), in code page 949.
  LogWrite(kLogDetail, "\xBC\xF6\xC7\xE0\xBD\xC3\xB0\xA3:%s", FormatElapsedShare(runTime, runTime).c_str());
}

PatchStatus* CPatchMain::LockStatus() {
  m_statusLock.lock();
  return &m_publishedStatus;
}

void CPatchMain::UnlockStatus() { m_statusLock.unlock(); }

void CPatchMain::Run() {
  while (!m_stop.load() && IsRunning()) {
    // One event per pass with at most the 1 ms pause between passes; a
    // queued event ends the pause at once, so a run's many small steps do
    // not each wait out the pause.
    WaitForEvent(1);
    ProcessOneEvent();
    if (m_downloader && m_downloader->Update() < 0) {
      LogWrite(kLogError, "Failed to update downloader : LastErrorCode [%d]",
               static_cast<int32_t>(m_downloader->GetLastErrorCode()));
      LogWrite(kLogDetail, "Error [%d] occured", static_cast<int32_t>(kErrorDownloadFailed));
      PostToOwner(m_errorMessage, kErrorDownloadFailed);
    }
  }
}

void CPatchMain::OnDownloadStatus(uint32_t status, uint32_t requestNumber) {
  if (status <= kDownloadInProgress) PostEngineEvent(kEventDownloadComplete + status, requestNumber, 0);
}

void CPatchMain::ReportError(uint32_t code) { PostEngineEvent(kEventError, code, 0); }

void CPatchMain::PostToOwner(uint32_t message, uint32_t wParam) {
  plat::PostWindowMessage(m_ownerWindow, message, wParam, 0);
}

void CPatchMain::SetState(uint32_t state) {
  m_liveStatus.state = state;
  m_liveStatus.totalPercent = ComputeTotalPercent();
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    CopySummary(m_publishedStatus, m_liveStatus);
  }
  PostToOwner(m_progressMessage, 19);
}

void CPatchMain::PublishProgress(uint32_t kind) {
  m_liveStatus.totalPercent = ComputeTotalPercent();
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    // The total moves with every part, not only with the summary: a front-end
    // that shows it for an extract or patch event must not see a stale one.
    m_publishedStatus.totalPercent = m_liveStatus.totalPercent;
    if (kind >= 1 && kind <= 3) {
      CopyDownload(m_publishedStatus, m_liveStatus);
    } else if (kind >= 4 && kind <= 12) {
      CopyTask(m_publishedStatus, m_liveStatus);
    } else if (kind >= 13 && kind <= 15) {
      CopyPatch(m_publishedStatus, m_liveStatus);
    } else if (kind >= 16 && kind <= 18) {
      CopyExtract(m_publishedStatus, m_liveStatus);
    } else if (kind == 19) {
      CopySummary(m_publishedStatus, m_liveStatus);
    } else {
      return;
    }
  }
  PostToOwner(m_progressMessage, kind);
}

float CPatchMain::ComputeTotalPercent() const {
  const Versions& v = m_versions;
  if (v.toGo == 0 || v.minimal == v.latest || v.lastCompleted < v.minimal || v.lastCompleted > v.latest) return 0.0f;
  const uint32_t perVersion = 100u / v.toGo;
  const uint32_t done = v.lastCompleted - v.local;
  const float base = static_cast<float>(done * perVersion);
  // A committed version counts whole in the base; its section counters
  // would count it a second time (and push the total past 100).
  if (m_liveStatus.sectionCount == 0 || v.lastCompleted >= v.current) return base;

  const float perSection = static_cast<float>(perVersion) / 3.0f / static_cast<float>(m_liveStatus.sectionCount);
  // Finished sections count whole; the percent counts only for the section
  // under way. (Taking the percent as the last finished section's share
  // makes the total fall back by a section's share each time the next
  // section of a phase starts at 0 %.)
  auto phase = [perSection](uint32_t count, bool underWay, float percent) {
    return static_cast<float>(count) * perSection + (underWay ? percent * 0.01f * perSection : 0.0f);
  };
  const PatchList& list = m_CurrentPatchList;
  const float download = phase(list.downloadedSections, list.downloadUnderWay, m_liveStatus.downloadPercent);
  const float extract = phase(list.extractedFiles, list.extractUnderWay, m_liveStatus.extractPercent);
  const float patch = phase(list.patchedSections, list.patchUnderWay, m_liveStatus.patchPercent);
  return extract + download + patch + base;
}

bool CPatchMain::IsValidVersion(uint32_t version) const {
  return version <= m_versions.latest && version >= m_versions.local && version >= m_versions.minimal;
}

bool CPatchMain::PostTask(std::unique_ptr<CTask> task) {
  if (!task) {
    LogWrite(kLogError, "NULL Task");
    return false;
  }
  if (m_taskWorkers.empty()) {
    LogWrite(kLogError, "no workers in patchmain");
    return false;  // the task is destroyed here
  }
  CTaskWorker* chosen = m_taskWorkers.front().get();
  uint32_t largest = chosen->GetTaskCount();
  for (size_t i = 1; i < m_taskWorkers.size(); ++i) {
    const uint32_t count = m_taskWorkers[i]->GetTaskCount();
    if (count > largest) {
      largest = count;
      chosen = m_taskWorkers[i].get();
    }
  }
  chosen->AddTask(std::move(task));
  return true;
}

bool CPatchMain::CreateTaskWorker() {
  auto worker = std::make_unique<CTaskWorker>();
  if (!worker->StartThread(nullptr, 0)) {
    LogWrite(kLogError, "Failed to start to worker thread");
    return false;
  }
  m_taskWorkers.push_back(std::move(worker));
  return true;
}

void CPatchMain::AddTaskWorkerForTesting(std::unique_ptr<CTaskWorker> worker) {
  m_taskWorkers.push_back(std::move(worker));
}

void CPatchMain::SetDownloaderForTesting(std::unique_ptr<CDownloader> downloader) {
  m_downloader = std::move(downloader);
}

void CPatchMain::ResetForTesting() {
  m_stop.store(true);
  StopAll();
  ClearEvents();
  m_stop.store(false);
  m_versions = Versions{};
  m_CurrentPatchList = PatchList{};
  m_expectedCrcs.clear();
  m_shippedIn.clear();
  m_normalCabCrcs.clear();
  m_crcCache.Clear();
  m_crcCache.SetStampStepForTesting(CFileCrcCache::kStampStepNs);
  m_verifyBase = 0;
  m_hasLastRequest = false;
  m_requestAttempts = 0;
  m_wrongCrcRetries = 0;
  m_liveStatus = PatchStatus{};
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_publishedStatus = PatchStatus{};
  }
  m_ownerWindow = nullptr;
  m_downloadUrls.clear();
  m_flags = 0;
}
