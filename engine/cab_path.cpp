#include "engine/cab_path.h"

#include <cstdint>
#include <vector>

#include "platform/file_system.h"

namespace {

constexpr char kCabExtension[] = ".cab";
// Copy numbers longer than this are not a download manager's copies.
constexpr size_t kMaxCopyDigits = 9;

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  const size_t offset = text.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = text[offset + i];
    char b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// n when `name` is the numbered copy "stem(n).cab" of the cabinet `stem`;
// -1 for every other name, the plain "stem.cab" among them.
int64_t CopyNumber(const std::string& name, const std::string& stem) {
  const std::string extension = kCabExtension;
  if (name.size() < stem.size() + extension.size() || !EndsWithNoCase(name, extension) ||
      name.compare(0, stem.size(), stem) != 0) {
    return -1;
  }
  const std::string middle = name.substr(stem.size(), name.size() - extension.size() - stem.size());
  if (middle.size() < 3 || middle.front() != '(' || middle.back() != ')') return -1;
  const std::string digits = middle.substr(1, middle.size() - 2);
  if (digits.size() > kMaxCopyDigits) return -1;
  int64_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

void DeleteQuietly(const std::string& path) {
  plat::SetAttributes(path, plat::kAttrNormal);
  plat::RemoveFile(path);
}

}  // namespace

std::string FindCabPath(const std::string& folder, const std::string& cabName) {
  const std::string plainPath = folder + cabName;
  const size_t dot = cabName.rfind('.');
  const std::string stem = dot == std::string::npos ? cabName : cabName.substr(0, dot);

  std::vector<plat::FindEntry> entries;
  plat::FindEntries(folder + "*.*", &entries);
  std::vector<std::string> copies;  // numbered copies, in listing order
  size_t kept = 0;
  int64_t keptNumber = 0;
  for (const plat::FindEntry& entry : entries) {
    if (entry.IsDirectory()) continue;
    const int64_t number = CopyNumber(entry.name, stem);
    if (number < 0) continue;
    copies.push_back(entry.name);
    if (number > keptNumber) {
      keptNumber = number;
      kept = copies.size() - 1;
    }
  }
  if (keptNumber == 0) return plainPath;

  DeleteQuietly(plainPath);
  for (size_t i = 0; i < copies.size(); ++i) {
    if (i != kept) DeleteQuietly(folder + copies[i]);
  }
  return folder + copies[kept];
}
