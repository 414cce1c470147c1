// The patch driver: every step of a run arrives as one engine event and is
// handled to completion here, on the engine thread.
#include <cstdio>
#include <cstring>

#include "apply/task_extract.h"
#include "download/crc32.h"
#include "engine/client_check.h"
#include "engine/folders.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "engine/progress_records.h"
#include "engine/section_download.h"
#include "engine/self_update.h"
#include "engine/version_file.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace {


int32_t AsInt(uint32_t value) { return static_cast<int32_t>(value); }

}  // namespace

void CPatchMain::OnMessage(const EngineEvent& event) {
  if (m_stop.load()) return;
  switch (event.type) {
    case kEventError:
      LogWrite(kLogDetail, "Error [%d] occured", AsInt(event.sectionOrCode));
      PostToOwner(m_errorMessage, event.sectionOrCode);
      break;
    case kEventSelfUpdateDone: OnSelfUpdateDone(); break;
    case kEventSelfUpdateProgress: OnSelfUpdateProgress(event.value); break;
    case kEventVersionStep: OnVersionStep(event.sectionOrCode); break;
    case kEventSelfUpdateStart: OnSelfUpdateStart(); break;
    case kEventVerify: OnVerify(); break;
    case kEventFinish: OnFinish(); break;
    case kEventCabinetReady: OnCabinetReady(event.sectionOrCode); break;
    case kEventDownloadComplete: OnDownloadDone(event.sectionOrCode); break;
    case kEventDownloadFailed: OnDownloadFailed(event.sectionOrCode); break;
    case kEventConnectionLost: ReportError(4); break;
    case kEventDiskFull: ReportError(5); break;
    case kEventDownloadProgress: OnDownloadProgress(event.sectionOrCode); break;
    case kEventTypeExtractProgress: OnExtractProgress(event); break;
    case kEventTypeExtractDone: OnExtractDone(event); break;
    case kEventTypePatchProgress: OnPatchProgress(event); break;
    case kEventTypeSectionPatched: OnSectionPatched(event.sectionOrCode); break;
    case kEventPreDownloadStep: OnPreDownloadStep(event.sectionOrCode); break;
    case kEventPreDownloadDone: OnPreDownloadDone(); break;
    default: break;  // 15 and anything unknown
  }
}

void CPatchMain::ResetVersionState() {
  m_CurrentPatchList = PatchList{};
  m_wrongCrcRetries = 0;
  m_hasLastRequest = false;
  m_requestAttempts = 0;
}

void CPatchMain::OnVersionStep(uint32_t next) {
  Versions& v = m_versions;
  if (v.current == v.latest) {
    PostEngineEvent(kEventVerify, 0, 0);
    LogWrite(kLogDetail, "The Current version is latest version");
    return;
  }
  if (!IsValidVersion(v.current) || !IsValidVersion(next)) {
    LogWrite(kLogError, "Invalid version : current[%d], next[%d]", AsInt(v.current), AsInt(next));
    ReportError(22);
    return;
  }
  ResetVersionState();
  v.current = next;
  // The summary names the version from its first publication on, also
  // while its patch list is read.
  m_liveStatus.version = v.current;
  m_liveStatus.sectionCount = 0;
  m_liveStatus.sectionsDownloaded = 0;
  snprintf(m_liveStatus.stepText, sizeof m_liveStatus.stepText, "%d/%d", AsInt(v.current - v.local), AsInt(v.toGo));
  const uint32_t result = LoadPatchList(next);
  if (result != 0) {
    ReportError(result);
    return;
  }
  if (m_CurrentPatchList.dwSectionNum == 0) {
    v.lastCompleted = v.current;
    PostEngineEvent(kEventVersionStep, next + 1, 0);
    return;
  }
  BeginVersion();
}

void CPatchMain::BeginVersion() {
  // The counters first: the state change publishes the whole summary.
  m_liveStatus.sectionCount = static_cast<uint16_t>(m_CurrentPatchList.dwSectionNum);
  m_liveStatus.sectionsDownloaded = static_cast<uint16_t>(m_CurrentPatchList.downloadedSections);
  SetState(kStateDownloading);
  if (m_CurrentPatchList.plan.empty() && m_versions.latest < m_versions.current) {
    PostEngineEvent(kEventPreDownloadDone, m_versions.current, 0);
    return;
  }
  if (m_CurrentPatchList.plan.empty()) {
    // Every section was patched by an earlier run that ended before the
    // commit: commit now instead of failing the run for ever.
    CommitVersion();
    return;
  }
  const uint32_t result = RequestPendingDownloads();
  if (result != 0) ReportError(result);
}

SectionPlanEntry* CPatchMain::FindPlanEntry(uint32_t section) {
  for (SectionPlanEntry& entry : m_CurrentPatchList.plan) {
    if (entry.section == section) return &entry;
  }
  return nullptr;
}

bool CPatchMain::TakeInFlight(uint32_t requestNumber, uint32_t* section) {
  std::vector<InFlightDownload>& table = m_CurrentPatchList.inFlight;
  for (auto it = table.begin(); it != table.end(); ++it) {
    if (it->requestNumber == requestNumber) {
      *section = it->section;
      table.erase(it);
      return true;
    }
  }
  return false;
}

void CPatchMain::OnCabinetReady(uint32_t section) {
  PatchList& list = m_CurrentPatchList;
  const Versions& v = m_versions;
  ++list.downloadedSections;
  list.downloadUnderWay = false;
  LogWrite(kLogDetail, "Downloaded Success Section Cab File : ver [%d], section [%d]", AsInt(v.current), AsInt(section));
  m_liveStatus.sectionsDownloaded = static_cast<uint16_t>(list.downloadedSections);
  PublishProgress(19);
  m_liveStatus.downloadPercent = 100.0f;
  PublishProgress(3);

  if (v.latest < v.current) {
    // A download-only version: the cabinet is kept for a later run.
    if (section >= 1 && section <= list.sectionProgress.size()) list.sectionProgress[section - 1] = 1;
    bool all = true;
    for (uint32_t flag : list.sectionProgress) all = all && flag != 0;
    if (all) {
      PostEngineEvent(kEventPreDownloadDone, v.current, 0);
      return;
    }
  } else {
    SetState(kStateQueueingExtract);
    const SectionPlanEntry* entry = FindPlanEntry(section);
    const uint32_t isDiff = entry ? entry->IsDiff : 0;
    static const std::vector<PatchFileInfo> kNoFiles;
    const std::vector<PatchFileInfo>& files =
        section >= 1 && section <= list.sectionFiles.size() ? list.sectionFiles[section - 1] : kNoFiles;
    if (!PostTask(std::make_unique<CTaskExtract>(*this, Settings(), v.current, section, isDiff, files))) {
      LogWrite(kLogError, "Failed to create CTaskExtract task");
      ReportError(6);
      return;
    }
  }
  const uint32_t result = RequestPendingDownloads();
  if (result != 0) ReportError(result);
}

void CPatchMain::OnDownloadDone(uint32_t requestNumber) {
  uint32_t section = 0;
  if (!TakeInFlight(requestNumber, &section)) return;
  const SectionPlanEntry* entry = FindPlanEntry(section);
  const bool isDiff = entry && entry->IsDiff != 0;
  const std::string path = FindCabFile(m_downloadFolder, m_versions.current, section, isDiff);
  if (CrcTextMatches(GetFileCrcText(path), ExpectedCabCrc(section, isDiff))) {
    m_wrongCrcRetries = 0;
    PostEngineEvent(kEventCabinetReady, section, 0);
    return;
  }
  if (!plat::SetAttributes(path, plat::kAttrNormal)) LogWrite(kLogError, "set file attributes error : %s", path.c_str());
  if (!plat::RemoveFile(path)) LogWrite(kLogError, "delete file error : %s", path.c_str());
  LogWrite(kLogError, "Download failed : Wrong CRC, File : %s", path.c_str());
  if (m_wrongCrcRetries >= 1) {
    LogWrite(kLogError, "Over count of wrong CRC downloaded file error : %s", path.c_str());
    ReportError(3);
    return;
  }
  ++m_wrongCrcRetries;
  LogWrite(kLogDetail, "Try to faild cab downloading, Count [%d], Ver [%d] Section [%d] IsDiff [%s]",
           AsInt(m_wrongCrcRetries), AsInt(m_versions.current), AsInt(section), isDiff ? "TRUE" : "FALSE");
  const uint32_t result = RequestDownloadSection(m_versions.current, SectionPlanEntry{section, isDiff ? 1u : 0u});
  if (result != 0) ReportError(result);
}

void CPatchMain::OnDownloadFailed(uint32_t requestNumber) {
  uint32_t section = 0;
  if (!TakeInFlight(requestNumber, &section)) return;
  SectionPlanEntry* entry = FindPlanEntry(section);
  LogWrite(kLogDetail, "Downloaded Failed Section Cab File : ver [%d], section [%d] IsDiff [%s]",
           AsInt(m_versions.current), AsInt(section), entry && entry->IsDiff ? "Y" : "N");
  if (!entry) return;
  LogWrite(kLogDetail, "Try file-patch section cab file : ver [%d], section [%d]", AsInt(m_versions.current),
           AsInt(section));
  // The normal cabinet replaces whole files, so it serves whatever state
  // the client's files are in.
  entry->IsDiff = 0;
  const uint32_t result = RequestDownloadSection(m_versions.current, *entry);
  if (result != 0) ReportError(result);
}

void CPatchMain::OnDownloadProgress(uint32_t requestNumber) {
  bool known = false;
  for (const InFlightDownload& d : m_CurrentPatchList.inFlight) known = known || d.requestNumber == requestNumber;
  if (!known || !m_downloader) return;
  DownloadStatus status;
  m_downloader->GetStatus(&status);
  m_liveStatus.downloadPercent = status.percent;
  SetStatusText(m_liveStatus.downloadFile, status.fileName.c_str());
  m_liveStatus.downloadTotalSize = status.total;
  m_liveStatus.downloadSpeed = status.speed;
  m_liveStatus.downloadReserved[0] = status.reserved[0];
  m_liveStatus.downloadReserved[1] = status.reserved[1];
  m_liveStatus.downloadElapsed = status.elapsed;
  m_CurrentPatchList.downloadUnderWay = true;
  PublishProgress(2);
}

void CPatchMain::OnExtractProgress(const EngineEvent& event) {
  SetState(kStateExtracting);
  m_CurrentPatchList.extractUnderWay = true;
  m_liveStatus.extractPercent = static_cast<float>(event.value);
  SetStatusText(m_liveStatus.extractFile, event.text.c_str());
  PublishProgress(event.value != 0 ? 16 : 17);
}

void CPatchMain::OnExtractDone(const EngineEvent& event) {
  ++m_CurrentPatchList.extractedFiles;
  m_CurrentPatchList.extractUnderWay = false;
  SetState(kStateExtracting);
  m_liveStatus.extractPercent = 100.0f;
  SetStatusText(m_liveStatus.extractFile, event.text.c_str());
  PublishProgress(18);
}

void CPatchMain::OnPatchProgress(const EngineEvent& event) {
  SetState(kStatePatching);
  m_CurrentPatchList.patchUnderWay = true;
  m_liveStatus.patchPercent = static_cast<float>(event.value);
  SetStatusText(m_liveStatus.patchFile, event.text.c_str());
  PublishProgress(event.value != 0 ? 14 : 13);
}

void CPatchMain::OnSectionPatched(uint32_t section) {
  PatchList& list = m_CurrentPatchList;
  PublishProgress(15);
  ++list.patchedSections;
  list.patchUnderWay = false;
  if (section >= 1 && section <= list.sectionProgress.size()) list.sectionProgress[section - 1] = 1;
  SectionProgressRecord record;
  record.Init(m_downloadFolder, m_versions.current, list.dwSectionNum);
  record.Save(list.sectionProgress);
  for (uint32_t flag : list.sectionProgress) {
    if (flag == 0) return;  // other sections are still on their way
  }
  CommitVersion();
}

// Every section of the current version is patched: "version.dat" moves on
// and the next version follows.
void CPatchMain::CommitVersion() {
  Versions& v = m_versions;
  SetState(kStateCommitting);
  v.lastCompleted = v.current;
  m_liveStatus.downloadFile[0] = '\0';
  m_liveStatus.downloadPercent = 0.0f;
  m_liveStatus.downloadTotalSize = 0;
  m_liveStatus.downloadSpeed = 0;
  m_liveStatus.downloadReserved[0] = m_liveStatus.downloadReserved[1] = 0;
  m_liveStatus.downloadElapsed = 0;
  m_liveStatus.extractFile[0] = '\0';
  m_liveStatus.extractPercent = 0.0f;
  m_liveStatus.patchFile[0] = '\0';
  m_liveStatus.patchPercent = 0.0f;

  if (!SetVerFile(m_workingFolder, v.current)) {
    LogWrite(kLogError, "Failed to UpdateVersion : Ver [%d]", AsInt(v.current));
    ReportError(19);
    return;
  }
  SectionProgressRecord record;
  record.Init(m_downloadFolder, v.current, m_CurrentPatchList.dwSectionNum);
  record.Delete();
  DeleteFolder(m_tempFolder);
  RecCreateDirectory(m_tempFolder);
  DeleteFolder(m_outputFolder);
  RecCreateDirectory(m_outputFolder);
  PostEngineEvent(kEventVersionStep, v.current + 1, 0);
}

void CPatchMain::OnVerify() {
  uint32_t result = ReadEarlierLists();
  if (result == 0) result = CheckSumCheck();
  // A wrong file is put back before the run may end; only a file that
  // cannot be healed fails it.
  if (result == kChecksumMismatch) result = HealClient();
  if (result == 0) {
    PostEngineEvent(kEventFinish, 0, 0);
  } else {
    ReportError(result);
  }
}

void CPatchMain::OnFinish() {
  if (!SetVerFile(m_workingFolder, m_versions.current)) {
    LogWrite(kLogError, "Failed to UpdateVersion : Ver [%d]", AsInt(m_versions.current));
    ReportError(19);
    return;
  }
  m_accumulatedTime += plat::TickCount() - m_stepStartTick;
  LogWrite(kLogTrace, "Patch is finished");
  // The deletion list comes before the finished state: the launcher stops
  // the engine as soon as it sees that state, and a list fetch still under
  // way would then either hold the stop or be cut off on every run. Its
  // fetch is bounded by the fetch procedure's no-progress limit, and a stop
  // ends it at once.
  const bool listSettled = ProcessDeleteList();
  if (listSettled) {
    ClearPendingFinish(m_downloadFolder);
    if (m_flags & kFlagRemoveDownloadFolder) {
      DeleteFolder(m_downloadFolder);
      RecCreateDirectory(m_downloadFolder);
    }
  } else {
    // The finish stays recorded, and with it the download folder that holds
    // the record: the next start verifies the client and tries the list again.
    LogWrite(kLogError, "The deletion list is still to do; the next start finishes the run");
  }
  // A stop that cut the list short wants no further message.
  if (!m_stop.load()) SetState(kStateFinished);
}

void CPatchMain::OnSelfUpdateStart() {
  SetState(kStateSelfUpdating);
  if (!PostTask(std::make_unique<CTaskSelfUpdate>(*this, Settings(), m_versions.serverPatcher))) {
    LogWrite(kLogError, "Failed to create CTaskSelfUpdate task");
    ReportError(8);
  }
}

void CPatchMain::OnSelfUpdateProgress(uint32_t percent) {
  m_liveStatus.taskPercent = static_cast<float>(percent);
  PublishProgress(5);
}

void CPatchMain::OnSelfUpdateDone() {
  m_liveStatus.taskPercent = 100.0f;
  PublishProgress(6);
  SetState(kStateSelfUpdated);
  m_accumulatedTime += plat::TickCount() - m_stepStartTick;
}

void CPatchMain::OnPreDownloadStep(uint32_t version) {
  if (version > m_versions.preDownEnd) {
    PostEngineEvent(kEventPreDownloadDone, version, 0);
    return;
  }
  ResetVersionState();
  m_versions.current = version;
  const uint32_t result = LoadPatchList(version);
  if (result != 0) {
    ReportError(result);
    return;
  }
  if (m_CurrentPatchList.dwSectionNum == 0) {
    m_versions.lastCompleted = version;
    PostEngineEvent(kEventPreDownloadStep, version + 1, 0);
    return;
  }
  BeginVersion();
}

void CPatchMain::OnPreDownloadDone() {
  if (m_versions.current < m_versions.preDownEnd) {
    PostEngineEvent(kEventPreDownloadStep, m_versions.current + 1, 0);
    return;
  }
  SetState(kStateFinished);
  m_accumulatedTime += plat::TickCount() - m_stepStartTick;
  LogWrite(kLogTrace, "Download is finished");
}

EngineSettings CPatchMain::Settings() const {
  EngineSettings s;
  s.ownerWindow = m_ownerWindow;
  s.progressMessage = m_progressMessage;
  s.errorMessage = m_errorMessage;
  s.workingFolder = m_workingFolder;
  s.downloadFolder = m_downloadFolder;
  s.tempFolder = m_tempFolder;
  s.outputFolder = m_outputFolder;
  s.latestVersion = m_versions.latest;
  s.minimalVersion = m_versions.minimal;
  s.preDownStartVersion = m_versions.preDownStart;
  s.preDownEndVersion = m_versions.preDownEnd;
  s.serverPatcherVersion = m_versions.serverPatcher;
  s.flags = m_flags;
  s.downloadUrls = m_downloadUrls;
  return s;
}
