#include "engine/section_download.h"

#include <cstdio>

#include "download/crc32.h"
#include "engine/cab_path.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"

namespace {

std::string Format(const char* format, const std::string& text, uint32_t a, uint32_t b) {
  char buffer[1024];
  snprintf(buffer, sizeof buffer, format, text.c_str(), a, b);
  return buffer;
}

const char* Kind(bool isDiff) { return isDiff ? "D" : "N"; }

}  // namespace

std::string BuildCabUrl(const std::string& serverUrl, uint32_t version, uint32_t section, bool isDiff) {
  return Format(isDiff ? "%s/%u/%uD.cab" : "%s/%u/%uN.cab", serverUrl, version, section);
}

std::string BuildLocalCabPath(const std::string& downloadFolder, uint32_t version, uint32_t section, bool isDiff) {
  return Format(isDiff ? "%s%u\\%uD.cab" : "%s%u\\%uN.cab", downloadFolder, version, section);
}

std::string FindCabFile(const std::string& downloadFolder, uint32_t version, uint32_t section, bool isDiff) {
  const std::string folder = Format("%s%u\\", downloadFolder, version, 0);
  return FindCabPath(folder, std::to_string(section) + Kind(isDiff) + ".cab");
}

uint32_t CPatchMain::RequestDownloadSection(uint32_t version, const SectionPlanEntry& entry) {
  const bool isDiff = entry.IsDiff != 0;
  const char kindLetter = isDiff ? 'D' : 'N';
  const int32_t v = static_cast<int32_t>(version);
  const int32_t s = static_cast<int32_t>(entry.section);
  LogWrite(kLogDetail, "Request Download Section : ver [%d], section [%d] IsDiff[%s]", v, s, isDiff ? "TRUE" : "FALSE");

  const std::string localPath = BuildLocalCabPath(m_downloadFolder, version, entry.section, isDiff);
  const std::string actual = GetFileCrcText(localPath);
  if (CrcTextMatches(actual, ExpectedCabCrc(entry.section, isDiff))) {
    // Already downloaded by an earlier run: no transfer, no attempt counted.
    PostEngineEvent(kEventCabinetReady, entry.section, 0);
    return 0;
  }

  if (!m_hasLastRequest || m_lastRequest.section != entry.section || (m_lastRequest.IsDiff != 0) != isDiff) {
    m_hasLastRequest = true;
    m_lastRequest = SectionPlanEntry{entry.section, isDiff ? 1u : 0u};
    m_requestAttempts = 0;
  }
  // Each further attempt of the same cabinet goes to the next server.
  if (m_requestAttempts >= 3 || m_requestAttempts >= m_downloadUrls.size()) {
    LogWrite(kLogError, "It's maxed over that downloadable counting : version [%d] section [%d] diff [%c]", v, s,
             kindLetter);
    return 3;
  }
  const std::string url = BuildCabUrl(m_downloadUrls[m_requestAttempts], version, entry.section, isDiff);
  if (!m_downloader) return 3;

  uint32_t requestNumber = 0;
  m_downloader->RequestDownload(url, localPath, &requestNumber);
  ++m_requestAttempts;
  if (requestNumber == 0) {
    LogWrite(kLogError, "Failed to request download file : version [%d] section [%d] diff [%c]", v, s, kindLetter);
    return 3;
  }
  m_CurrentPatchList.inFlight.push_back(InFlightDownload{requestNumber, entry.section});
  if (m_downloader->DownloadNext() < 0) {
    LogWrite(kLogError, "Failed to downloadnext : version [%d] section [%d] diff [%c] LastErrorCode [%d]", v, s,
             kindLetter, static_cast<int32_t>(m_downloader->GetLastErrorCode()));
    return 3;
  }
  PublishProgress(1);
  return 0;
}

uint32_t CPatchMain::RequestPendingDownloads() {
  PatchList& list = m_CurrentPatchList;
  if (!list.inFlight.empty()) return 0;
  while (list.planCursor < list.plan.size()) {
    const uint32_t result = RequestDownloadSection(m_versions.current, list.plan[list.planCursor]);
    if (result != 0) return result;
    ++list.planCursor;
    if (!list.inFlight.empty()) break;
  }
  return 0;
}

const std::string& CPatchMain::ExpectedCabCrc(uint32_t section, bool isDiff) const {
  static const std::string kNone;
  const std::vector<std::string>& crcs = isDiff ? m_CurrentPatchList.diffCabCrcs : m_CurrentPatchList.normalCabCrcs;
  if (section == 0 || section > crcs.size()) return kNone;
  return crcs[section - 1];
}
