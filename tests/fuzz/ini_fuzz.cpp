// libFuzzer target: the profile (INI) reader of the POSIX backend (the
// Windows one is the system's) on one file: every section and key list,
// every value and its number, into buffers of a size the input picks, as
// the engine's CIniManager reads lists. Results never exceed the buffer
// and are always terminated.
#include <cstring>
#include <string>
#include <vector>

#include "engine/ini_manager.h"
#include "platform/ini_profile.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

// The zero-separated names of a list, as ReadProfileString gives them.
std::vector<std::string> Names(const char* list, uint32_t length) {
  std::vector<std::string> names;
  for (uint32_t at = 0; at < length;) {
    const std::string name(list + at);
    names.push_back(name);
    at += static_cast<uint32_t>(name.size()) + 1;
  }
  return names;
}

}  // namespace

PATCHER_FUZZ_TARGET(ini) {
  if (size < 1) return 0;
  // The first byte sizes the small buffer, to reach the cut lists.
  const uint32_t small = 1 + data[0] % 64;
  static FuzzFile file("profile.ini");
  const std::string& path = file.Holding(data + 1, size - 1);
  std::vector<char> buffer(4096 + 2);
  const uint32_t bufferSize = 4096;
  const uint32_t sections = plat::ReadProfileString(nullptr, nullptr, "", buffer.data(), bufferSize, path);
  FUZZ_CHECK(sections < bufferSize);
  // Every read parses the whole file again, so each further read costs a
  // whole parse and reaches no new path: two sections and two keys of each
  // take every path of the reader.
  std::vector<std::string> sectionNames = Names(buffer.data(), sections);
  if (sectionNames.size() > 2) sectionNames.resize(2);
  for (const std::string& section : sectionNames) {
    std::vector<char> keys(bufferSize);
    const uint32_t length = plat::ReadProfileString(section.c_str(), nullptr, "", keys.data(), bufferSize, path);
    FUZZ_CHECK(length < bufferSize);
    std::vector<std::string> keyNames = Names(keys.data(), length);
    if (keyNames.size() > 2) keyNames.resize(2);
    for (const std::string& key : keyNames) {
      char value[600];
      const uint32_t got = plat::ReadProfileString(section.c_str(), key.c_str(), "", value, sizeof value, path);
      FUZZ_CHECK(got < sizeof value && strlen(value) == got);
      std::vector<char> cut(small);
      const uint32_t part = plat::ReadProfileString(section.c_str(), key.c_str(), "", cut.data(), small, path);
      FUZZ_CHECK(part < small && cut[part] == '\0');
      plat::ReadProfileInt(section.c_str(), key.c_str(), 0, path);
    }
    std::vector<char> cutKeys(small);
    const uint32_t part = plat::ReadProfileString(section.c_str(), nullptr, "", cutKeys.data(), small, path);
    FUZZ_CHECK(part < small);
    CIniManager manager;
    manager.SetFile(path, false);
    std::vector<std::string> list;
    manager.GetStringList(section, "File", list);
    for (const std::string& value : list) FUZZ_CHECK(!value.empty() && value.size() <= CIniManager::kMaxValue);
  }
  return 0;
}
