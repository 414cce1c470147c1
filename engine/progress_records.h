// Progress records of a version step, so an interrupted run resumes where
// it stopped.
//
// "prg_section.list" (in the version's folder under the download folder)
// holds one byte per section, 1 when that section is completely patched.
// "prg_f<section>.list" holds, as a little-endian u32, how many of the
// section's files are already patched from its diff cabinet. Both are
// written whole and read whole; an unreadable record means nothing is done.
// The section record is replaced whole (old or new, never cut).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SectionProgressRecord {
 public:
  // downloadFolder ends in a separator.
  void Init(const std::string& downloadFolder, uint32_t version, uint32_t count);
  // count flags (byte values 0..255); all zero when the file is shorter
  // than count bytes. False when there is no count, no path or no file.
  bool Load(std::vector<uint32_t>& flags) const;
  // Writes count bytes, 1 for every non-zero flag. False (nothing written)
  // when flags does not hold exactly count entries.
  bool Save(const std::vector<uint32_t>& flags) const;
  void Delete() const;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  uint32_t m_count = 0;
};

// Whether a file progress count can be where a section of `fileCount`
// files resumes: only a count below fileCount can. The record is deleted
// with the section's last file, so any other count (0 of 0 included) is
// corrupt or left by another list, and the section starts again from its
// first file. The list's diff test and the diff patch both follow this.
bool IsResumePoint(uint32_t recorded, uint32_t fileCount);

class FileProgressRecord {
 public:
  void Init(const std::string& downloadFolder, uint32_t version, uint32_t section);
  // The stored count; 0 when the record is missing or shorter than 4 bytes.
  uint32_t Read() const;
  void Write(uint32_t value) const;
  void Delete() const;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};
