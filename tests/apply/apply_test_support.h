// Shared pieces of the task tests: a TaskHost that records what the tasks
// post, a sandbox with the engine's folder layout in a temp folder, and the
// end-to-end scenario's tables.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "apply/task_host.h"
#include "engine/patch_file.h"
#include "tests/support/test_support.h"

namespace applytest {

// Records every event; Stopping() turns true once `stop` is set or after
// `stopAfterChecks` checks (-1: never).
class FakeHost : public TaskHost {
 public:
  bool Stopping() const override;
  void PostTaskEvent(const EngineEvent& event) override;
  using TaskHost::PostTaskEvent;

  std::vector<EngineEvent> Events() const;
  std::vector<EngineEvent> EventsOfType(uint32_t type) const;
  std::vector<uint32_t> Types() const;

  std::atomic<bool> stop{false};
  int stopAfterChecks = -1;
  // Called with every event after it is recorded (on the posting thread).
  std::function<void(const EngineEvent&)> onEvent;

 private:
  mutable std::mutex lock_;
  mutable int checks_ = 0;
  std::vector<EngineEvent> events_;
};

// A client folder with the engine's download, temp and output folders in a
// fresh temp folder. Paths are engine paths (the platform maps them).
class Sandbox {
 public:
  Sandbox();

  const EngineSettings& Settings() const { return settings_; }
  EngineSettings& MutableSettings() { return settings_; }
  const std::string& Root() const { return dir_.Path(); }
  std::string Client(const std::string& relative) const { return settings_.workingFolder + relative; }
  std::string Temp(const std::string& relative) const { return settings_.tempFolder + relative; }
  std::string Output(const std::string& relative) const { return settings_.outputFolder + relative; }
  // The version's folder under the download folder, with a separator.
  std::string VersionFolder(uint32_t version) const;

  // Copies the e2e scenario's initial client into the client folder.
  void CopyInitialClient() const;
  // Copies a cabinet (any file) to the version's folder under `name`.
  void PlaceCabinet(const std::string& source, uint32_t version, const std::string& name) const;
  void PlaceCabinetBytes(const std::vector<uint8_t>& bytes, uint32_t version, const std::string& name) const;

 private:
  testsupport::TempDir dir_;
  EngineSettings settings_;
};

// A cabinet of the files (stored name as raw bytes, contents), in order,
// made with the shared test writer; fails the test when it cannot be built.
using CabEntry = std::pair<std::string, std::vector<uint8_t>>;
std::vector<uint8_t> MakeCabinet(const std::vector<CabEntry>& files);
std::vector<uint8_t> Bytes(const std::string& text);

// Whole files by engine path; writing creates the missing folders.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::string& path);
bool Exists(const std::string& path);  // file or folder
bool CopyFileTo(const std::string& from, const std::string& to);
void MakeReadOnly(const std::string& path);

// Every file under `folder` (an engine path), as relative paths with "/"
// separators, sorted.
std::vector<std::string> ListFiles(const std::string& folder);

// The progress values of `steps` steps of 100/n each, summed in a 32-bit
// float and truncated, as the tasks post them.
std::vector<uint32_t> ProgressSteps(uint32_t n, uint32_t steps);

std::string E2eDir();    // the scenario folder "e2e/basic/", with a separator
std::string JdiffDir();  // the JojoDiff reference set, with a separator

// One file record of the scenario's version lists.
struct ListRow {
  uint32_t version = 0;
  uint32_t section = 0;
  uint32_t index = 0;
  std::string name;  // '\\' separators
  std::string oldCrc;
  std::string newCrc;
  uint8_t type = 0;
  uint64_t orgSize = 0;
  uint64_t newSize = 0;
  bool isProtected = false;
  uint64_t deltaSize = 0;  // type 1: the delta's size in the diff cabinet
};
std::vector<ListRow> LoadListRows();
// The records of one section as the list reader keeps them (protected
// names dropped), in list order.
std::vector<PatchFileInfo> SectionFiles(uint32_t version, uint32_t section);
std::vector<ListRow> SectionRows(uint32_t version, uint32_t section);

// One row of the scenario's expected tree: path relative to the sandbox
// ("/" separators) and the CRC text.
struct ExpectedRow {
  std::string path;
  uint64_t size = 0;
  std::string crc;
};
std::vector<ExpectedRow> LoadExpected();

using testsupport::ReadTsv;

}  // namespace applytest
