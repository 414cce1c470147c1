#include "download/local_file.h"

#include "engine/folders.h"
#include "engine/patch_log.h"

bool FileCreate(const std::string& path, plat::File* file) {
  RecCreateDirectoryFile(path);
  return file->Open(path, plat::File::kReadWrite, plat::File::kShareRead, plat::File::kCreateAlways);
}

int64_t GetDiskFreeBytes(const std::string& folder) {
  uint64_t freeBytes = 0;
  if (!plat::DiskFreeBytes(folder, &freeBytes)) {
    LogWrite(kLogSystemQuery, "Failed to get disk free space");
    return 0;
  }
  return freeBytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(freeBytes);
}
