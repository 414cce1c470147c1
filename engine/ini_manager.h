// CIniManager: one profile (INI) file read through the private-profile
// functions. It holds only the file's path; every read opens the file anew,
// so a manager may outlive changes to the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CIniManager {
 public:
  // Longest value a list read returns; longer values are cut.
  static constexpr size_t kMaxValue = 511;

  CIniManager() = default;
  virtual ~CIniManager() = default;

  // relative false: the path is name itself. relative true: name under the
  // current folder.
  void SetFile(const std::string& name, bool relative);
  const std::string& Path() const { return m_path; }

  // The key's leading decimal integer; 0 when the key is missing or empty.
  uint32_t GetInt(const std::string& section, const std::string& key) const;

  // Appends the values of prefix1, prefix2, ... to list, stopping at the
  // first missing or empty one; true when at least one value was appended.
  bool GetStringList(const std::string& section, const std::string& prefix, std::vector<std::string>& list) const;

  // True when the file has the section, even an empty one (names compared
  // without regard to letter case).
  bool HasSection(const std::string& section) const;

 private:
  std::string m_path;
};
