#include "engine/progress_records.h"

#include <cstdio>

#include "platform/file_system.h"

namespace {

std::string Format(const char* format, const std::string& folder, uint32_t a, uint32_t b = 0) {
  char buffer[512];
  snprintf(buffer, sizeof buffer, format, folder.c_str(), a, b);
  return buffer;
}

}  // namespace

void SectionProgressRecord::Init(const std::string& downloadFolder, uint32_t version, uint32_t count) {
  m_count = count;
  m_path = Format("%s%u\\prg_section.list", downloadFolder, version);
}

bool SectionProgressRecord::Load(std::vector<uint32_t>& flags) const {
  if (m_count == 0 || m_path.empty()) return false;
  plat::File file;
  if (!file.Open(m_path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) return false;
  std::vector<uint8_t> bytes(m_count, 0);
  uint32_t got = 0;
  if (!file.Read(bytes.data(), m_count, &got) || got < m_count) {
    // A short record counts as no section done, not as an error.
    bytes.assign(m_count, 0);
  }
  flags.assign(bytes.begin(), bytes.end());
  return true;
}

bool SectionProgressRecord::Save(const std::vector<uint32_t>& flags) const {
  if (m_count == 0 || flags.size() != m_count || m_path.empty()) return false;
  std::vector<uint8_t> bytes(m_count);
  for (uint32_t i = 0; i < m_count; ++i) bytes[i] = flags[i] != 0 ? 1 : 0;
  // Replaced whole, never truncated in place: a killed run leaves the old
  // record or the new one, so the sections already patched are not fetched
  // again. Not synced to disk: after a power cut an older record only makes
  // the next run take the normal cabinets of the sections it names, which
  // a sync per section would cost every run to spare.
  return plat::ReplaceFileContents(m_path, bytes.data(), m_count, false) == plat::ReplaceResult::kDone;
}

void SectionProgressRecord::Delete() const { plat::RemoveFile(m_path); }

bool IsResumePoint(uint32_t recorded, uint32_t fileCount) { return recorded < fileCount; }

void FileProgressRecord::Init(const std::string& downloadFolder, uint32_t version, uint32_t section) {
  m_path = Format("%s%u\\prg_f%u.list", downloadFolder, version, section);
}

uint32_t FileProgressRecord::Read() const {
  plat::File file;
  if (!file.Open(m_path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) return 0;
  uint8_t bytes[4] = {};
  uint32_t got = 0;
  if (!file.Read(bytes, 4, &got) || got < 4) return 0;
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void FileProgressRecord::Write(uint32_t value) const {
  plat::File file;
  if (!file.Open(m_path, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways)) return;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  uint32_t done = 0;
  // No sync to disk: a lost or short record reads as 0, and the patch list
  // reader then finds the section's patched files changed and takes the
  // normal cabinet, which replaces them all. A sync per patched file would
  // buy nothing but time.
  file.Write(bytes, 4, &done);
}

void FileProgressRecord::Delete() const { plat::RemoveFile(m_path); }
