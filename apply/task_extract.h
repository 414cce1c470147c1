// CTaskExtract: unpacks one section's downloaded cabinet into the temp
// folder and then, on the same thread, applies it with a CTaskPatch.
//
// Runs on a task worker's thread; posts its progress and errors through the
// TaskHost, which must outlive the task. Nothing is written outside the temp
// folder: a stored name that is absolute, carries a drive or climbs out with
// ".." aborts the extraction before any file of that name is created.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "apply/cab/fdi.h"
#include "apply/task_host.h"
#include "engine/patch_file.h"
#include "workers/task.h"

class CTaskExtract : public CTask {
 public:
  CTaskExtract(TaskHost& host, const EngineSettings& settings, uint32_t version, uint32_t section, uint32_t isDiff,
               const std::vector<PatchFileInfo>& files);
  ~CTaskExtract() override;

  // Extracts, then patches; an extraction failure is reported once as an
  // engine error. Always 0: the task is finished.
  int32_t Process() override;

  // Unpacks "<section>N.cab" or "<section>D.cab" from the version's folder
  // under the download folder into the temp folder. 0; 7 when the decoder
  // failed on a target file; 6 for every other failure.
  uint32_t ExtractPatchFile();
  // Limits the extraction to these names (lower-cased as LowerFileName
  // makes them); the cabinet's other files are skipped. Empty: every file.
  void ExtractOnly(std::set<std::string> lowerCaseNames) { m_Only = std::move(lowerCaseNames); }

  const std::string& CabName() const { return m_CabName; }

 private:
  static intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note);
  intptr_t OnCopyFile(const FDINOTIFICATION& note);
  uint32_t FailureResult() const;

  TaskHost& m_Host;
  EngineSettings m_Settings;
  uint32_t m_Version;
  uint32_t m_Section;
  uint32_t m_IsDiff;
  FDICABINETINFO m_CabInfo{};
  float m_Progress = 0.0f;  // percent of the cabinet's files extracted
  std::string m_CabName;    // the cabinet's file name, without its folder
  std::vector<PatchFileInfo> m_Files;
  std::set<std::string> m_Only;  // empty: every file
  ERF m_Erf{};
};
