#include <dirent.h>
#include <sys/stat.h>

#include "platform/ansi_text.h"
#include "platform/path.h"

namespace plat {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// An existing entry of `folder` whose name equals `component` but for
// letter case, as the engine lower-cases names (a Korean name differing in
// a trail byte is another name); empty when there is none.
std::string FindNoCase(const std::string& folder, const std::string& component) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return std::string();
  const std::string wanted = LowerAnsi(component);
  std::string found;
  while (struct dirent* entry = readdir(dir)) {
    if (LowerAnsi(entry->d_name) == wanted) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::string ToNativePath(const std::string& enginePath) {
  std::string mapped = enginePath;
  for (char& c : mapped) {
    if (c == '\\') c = '/';
  }
  if (mapped.empty() || Exists(mapped)) return mapped;

  // Walk the components; once one is missing, the rest cannot exist either.
  std::string result;
  size_t pos = 0;
  if (mapped[0] == '/') {
    result = "/";
    pos = 1;
  }
  bool parentExists = true;
  while (pos <= mapped.size()) {
    size_t next = mapped.find('/', pos);
    if (next == std::string::npos) next = mapped.size();
    std::string component = mapped.substr(pos, next - pos);
    const bool last = next == mapped.size();
    if (!component.empty()) {
      std::string candidate = result + component;
      if (parentExists && component != "." && component != ".." && !Exists(candidate)) {
        std::string real = FindNoCase(result, component);
        if (!real.empty()) {
          candidate = result + real;
        } else {
          parentExists = false;
        }
      }
      result = candidate;
      if (!last) result += '/';
    } else if (last && !result.empty() && result.back() != '/') {
      result += '/';
    }
    pos = next + 1;
  }
  return result;
}

}  // namespace plat
