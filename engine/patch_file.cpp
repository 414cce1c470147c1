#include "engine/patch_file.h"

#include "download/crc32.h"
#include "platform/ansi_text.h"
#include "platform/file_system.h"

std::string LowerFileName(const std::string& name) { return plat::LowerAnsi(name); }

bool IsProtectedFile(const std::string& name) {
  const std::string lower = LowerFileName(name);
  return lower.find("version.ini") != std::string::npos || lower.find("version.dat") != std::string::npos;
}

bool CrcTextEquals(const std::string& a, const std::string& b) { return LowerFileName(a) == LowerFileName(b); }

bool CrcTextMatches(const std::string& actual, const std::string& expected) {
  return CrcTextEquals(actual, expected) && !CrcTextEquals(actual, kCrcUnknownText);
}

uint64_t GetFileSize64(const std::string& path) {
  plat::File file;
  if (!file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) return 0;
  uint64_t size = 0;
  return file.Size(&size) ? size : 0;
}

bool IsSafeRelativePath(const std::string& name) {
  if (name.empty()) return false;
  if (name[0] == '\\' || name[0] == '/') return false;
  if (name.find(':') != std::string::npos) return false;  // drive letters and stream names
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}
