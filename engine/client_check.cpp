// Closing a patch run: the client's files against the CRCs the run's patch
// lists promised, and the deletion list of obsolete files.
#include "engine/client_check.h"

#include <cstdio>

#include "download/crc32.h"
#include "download/fetch.h"
#include "engine/folders.h"
#include "engine/ini_manager.h"
#include "engine/patch_file.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "platform/file_system.h"
#include "platform/process_paths.h"

namespace {

constexpr size_t kMaxPath = 260;

// A path as the file system tells names apart: one kind of separator, never
// doubled, no letter case. Good enough to recognise a file, not to open it.
std::string ComparablePath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c != '\\' || out.empty() || out.back() != '\\') out += c;
  }
  return LowerFileName(out);
}


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

uint32_t CPatchMain::VisitExpectedFiles(const ExpectedFileVisitor& visit) {
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
    if (!visit(name, crc, path, m_crcCache.FileCrcText(path))) break;
  }
  m_liveStatus.taskPercent = 100.0f;
  PublishProgress(12);
  return 0;
}

uint32_t CPatchMain::CheckSumCheck() {
  LogWrite(kLogTrace, "CheckSumCheck() begins");
  size_t matched = 0;
  const uint32_t walked = VisitExpectedFiles([&matched](const std::string&, const std::string& crc,
                                                        const std::string& path, const std::string& actual) {
    LogWrite(kLogDetail, "Tried to check CRC : FileName [%s] CRC [%s]", path.c_str(), actual.c_str());
    if (!CrcTextMatches(actual, crc)) {
      LogWrite(kLogError, "It's different CRC!, File [%s]", path.c_str());
      return false;
    }
    ++matched;
    return true;
  });
  if (walked != 0) return walked;

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
        LogWrite(kLogDetail, "FILE [%s] CRC [%s]", relative.c_str(), m_crcCache.FileCrcText(file).c_str());
      }
      m_liveStatus.taskPercent = 100.0f;
      PublishProgress(12);
    }
  }

  if (matched == m_expectedCrcs.size()) {
    LogWrite(kLogDetail, "CRC Check is done as well");
    return 0;
  }
  return kChecksumMismatch;
}

bool CPatchMain::ProcessDeleteList() {
  // Fetched into this client's own download folder, not the shared
  // temporary folder: clients patched side by side on one machine must
  // neither apply nor remove another's list, and what a run that dies
  // leaves behind is replaced by that client's next run.
  const std::string listPath = m_downloadFolder + "delete.ini";
  RecCreateDirectory(m_downloadFolder);
  plat::SetAttributes(listPath, plat::kAttrNormal);
  plat::RemoveFile(listPath);
  const uint32_t fetched = GetFileFromServers(m_downloadUrls, "delete.ini", listPath, 0, TransferProgress());
  if (fetched != kFetchOk) LogWrite(kLogDetail, "Failed to download file : delete.ini");
  // Only a server that answers "not found" says there is no list (a
  // transport may still hand over its error page as the file); any other
  // failure, and a body that is no deletion list (an error page, a list cut
  // before its section), leaves the list to a later start.
  const int32_t status = LastHttpStatus();
  const bool absent = fetched != kFetchCanceled && (status == 404 || status == 410);
  CIniManager ini;
  ini.SetFile(listPath, false);
  const bool isList = fetched == kFetchOk && !absent && ini.HasSection("DELETE");
  if (!isList) {
    if (fetched == kFetchOk && !absent) {
      LogWrite(kLogError, "No [DELETE] section in delete.ini; it is tried again later");
    }
    plat::SetAttributes(listPath, plat::kAttrNormal);
    plat::RemoveFile(listPath);
    return absent;
  }
  std::vector<std::string> names;
  ini.GetStringList("DELETE", "File", names);
  const std::string ownProgram = ComparablePath(plat::ModuleFileName());
  const std::string ownSettings = ComparablePath(plat::CurrentFolder() + "\\localinfo.dat");
  for (const std::string& name : names) {
    // A broken or hostile server must not delete anything outside the client.
    if (!IsSafeRelativePath(name)) {
      LogWrite(kLogError, "Refused to delete a file outside the client : %s", name.c_str());
      continue;
    }
    const std::string path = m_workingFolder + name;
    // Nor the files without which no later start could patch the client.
    const std::string comparable = ComparablePath(path);
    if (IsProtectedFile(name) || comparable == ownProgram || comparable == ownSettings) {
      LogWrite(kLogError, "Refused to delete a file the patcher needs : %s", name.c_str());
      continue;
    }
    plat::SetAttributes(path, plat::kAttrNormal);
    plat::RemoveFile(path);
    LogWrite(kLogAlways, "Deleted File [%s]", path.c_str());
  }
  plat::SetAttributes(listPath, plat::kAttrNormal);
  plat::RemoveFile(listPath);
  return true;
}
