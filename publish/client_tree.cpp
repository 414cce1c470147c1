#include "publish/client_tree.h"

#include <algorithm>

#include "engine/patch_file.h"
#include "platform/file_system.h"

namespace publish {

namespace {

// A list stores the name after one lead byte in a text of at most 255.
constexpr size_t kMaxNameLength = 254;
// Deeper than any real client; also ends a walk that a link loop would
// make endless.
constexpr int kMaxDepth = 64;

bool IsDeviceName(const std::string& component) {
  std::string stem = ClientKey(component.substr(0, component.find('.')));
  static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
  for (const char* device : kDevices) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

void Walk(const std::string& folder, const std::string& prefix, int depth, TreeScan& scan) {
  if (depth > kMaxDepth) {
    scan.problems.push_back(prefix + ": folders nested too deeply (a link loop?)");
    return;
  }
  std::vector<plat::FindEntry> entries;
  if (!plat::FindEntries(folder + "\\*", &entries)) return;  // an empty folder
  for (const plat::FindEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string name = prefix.empty() ? entry.name : prefix + "\\" + entry.name;
    const std::string path = folder + "\\" + entry.name;
    if (entry.IsDirectory()) {
      Walk(path, name, depth + 1, scan);
      continue;
    }
    const std::string key = ClientKey(name);
    if (prefix.empty() && (key == "version.dat" || key == "version.ini")) {
      scan.skipped.push_back(name);
      continue;
    }
    if (entry.name.find('\\') != std::string::npos) {
      scan.problems.push_back(name + ": '\\' inside a file name");
      continue;
    }
    const std::string problem = NameProblem(name);
    if (!problem.empty()) {
      scan.problems.push_back(name + ": " + problem);
      continue;
    }
    scan.files.push_back(TreeFile{name, path, entry.size});
  }
}

}  // namespace

std::string ClientKey(const std::string& name) { return LowerFileName(name); }

std::string NameProblem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kMaxNameLength) return "longer than the 254 bytes a patch list holds";
  if (!IsSafeRelativePath(name)) return "absolute, with a drive letter or ':', or climbing out with \"..\"";
  if (IsProtectedFile(name)) return "a protected name (\"version.ini\" or \"version.dat\"), which the patcher never delivers";
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component.empty()) return "an empty folder name";
    for (unsigned char c : component) {
      if (c < 0x20 || std::string("<>:\"|?*/").find(static_cast<char>(c)) != std::string::npos) {
        return "a character Windows does not allow in names";
      }
    }
    if (component.back() == '.' || component.back() == ' ') return "a name ending in a dot or blank";
    if (IsDeviceName(component)) return "a Windows device name";
    start = end + 1;
  }
  return "";
}

TreeScan ScanTree(const std::string& root) {
  TreeScan scan;
  if (!plat::DirectoryExists(root)) {
    scan.problems.push_back(root + ": no such folder");
    return scan;
  }
  std::string base = root;
  while (base.size() > 1 && (base.back() == '/' || base.back() == '\\')) base.pop_back();
  Walk(base, "", 0, scan);
  std::sort(scan.files.begin(), scan.files.end(), [](const TreeFile& a, const TreeFile& b) {
    const std::string ka = ClientKey(a.name);
    const std::string kb = ClientKey(b.name);
    return ka != kb ? ka < kb : a.name < b.name;
  });
  for (size_t i = 1; i < scan.files.size(); ++i) {
    if (ClientKey(scan.files[i - 1].name) == ClientKey(scan.files[i].name)) {
      scan.problems.push_back(scan.files[i - 1].name + " and " + scan.files[i].name +
                              ": names that differ only in letter case");
    }
  }
  std::sort(scan.skipped.begin(), scan.skipped.end());
  return scan;
}

}  // namespace publish
