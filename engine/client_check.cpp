// Closing a patch run: the client's files against the CRCs the run's patch
// lists promised, and the deletion list of obsolete files.
#include "engine/client_check.h"

#include <cstdio>

#include "download/crc32.h"
#include "download/fetch.h"
#include "engine/ini_manager.h"
#include "engine/patch_file.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "platform/file_system.h"
#include "platform/process_paths.h"

namespace {

constexpr size_t kMaxPath = 260;


}  // namespace

void CollectFiles(const std::string& folder, std::vector<std::string>& files, const std::string& pattern,
                  bool recurse) {
  if (folder.empty()) return;
  std::string base = folder;
  if (base.back() != '\\' && base.back() != '/') base += '\\';
  const std::string search = base + pattern;
  if (search.size() >= kMaxPath) {
    LogWrite(kLogError, "Path too long to search : %s", search.c_str());
    return;
  }
  std::vector<plat::FindEntry> entries;
  if (!plat::FindEntries(search, &entries)) return;
  for (const plat::FindEntry& entry : entries) {
    if (!entry.name.empty() && entry.name[0] == '.' && entry.name.size() <= 2) continue;
    const std::string path = base + entry.name;
    if (path.size() >= kMaxPath) {
      LogWrite(kLogError, "Path too long, skipped : %s", path.c_str());
      continue;
    }
    if (entry.IsDirectory() && recurse) {
      CollectFiles(path, files, pattern, true);
    } else {
      files.push_back(path);
    }
  }
}

uint32_t CPatchMain::CheckSumCheck() {
  LogWrite(kLogTrace, "CheckSumCheck() begins");
  size_t matched = 0;
  const size_t total = m_expectedCrcs.size();
  m_liveStatus.state = kStateVerifying;
  m_liveStatus.taskText[0] = '\0';
  m_liveStatus.taskPercent = 0.0f;
  PublishProgress(10);

  for (const auto& [name, crc] : m_expectedCrcs) {
    if (Stopping()) return 2;
    m_liveStatus.taskPercent += 100.0f / static_cast<float>(total);
    SetStatusText(m_liveStatus.taskText, name.c_str());
    PublishProgress(11);
    const std::string path = m_workingFolder + name;
    const std::string actual = GetFileCrcText(path);
    LogWrite(kLogDetail, "Tried to check CRC : FileName [%s] CRC [%s]", path.c_str(), actual.c_str());
    if (!CrcTextEquals(actual, crc)) {
      LogWrite(kLogError, "It's different CRC!, File [%s]", path.c_str());
      break;
    }
    ++matched;
  }
  m_liveStatus.taskPercent = 100.0f;
  PublishProgress(12);

  // The listing helps support staff compare a client with a good one; a
  // drive root is never walked.
  if ((m_flags & kFlagLogVerbose) != 0 && m_workingFolder.size() > 3) {
    std::vector<std::string> files;
    CollectFiles(m_workingFolder, files, "*.*", true);
    if (!files.empty()) {
      m_liveStatus.state = kStateVerifying;
      m_liveStatus.taskText[0] = '\0';
      m_liveStatus.taskPercent = 0.0f;
      PublishProgress(10);
      LogWrite(kLogDetail, "==Client CRC List==");
      for (const std::string& file : files) {
        const std::string relative = file.substr(m_workingFolder.size());
        m_liveStatus.taskPercent += 100.0f / static_cast<float>(files.size());
        SetStatusText(m_liveStatus.taskText, relative.c_str());
        PublishProgress(11);
        LogWrite(kLogDetail, "FILE [%s] CRC [%s]", relative.c_str(), GetFileCrcText(file).c_str());
      }
      m_liveStatus.taskPercent = 100.0f;
      PublishProgress(12);
    }
  }

  if (matched == total) {
    LogWrite(kLogDetail, "CRC Check is done as well");
    return 0;
  }
  return 20;
}

void CPatchMain::ProcessDeleteList() {
  const std::string listPath = plat::TempFolder() + "delete.ini";
  plat::SetAttributes(listPath, plat::kAttrNormal);
  plat::RemoveFile(listPath);
  if (GetFileFromServers(m_downloadUrls, "delete.ini", listPath, 0, TransferProgress()) != kFetchOk) {
    LogWrite(kLogDetail, "Failed to download file : delete.ini");
    return;
  }
  CIniManager ini;
  ini.SetFile(listPath, false);
  std::vector<std::string> names;
  ini.GetStringList("DELETE", "File", names);
  for (const std::string& name : names) {
    // A broken or hostile server must not delete anything outside the client.
    if (!IsSafeRelativePath(name)) {
      LogWrite(kLogError, "Refused to delete a file outside the client : %s", name.c_str());
      continue;
    }
    const std::string path = m_workingFolder + name;
    plat::SetAttributes(path, plat::kAttrNormal);
    plat::RemoveFile(path);
    LogWrite(kLogAlways, "Deleted File [%s]", path.c_str());
  }
  plat::SetAttributes(listPath, plat::kAttrNormal);
  plat::RemoveFile(listPath);
}
