#include "tests/apply/apply_test_support.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/folders.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "publish/cab_writer.h"

namespace fs = std::filesystem;

namespace applytest {

bool FakeHost::Stopping() const {
  if (stop.load()) return true;
  std::lock_guard<std::mutex> lock(lock_);
  ++checks_;
  return stopAfterChecks >= 0 && checks_ > stopAfterChecks;
}

void FakeHost::PostTaskEvent(const EngineEvent& event) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    events_.push_back(event);
  }
  if (onEvent) onEvent(event);
}

std::vector<EngineEvent> FakeHost::Events() const {
  std::lock_guard<std::mutex> lock(lock_);
  return events_;
}

std::vector<EngineEvent> FakeHost::EventsOfType(uint32_t type) const {
  std::vector<EngineEvent> matching;
  for (const EngineEvent& event : Events()) {
    if (event.type == type) matching.push_back(event);
  }
  return matching;
}

std::vector<uint32_t> FakeHost::Types() const {
  std::vector<uint32_t> types;
  for (const EngineEvent& event : Events()) types.push_back(event.type);
  return types;
}

Sandbox::Sandbox() {
  const char separator = static_cast<char>(fs::path::preferred_separator);
  settings_.workingFolder = dir_.Path() + "client" + separator;
  settings_.downloadFolder = settings_.workingFolder + "backup" + separator;
  settings_.tempFolder = settings_.downloadFolder + "temp" + separator;
  settings_.outputFolder = settings_.downloadFolder + "output" + separator;
  RecCreateDirectory(settings_.tempFolder);
  RecCreateDirectory(settings_.outputFolder);
}

std::string Sandbox::VersionFolder(uint32_t version) const {
  return settings_.downloadFolder + std::to_string(version) + "\\";
}

void Sandbox::CopyInitialClient() const {
  // The copies keep the read-only attribute an installed client's files
  // may have.
  testsupport::CopyTree(E2eDir() + "sandbox/client", settings_.workingFolder);
}

void Sandbox::PlaceCabinet(const std::string& source, uint32_t version, const std::string& name) const {
  CopyFileTo(source, VersionFolder(version) + name);
}

void Sandbox::PlaceCabinetBytes(const std::vector<uint8_t>& bytes, uint32_t version, const std::string& name) const {
  WriteFile(VersionFolder(version) + name, bytes);
}

std::vector<uint8_t> MakeCabinet(const std::vector<CabEntry>& files) {
  publish::CabWriter writer;
  for (const CabEntry& file : files) writer.Add(file.first, file.second);
  std::string error;
  std::vector<uint8_t> bytes = writer.Build(&error);
  EXPECT_TRUE(error.empty()) << error;
  return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (!RecCreateDirectoryFile(path)) return false;
  return testsupport::WriteFileBytes(plat::ToNativePath(path), bytes.data(), bytes.size());
}

bool WriteText(const std::string& path, const std::string& text) {
  return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) { return testsupport::ReadFileBytes(plat::ToNativePath(path)); }

bool Exists(const std::string& path) { return plat::FileExists(path) || plat::DirectoryExists(path); }

bool CopyFileTo(const std::string& from, const std::string& to) {
  if (!RecCreateDirectoryFile(to)) return false;
  // The shared data is read-only; the copies stand for files the tasks
  // wrote themselves.
  return plat::CopyOneFile(from, to, false) && plat::SetAttributes(to, plat::kAttrNormal);
}

void MakeReadOnly(const std::string& path) { plat::SetAttributes(path, plat::kAttrReadOnly); }

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  const fs::path root(plat::ToNativePath(folder));
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_regular_file()) continue;
    files.push_back(fs::relative(it->path(), root).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint32_t> ProgressSteps(uint32_t n, uint32_t steps) {
  std::vector<uint32_t> values;
  float progress = 0.0f;
  for (uint32_t i = 0; i < steps; ++i) {
    progress = static_cast<float>(progress + 100.0 / n);
    values.push_back(static_cast<uint32_t>(progress));
  }
  return values;
}

std::string E2eDir() { return testsupport::TestDataDir() + "e2e/basic/"; }

std::string JdiffDir() { return testsupport::TestDataDir() + "jdiff/"; }

std::vector<ListRow> LoadListRows() {
  std::vector<ListRow> rows;
  for (const std::vector<std::string>& fields : ReadTsv(E2eDir() + "lists.tsv")) {
    if (fields.size() < 11 || fields[1] == "-") continue;
    ListRow row;
    row.version = static_cast<uint32_t>(std::stoul(fields[0]));
    row.section = static_cast<uint32_t>(std::stoul(fields[1]));
    row.index = static_cast<uint32_t>(std::stoul(fields[2]));
    row.name = fields[4];
    row.oldCrc = fields[5];
    row.newCrc = fields[6];
    row.type = static_cast<uint8_t>(std::stoul(fields[7]));
    row.orgSize = std::stoull(fields[8]);
    row.newSize = std::stoull(fields[9]);
    row.isProtected = fields[10] == "yes";
    if (fields.size() > 11 && fields[11] != "-") row.deltaSize = std::stoull(fields[11]);
    rows.push_back(row);
  }
  return rows;
}

std::vector<ListRow> SectionRows(uint32_t version, uint32_t section) {
  std::vector<ListRow> rows;
  for (const ListRow& row : LoadListRows()) {
    if (row.version == version && row.section == section && !row.isProtected) rows.push_back(row);
  }
  return rows;
}

std::vector<PatchFileInfo> SectionFiles(uint32_t version, uint32_t section) {
  std::vector<PatchFileInfo> files;
  for (const ListRow& row : SectionRows(version, section)) {
    PatchFileInfo info;
    info.name = row.name;
    info.newCrc = row.newCrc;
    info.oldCrc = row.oldCrc;
    info.btFileType = row.type;
    info.OrgFileSize = row.orgSize;
    info.NewFileSize = row.newSize;
    files.push_back(info);
  }
  return files;
}

std::vector<ExpectedRow> LoadExpected() {
  std::vector<ExpectedRow> rows;
  for (const std::vector<std::string>& fields : ReadTsv(E2eDir() + "expected.tsv")) {
    if (fields.size() < 4) continue;
    rows.push_back(ExpectedRow{fields[0], std::stoull(fields[1]), fields[3]});
  }
  return rows;
}

}  // namespace applytest
