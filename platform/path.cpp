#include "platform/path.h"

#include "platform/file_system.h"

namespace plat {

std::string FolderOf(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
  }
  return std::string();
}

std::string FileNameOf(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches the pattern from position p against the name from position n.
// '*' takes any run of characters, '?' exactly one.
bool MatchFrom(const std::string& pattern, size_t p, const std::string& name, size_t n) {
  size_t starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // Windows lets "*.*" take every name, and "stem.*" a name without a dot.
  if (pattern == "*" || pattern == "*.*") return true;
  if (MatchFrom(pattern, 0, name, 0)) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return MatchFrom(pattern.substr(0, pattern.size() - 2), 0, name, 0);
  }
  return false;
}

}  // namespace plat
