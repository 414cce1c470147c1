// CTaskPatch::FilePatch: a whole-file section, moved from the temp folder
// into the working folder.
#include <cstdint>
#include <string>

#include "apply/patch_moves.h"
#include "apply/task_patch.h"
#include "engine/folders.h"
#include "engine/patch_log.h"
#include "platform/file_system.h"

uint32_t CTaskPatch::FilePatch() {
  LogWrite(kLogTrace, "FilePatch() begins : Section [%d]", static_cast<int32_t>(m_Section));
  const size_t count = m_Files.size();
  float progress = 0.0f;
  for (const PatchFileInfo& file : m_Files) {
    progress = static_cast<float>(progress + 100.0 / static_cast<double>(count));
    m_Host.PostTaskEvent(kEventTypePatchProgress, static_cast<uint32_t>(progress), m_Section, file.name);
    LogWrite(kLogDetail, "Tried to file patch : File [%s] ", file.name.c_str());

    const std::string clientPath = m_Settings.workingFolder + file.name;
    const std::string sourcePath = m_Settings.tempFolder + file.name;
    if (!RecCreateDirectoryFile(clientPath)) {
      LogWrite(kLogError, "Failed to RecCreateDirectoryFile : Path [%s]", clientPath.c_str());
      return 11;
    }
    if (!plat::FileExists(sourcePath)) {
      LogWrite(kLogError, "Access Error : File [%s]", sourcePath.c_str());
      return 11;
    }
    if (m_Host.Stopping()) return 2;

    plat::SetAttributes(clientPath, plat::kAttrNormal);
    if (!MovePatchedFile(sourcePath, clientPath)) {
      LogWrite(kLogError, "Failed to move_1 file in FilePatch() : Error [%d] ExistingPath [%s] NewPath [%s]",
               static_cast<int32_t>(plat::LastError()), sourcePath.c_str(), clientPath.c_str());
      // Another program (a virus scanner, the game itself) may hold the
      // file for a moment.
      WaitBeforeRetry(kWholeFileRetryWaitMs);
      if (!MovePatchedFile(sourcePath, clientPath)) {
        LogWrite(kLogError, "Failed to move_2 file in FilePatch() : Error [%d] ExistingPath [%s] NewPath [%s]",
                 static_cast<int32_t>(plat::LastError()), sourcePath.c_str(), clientPath.c_str());
        return 12;
      }
    }
  }
  return 0;
}
