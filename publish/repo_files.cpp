#include "publish/repo_files.h"

#include <cstdio>
#include <vector>

#include "platform/file_system.h"

namespace publish {

bool ReadWholeFile(const std::string& path, std::string* text) {
  plat::File file;
  if (!file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) return false;
  text->clear();
  std::vector<char> buffer(1 << 16);
  for (;;) {
    uint32_t got = 0;
    if (!file.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) return false;
    if (got == 0) return true;
    text->append(buffer.data(), got);
  }
}

bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    plat::File file;
    uint32_t done = 0;
    if (!file.Open(temp, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways) ||
        !file.Write(text.data(), static_cast<uint32_t>(text.size()), &done) || done != text.size() || !file.Flush()) {
      file.Close();
      plat::RemoveFile(temp);
      return false;
    }
  }
  if (plat::MoveReplace(temp, path)) return true;
  plat::RemoveFile(temp);
  return false;
}

std::string CrcTextOf(uint32_t crc) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", crc);
  return text;
}

std::string RepoPath(const std::string& repo, const std::string& name) {
  std::string path = repo;
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path + "\\" + name;
}

}  // namespace publish
