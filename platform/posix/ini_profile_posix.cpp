// Our own reader of Windows profile files, giving the results of the
// private-profile functions for the files the patcher reads.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ini_profile.h"
#include "platform/path.h"

namespace plat {

namespace {

struct IniKey {
  std::string name;
  std::string value;
  bool hasValue;  // a line without '=' names a key with no value
};

struct IniSection {
  std::string name;
  std::vector<IniKey> keys;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  FILE* f = fopen(ToNativePath(path).c_str(), "rb");
  if (!f) return false;
  char buffer[16384];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) content->append(buffer, got);
  fclose(f);
  return true;
}

// Keys before the first section header belong to no section and are never found.
std::vector<IniSection> Parse(const std::string& content) {
  std::vector<IniSection> sections;
  size_t pos = 0;
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  bool inSection = false;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(pos, end - pos);
    // A profile is text: a NUL byte ends its line. A name or value holding
    // one would reach the caller longer than the C string it gets.
    line = Trim(line.substr(0, line.find('\0')));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close != std::string::npos) {
        sections.push_back(IniSection{Trim(line.substr(1, close - 1)), {}});
        inSection = true;
        continue;
      }
    }
    if (!inSection) continue;
    IniKey key;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      key.name = line;
      key.hasValue = false;
    } else {
      key.name = Trim(line.substr(0, eq));
      key.value = Trim(line.substr(eq + 1));
      key.hasValue = true;
    }
    sections.back().keys.push_back(std::move(key));
  }
  return sections;
}

bool IsComment(const std::string& name) { return !name.empty() && name[0] == ';'; }

// Copies text into buffer, cut to size - 1, and returns the count copied.
uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  size_t count = text.size() < size - 1 ? text.size() : size - 1;
  memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<uint32_t>(count);
}

// A list of zero-terminated names ended by an extra zero. When it does not
// fit, the last name is cut and the result is size - 2, as Windows does.
uint32_t CopyList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  uint32_t used = 0;
  for (const std::string& name : names) {
    if (used + name.size() + 1 > size - 1) {
      uint32_t room = size - 1 - used;
      if (room > 0) {
        memcpy(buffer + used, name.data(), room - 1);
        buffer[used + room - 1] = '\0';
      }
      buffer[size - 1] = '\0';
      return size - 2;
    }
    memcpy(buffer + used, name.data(), name.size());
    used += static_cast<uint32_t>(name.size());
    buffer[used++] = '\0';
  }
  buffer[used] = '\0';
  return used == 0 ? 0 : used;
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                          uint32_t size, const std::string& file) {
  if (!buffer || size == 0) return 0;
  std::string content;
  ReadWholeFile(file, &content);
  const std::vector<IniSection> sections = Parse(content);

  if (!section) {
    std::vector<std::string> names;
    for (const IniSection& s : sections) names.push_back(s.name);
    return CopyList(names, buffer, size);
  }
  if (!key) {
    std::vector<std::string> names;
    for (const IniSection& s : sections) {
      if (strcasecmp(s.name.c_str(), section) != 0) continue;
      for (const IniKey& k : s.keys) {
        if (!k.name.empty() && !IsComment(k.name)) names.push_back(k.name);
      }
      break;
    }
    return CopyList(names, buffer, size);
  }

  const std::string wantedKey = Trim(key);
  for (const IniSection& s : sections) {
    if (strcasecmp(s.name.c_str(), section) != 0) continue;
    for (const IniKey& k : s.keys) {
      if (k.hasValue && strcasecmp(k.name.c_str(), wantedKey.c_str()) == 0) {
        return CopyOut(Unquote(k.value), buffer, size);
      }
    }
  }
  std::string fallback = defaultValue ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  return CopyOut(fallback, buffer, size);
}

uint32_t ReadProfileInt(const char* section, const char* key, int32_t defaultValue, const std::string& file) {
  char value[1024];
  if (ReadProfileString(section, key, "", value, sizeof value, file) == 0) return static_cast<uint32_t>(defaultValue);
  const char* p = value;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint32_t number = 0;
  while (*p >= '0' && *p <= '9') number = number * 10u + static_cast<uint32_t>(*p++ - '0');
  return negative ? 0u - number : number;
}

}  // namespace plat
