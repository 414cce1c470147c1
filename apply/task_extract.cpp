#include "apply/task_extract.h"

#include <cstdio>

#include "apply/extract_handles.h"
#include "apply/task_patch.h"
#include "engine/cab_path.h"
#include "engine/folders.h"
#include "engine/patch_log.h"
#include "platform/crt_io.h"
#include "platform/file_system.h"

namespace {

// Paths live in buffers of this many bytes, terminator included.
constexpr size_t kMaxPath = 260;

int32_t AsInt(uint32_t value) { return static_cast<int32_t>(value); }

std::string WithBackslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

CTaskExtract::CTaskExtract(TaskHost& host, const EngineSettings& settings, uint32_t version, uint32_t section,
                           uint32_t isDiff, const std::vector<PatchFileInfo>& files)
    : m_Host(host), m_Settings(settings), m_Version(version), m_Section(section), m_IsDiff(isDiff), m_Files(files) {}

CTaskExtract::~CTaskExtract() = default;

int32_t CTaskExtract::Process() {
  LogWrite(kLogTrace, "CTaskExtract::Process() : version [%d] section [%d] IsDiff [%d]", AsInt(m_Version),
           AsInt(m_Section), AsInt(m_IsDiff));
  const uint32_t result = ExtractPatchFile();
  if (result != 0) {
    m_Host.ReportTaskError(result);
    return 0;
  }
  CTaskPatch patch(m_Host, m_Settings, m_Version, m_Section, m_IsDiff, m_Files);
  return patch.Process();
}

uint32_t CTaskExtract::FailureResult() const { return m_Erf.erfOper == FDIERROR_TARGET_FILE ? 7 : 6; }

uint32_t CTaskExtract::ExtractPatchFile() {
  m_Erf = ERF{};
  m_Host.PostTaskEvent(kEventTypeExtractProgress, 0, m_Section);

  const std::string cabFile = std::to_string(m_Section) + (m_IsDiff != 0 ? "D.cab" : "N.cab");
  const std::string cabDirectory = m_Settings.downloadFolder + std::to_string(m_Version) + "\\";
  const std::string cabPath = FindCabPath(cabDirectory, cabFile);
  const size_t lastBackslash = cabPath.rfind('\\');
  m_CabName = lastBackslash == std::string::npos ? cabPath : cabPath.substr(lastBackslash + 1);

  m_Host.PostTaskEvent(kEventTypeExtractProgress, 0, m_Section, m_CabName);
  LogWrite(kLogTrace, "PV5::ExtractPatchFile() Cab = %s, %s", cabPath.c_str(), m_CabName.c_str());
  if (cabPath.size() >= kMaxPath) {
    LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! path too long [%s]", cabPath.c_str());
    return 6;
  }

  FdiContext context(FDICreate(plat::CrtAlloc, plat::CrtFree, plat::CrtOpen, plat::CrtRead, plat::CrtWrite,
                               plat::CrtClose, plat::CrtSeek, cpuUNKNOWN, &m_Erf));
  if (!context) {
    LogWrite(kLogError, "PV5::FDICreate() ERROR! file [%s] ERF [%d][%d][%d]", m_CabName.c_str(), m_Erf.erfOper,
             m_Erf.erfType, m_Erf.fError);
    return FailureResult();
  }
  CrtDescriptor cabinet(plat::CrtOpen(cabPath.c_str(), plat::kCrtOpenReadBinary, 0));
  if (!cabinet) {
    LogWrite(kLogError, "PV5::_open() ERROR! file [%s]", m_CabName.c_str());
    return 6;
  }
  if (!FDIIsCabinet(context.Get(), cabinet.Get(), &m_CabInfo)) {
    LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! file [%s]", m_CabName.c_str());
    return FailureResult();
  }
  if (!FDICopy(context.Get(), m_CabName.c_str(), cabDirectory.c_str(), 0, &CTaskExtract::Notify, nullptr, this)) {
    LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! FDICopy failed! file [%s]", m_CabName.c_str());
    return FailureResult();
  }
  if (!cabinet.Close()) LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! CAB close failed!");
  if (!context.Destroy()) LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! FDIDestroy failed!");
  LogWrite(kLogTrace, "PV5::ExtractPatchFile() finished.");
  return 0;
}

intptr_t CTaskExtract::Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  CTaskExtract* task = static_cast<CTaskExtract*>(note->pv);
  if (type == fdintCLOSE_FILE_INFO) {
    // The decoder has handed the descriptor over; it is closed even when the
    // copy is about to be aborted, or it would never be.
    if (note->hf != 0) plat::CrtClose(note->hf);
    return task->m_Host.Stopping() ? -1 : 1;
  }
  if (task->m_Host.Stopping()) return -1;
  switch (type) {
    case fdintCABINET_INFO:
      return 0;
    case fdintCOPY_FILE:
      return task->OnCopyFile(*note);
    case fdintENUMERATE:
      if (note->iFolder == 0) task->m_Host.PostTaskEvent(kEventTypeExtractDone, 0, task->m_Section, task->m_CabName);
      return 1;
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
    default:
      return 1;
  }
}

intptr_t CTaskExtract::OnCopyFile(const FDINOTIFICATION& note) {
  const std::string storedName = note.psz1 != nullptr ? note.psz1 : "";
  // A name that leaves the temp folder means a forged or broken cabinet:
  // nothing of it may be written, so the whole copy stops here.
  if (!IsSafeRelativePath(storedName)) {
    LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! unsafe name [%s] in file [%s]", storedName.c_str(),
             m_CabName.c_str());
    return -1;
  }
  if (IsProtectedFile(storedName)) {
    LogWrite(kLogProtected, "Protected file left out of [%s] : File [%s]", m_CabName.c_str(), storedName.c_str());
    return 0;
  }
  if (!m_Only.empty() && m_Only.count(LowerFileName(storedName)) == 0) return 0;

  const std::string outputPath = m_Settings.tempFolder + storedName;
  if (outputPath.size() >= kMaxPath) {
    LogWrite(kLogError, "PV5::ExtractPatchFile() ERROR! path too long : Path [%s]", outputPath.c_str());
    return -1;
  }
  if (!RecCreateDirectoryFile(outputPath)) {
    LogWrite(kLogError, "Failed to RecCreateDirectoryFile : Path [%s]", outputPath.c_str());
    m_Host.ReportTaskError(6);
    return -1;
  }
  plat::SetAttributes(WithBackslashes(outputPath), plat::kAttrNormal);
  const intptr_t fd = plat::CrtOpen(outputPath.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
  if (fd == -1) {
    const int error = plat::CrtErrno();
    const uint32_t attributes = plat::GetAttributes(outputPath);
    LogWrite(kLogError, "iFd== -1 && errno== %d, Attrib %d : Path [%s]", error, AsInt(attributes),
             outputPath.c_str());
    m_Host.ReportTaskError(6);
    return -1;
  }
  if (m_CabInfo.cFiles != 0) m_Progress = static_cast<float>(m_Progress + 100.0 / m_CabInfo.cFiles);
  m_Host.PostTaskEvent(kEventTypeExtractProgress, static_cast<uint32_t>(m_Progress), m_Section, m_CabName);
  return fd;
}
