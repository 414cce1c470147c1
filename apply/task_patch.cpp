#include "apply/task_patch.h"

#include "engine/patch_log.h"

namespace {

int32_t AsInt(uint32_t value) { return static_cast<int32_t>(value); }

}  // namespace

CTaskPatch::CTaskPatch(TaskHost& host, const EngineSettings& settings, uint32_t version, uint32_t section,
                       uint32_t isDiff, const std::vector<PatchFileInfo>& files)
    : m_Host(host), m_Settings(settings), m_Version(version), m_Section(section), m_IsDiff(isDiff), m_Files(files) {
  m_FileProgress.Init(m_Settings.downloadFolder, m_Version, m_Section);
}

CTaskPatch::~CTaskPatch() = default;

int32_t CTaskPatch::Process() {
  LogWrite(kLogTrace, "CTaskPatch::Process() : version [%d] section [%d] IsDiff [%d]", AsInt(m_Version),
           AsInt(m_Section), AsInt(m_IsDiff));
  m_Host.PostTaskEvent(kEventTypePatchProgress, 0, m_Section);
  uint32_t result = 0;
  if (m_IsDiff == 0) {
    LogWrite(kLogDetail, "Try to File Patch : Ver [%d] Section [%d]", AsInt(m_Version), AsInt(m_Section));
    result = FilePatch();
  } else {
    LogWrite(kLogDetail, "Try to Diff Patch : Ver [%d] Section [%d]", AsInt(m_Version), AsInt(m_Section));
    result = DiffPatch();
  }
  if (result == 0) {
    m_Host.PostTaskEvent(kEventTypeSectionPatched, 0, m_Section);
  } else {
    m_Host.ReportTaskError(result);
  }
  LogWrite(kLogTrace, "CTaskPatch::Process() Ended : version [%d] section [%d] IsDiff [%d] Result [%d]",
           AsInt(m_Version), AsInt(m_Section), AsInt(m_IsDiff), AsInt(result));
  return 0;
}
