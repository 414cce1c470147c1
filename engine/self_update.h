// Updating the patcher itself. The download half is a task that fetches
// the update package for the separate self-updater; the install half runs
// at every initialisation and moves "<file>.pre_zulpatch" files left in the
// program's folder over their targets.
#pragma once

#include <cstdint>
#include <string>

#include "apply/task_host.h"
#include "workers/task.h"

class CTaskSelfUpdate : public CTask {
 public:
  CTaskSelfUpdate(TaskHost& host, const EngineSettings& settings, uint32_t serverPatcherVersion);
  // Fetches "core<version>.cab" as "upgrade.cab" in the current folder,
  // posting progress (type 2), then the end (type 1) or error 8. Always 0.
  int32_t Process() override;

 private:
  TaskHost& m_host;
  EngineSettings m_settings;
  uint32_t m_serverPatcherVersion;
};

// Deletes leftover "*.del_zulpatch*" files of the program's folder, then
// installs every "*.pre_zulpatch" file over its target; a target that
// cannot be replaced is first moved to a removable name. False when the
// installation stopped early (the rest waits for a later run).
bool ProcSelfUpdate();
// The same in a given folder (ending in a separator).
bool ProcSelfUpdateIn(const std::string& programFolder);
