#include "engine/ini_manager.h"

#include "engine/patch_file.h"

#include "platform/ini_profile.h"
#include "platform/path.h"
#include "platform/process_paths.h"

void CIniManager::SetFile(const std::string& name, bool relative) {
  if (!relative) {
    m_path = name;
    return;
  }
  m_path = plat::CurrentFolder();
  if (m_path.empty() || !plat::IsPathSeparator(m_path.back())) m_path += '\\';
  m_path += name;
}

uint32_t CIniManager::GetInt(const std::string& section, const std::string& key) const {
  return plat::ReadProfileInt(section.c_str(), key.c_str(), 0, m_path);
}

bool CIniManager::GetStringList(const std::string& section, const std::string& prefix,
                                std::vector<std::string>& list) const {
  char value[kMaxValue + 1];
  bool found = false;
  for (uint32_t n = 1;; ++n) {
    const std::string key = prefix + std::to_string(n);
    const uint32_t length =
        plat::ReadProfileString(section.c_str(), key.c_str(), "", value, static_cast<uint32_t>(sizeof value), m_path);
    if (length == 0) break;
    list.emplace_back(value, length);
    found = true;
  }
  return found;
}

bool CIniManager::HasSection(const std::string& section) const {
  std::vector<char> names(65536);
  const uint32_t length =
      plat::ReadProfileString(nullptr, nullptr, "", names.data(), static_cast<uint32_t>(names.size()), m_path);
  for (size_t at = 0; at < length && names[at] != '\0';) {
    const std::string name(names.data() + at);
    if (LowerFileName(name) == LowerFileName(section)) return true;
    at += name.size() + 1;
  }
  return false;
}
