// Healing a client whose files differ from what the patch lists promise:
// each wrong file comes back whole from the normal cabinet of the newest
// version whose list names it. Runs on the engine thread, after the
// verification, and reports with the verification's progress kinds.
#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "apply/patch_moves.h"
#include "apply/task_extract.h"
#include "download/crc32.h"
#include "download/fetch.h"
#include "engine/cab_path.h"
#include "engine/client_check.h"
#include "engine/folders.h"
#include "engine/patch_file.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "engine/section_download.h"
#include "platform/file_system.h"

namespace {

// The extraction reports to the engine as a task would; during a heal its
// progress events would only disturb the finished run's status.
class QuietHost : public TaskHost {
 public:
  explicit QuietHost(const TaskHost& engine) : m_engine(engine) {}
  bool Stopping() const override { return m_engine.Stopping(); }
  void PostTaskEvent(const EngineEvent&) override {}
  using TaskHost::PostTaskEvent;

 private:
  const TaskHost& m_engine;
};

}  // namespace

uint32_t CPatchMain::HealClient() {
  LogWrite(kLogTrace, "HealClient() begins");
  // The check ended at the first wrong file; healing needs every one, by
  // the cabinet that carries it.
  std::map<std::pair<uint32_t, uint32_t>, std::vector<HealedFile>> damaged;
  bool unknown = false;
  const uint32_t walked = VisitExpectedFiles([&](const std::string& name, const std::string& crc, const std::string&,
                                                 const std::string& actual) {
    if (CrcTextMatches(actual, crc)) return true;
    const auto shipped = m_shippedIn.find(name);
    unknown = shipped == m_shippedIn.end();  // no list of the run ships it
    if (!unknown) damaged[{shipped->second.version, shipped->second.section}].push_back({shipped->second.name, crc});
    return !unknown;
  });
  if (walked != 0) return walked;
  if (unknown) return kChecksumMismatch;

  bool healed = true;
  for (const auto& [where, files] : damaged) {
    if (Stopping()) return 2;
    healed = HealSection(where.first, where.second, files);
    if (!healed) break;
  }
  DeleteFolder(m_tempFolder);
  RecCreateDirectory(m_tempFolder);
  if (!healed) return kChecksumMismatch;
  return CheckSumCheck();
}

bool CPatchMain::HealSection(uint32_t version, uint32_t section, const std::vector<HealedFile>& files) {
  const auto lists = m_normalCabCrcs.find(version);
  if (lists == m_normalCabCrcs.end() || section == 0 || section > lists->second.size()) return false;
  const std::string& cabCrc = lists->second[section - 1];
  const std::string cabPath = BuildLocalCabPath(m_downloadFolder, version, section, false);

  char relative[64];
  snprintf(relative, sizeof relative, "%u/%uN.cab", version, section);
  if (!CrcTextMatches(GetFileCrcText(cabPath), cabCrc)) {
    SetStatusText(m_liveStatus.taskText, relative);
    PublishProgress(11);
    plat::SetAttributes(cabPath, plat::kAttrNormal);
    plat::RemoveFile(cabPath);
    if (GetFileFromServers(m_downloadUrls, relative, cabPath, 0, TransferProgress()) != kFetchOk) {
      LogWrite(kLogError, "Failed to download file [%s]", relative);
      return false;
    }
    if (!CrcTextMatches(GetFileCrcText(cabPath), cabCrc)) {
      LogWrite(kLogError, "Download failed : Wrong CRC, File : %s", cabPath.c_str());
      plat::RemoveFile(cabPath);
      return false;
    }
  }

  QuietHost host(*this);
  CTaskExtract extract(host, Settings(), version, section, 0, {});
  std::set<std::string> wanted;
  for (const HealedFile& file : files) wanted.insert(LowerFileName(file.name));
  extract.ExtractOnly(std::move(wanted));
  if (extract.ExtractPatchFile() != 0) return false;

  for (const HealedFile& file : files) {
    const std::string extracted = m_tempFolder + file.name;
    const std::string clientPath = m_workingFolder + file.name;
    // A cabinet that does not hold the file, or another one, heals nothing.
    if (!CrcTextMatches(GetFileCrcText(extracted), file.crc)) {
      LogWrite(kLogError, "Cannot heal [%s] : %s has no file with CRC [%s]", clientPath.c_str(), relative,
               file.crc.c_str());
      return false;
    }
    RecCreateDirectoryFile(clientPath);
    plat::SetAttributes(clientPath, plat::kAttrNormal);
    if (!MovePatchedFile(extracted, clientPath)) {
      LogWrite(kLogError, "Move Error! = %s -> %s. ErrCode = %d", extracted.c_str(), clientPath.c_str(),
               static_cast<int32_t>(plat::LastError()));
      return false;
    }
    LogWrite(kLogAlways, "Healed File [%s] from [%s]", clientPath.c_str(), relative);
  }
  // The cabinet served its purpose; a later heal fetches it again.
  plat::RemoveFile(cabPath);
  return true;
}
