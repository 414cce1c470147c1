#include <cstdio>
#include <cstring>

#include "download/crc32.h"
#include "download/fetch.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "engine/progress_records.h"
#include "platform/file_system.h"

uint32_t CPatchMain::FetchPatchList(uint32_t version, std::string* localPath) {
  char relative[64];
  snprintf(relative, sizeof relative, "%u/version.list", version);
  char localBuffer[1024];
  snprintf(localBuffer, sizeof localBuffer, "%s%u\\version.list", m_downloadFolder.c_str(), version);
  *localPath = localBuffer;
  const uint32_t fetched = GetFileFromServers(m_downloadUrls, relative, *localPath, 0, TransferProgress());
  if (fetched != kFetchOk && fetched != kFetchCanceled) {
    LogWrite(kLogError, "Failed to downloadd file : %s", relative);
    return kListFetchFailed;
  }
  return 0;
}

void CPatchMain::NoteListedFiles(uint32_t version, const PatchList& list, bool newest) {
  m_normalCabCrcs[version] = list.normalCabCrcs;
  for (uint32_t s = 1; s <= list.sectionFiles.size(); ++s) {
    for (const PatchFileInfo& file : list.sectionFiles[s - 1]) {
      const std::string key = LowerFileName(file.name);
      if (newest || m_shippedIn.count(key) == 0) m_shippedIn[key] = ShippedFile{file.name, version, s};
    }
  }
}

uint32_t CPatchMain::ReadEarlierLists() {
  // Newest first: a file keeps the CRC of the newest list that names it.
  for (uint32_t version = m_versions.local; version > m_verifyBase; --version) {
    if (Stopping()) return kListStopped;
    std::string localPath;
    const uint32_t fetched = FetchPatchList(version, &localPath);
    if (fetched != 0) return fetched;
    PatchList list;
    ExpectedCrcMap listed;
    const uint32_t read = ReadPatchListFile(localPath, version, list, listed);
    plat::RemoveFile(localPath);
    if (read != 0) return read;
    for (const auto& [name, crc] : listed) m_expectedCrcs.emplace(name, crc);
    NoteListedFiles(version, list, false);
  }
  return 0;
}

uint32_t CPatchMain::LoadPatchList(uint32_t version) {
  m_CurrentPatchList = PatchList{};
  m_liveStatus.state = kStateDownloading;
  m_liveStatus.taskText[0] = '\0';
  m_liveStatus.taskPercent = 0.0f;
  PublishProgress(7);

  std::string localPath;
  const uint32_t fetched = FetchPatchList(version, &localPath);
  if (fetched != 0) return fetched;

  PatchList& list = m_CurrentPatchList;
  const uint32_t read = ReadPatchListFile(localPath, version, list, m_expectedCrcs);
  // A list in an unknown format stays on disk for whoever looks into it.
  if (read == kListBadSystemVersion) return read;
  plat::RemoveFile(localPath);
  if (read != 0) return read;
  NoteListedFiles(version, list, true);

  const uint32_t sections = list.dwSectionNum;
  SectionProgressRecord sectionRecord;
  sectionRecord.Init(m_downloadFolder, version, sections);
  list.sectionProgress.clear();
  if (!sectionRecord.Load(list.sectionProgress)) {
    LogWrite(kLogDetail, "Failed to load patched section informations");
    list.sectionProgress.assign(sections, 0);
  }

  uint32_t filesBefore = 0;
  for (uint32_t s = 1; s <= list.sectionProgress.size(); ++s) {
    const int32_t vs = static_cast<int32_t>(version);
    const int32_t ss = static_cast<int32_t>(s);
    if (list.sectionProgress[s - 1] != 0) {
      LogWrite(kLogDetail, "Skip patch : version [%d], section [%d]", vs, ss);
      ++list.downloadedSections;
      ++list.extractedFiles;
      ++list.patchedSections;
      continue;
    }
    const std::vector<PatchFileInfo>& files = list.sectionFiles[s - 1];
    const uint32_t count = static_cast<uint32_t>(files.size());
    FileProgressRecord fileRecord;
    fileRecord.Init(m_downloadFolder, version, s);
    uint32_t done = fileRecord.Read();
    if (!IsResumePoint(done, count)) {
      LogWrite(kLogError, "Last Patched progress [%d] is bigger than file count [%d] : ver [%d] section [%d]",
               static_cast<int32_t>(done), static_cast<int32_t>(count), vs, ss);
      LogWrite(kLogError, "Initilized patch progress ver [%d] section [%d]", vs, ss);
      done = 0;
    }

    // The files before `done` carry their new contents already; the rest
    // must be exactly what this version's deltas were made from.
    bool isDiff = true;
    for (uint32_t i = done; i < count; ++i) {
      const PatchFileInfo& file = files[i];
      if (file.btFileType != kFileTypeDelta || file.OrgFileSize == 0 || file.NewFileSize == 0) continue;
      if (Stopping()) return kListStopped;
      const std::string clientPath = m_workingFolder + file.name;
      SetStatusText(m_liveStatus.taskText, file.name.c_str());
      m_liveStatus.taskPercent =
          list.acceptedFiles == 0 ? 0.0f
                                  : static_cast<float>(filesBefore + i) / static_cast<float>(list.acceptedFiles) * 100.0f;
      PublishProgress(8);
      if (GetFileSize64(clientPath) != file.OrgFileSize) {
        LogWrite(kLogDetail, "File sizes are different [%s]. It will download normal patch file", file.name.c_str());
        isDiff = false;
        break;
      }
      const std::string crc = m_crcCache.FileCrcText(clientPath);
      if (!CrcTextMatches(crc, file.oldCrc)) {
        LogWrite(kLogDetail, "Checksums are different [%s]. It will download normal patch file", file.name.c_str());
        isDiff = false;
        break;
      }
    }
    list.plan.push_back(SectionPlanEntry{s, isDiff ? 1u : 0u});
    LogWrite(kLogDetail, "Section [%d] IsDiff [%s]", ss, isDiff ? "Y" : "N");
    filesBefore += count;
  }

  m_liveStatus.taskPercent = 100.0f;
  PublishProgress(9);

  if (sections != 0 && list.plan.empty()) {
    // Every section is recorded as patched, yet the version was never
    // committed (the run ended between the last record and "version.dat").
    // Nothing is left to download; the driver commits the version.
    LogWrite(kLogError, "Empty section patch infomations");
  }
  return 0;
}
