#include "download/local_file.h"

#include <vector>

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
    return kFreeSpaceUnknown;
  }
  return freeBytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(freeBytes);
}

bool LacksRoomFor(int32_t contentLength, const std::string& folder) {
  if (contentLength < 0) return false;
  const int64_t freeBytes = GetDiskFreeBytes(folder);
  return freeBytes != kFreeSpaceUnknown && 2 * static_cast<int64_t>(contentLength) > freeBytes;
}

int32_t CloseWrittenFile(plat::File& file, const std::string& localPath) {
  if (file.Close()) return kFetchOk;
  if (plat::LastError() == plat::kErrorDiskFull) {
    LogWrite(kLogError, "disk is full");
    return kFetchDiskFull;
  }
  LogWrite(kLogError, "Failed to CloseHandle file : %s", localPath.c_str());
  return kFetchOpenFailed;
}

int32_t DiskFullResult(plat::File& file) {
  file.Close();
  LogWrite(kLogError, "disk is full");
  return kFetchDiskFull;
}

int32_t WriteBody(const std::function<int32_t(char* buffer, int32_t size)>& read, plat::File& file,
                  const std::string& localPath, const TransferProgress& progress, int32_t progressTotal,
                  int64_t* done, bool* readFailed, int32_t blockSize) {
  std::vector<char> block(static_cast<size_t>(blockSize), 0);
  int32_t got = read(block.data(), blockSize);
  while (got > 0) {
    NoteTransferProgress();
    if (progress) progress(ClampToInt32(*done), progressTotal);
    *done += got;
    uint32_t written = 0;
    if (!file.Write(block.data(), static_cast<uint32_t>(got), &written)) {
      if (plat::LastError() == plat::kErrorDiskFull) return DiskFullResult(file);
      file.Close();
      LogWrite(kLogError, "Failed to WriteFile file : %s", localPath.c_str());
      return kFetchOpenFailed;
    }
    if (IsTransferCanceled()) {
      file.Close();
      LogWrite(kLogDetail, "Canceled downloading");
      return kFetchCanceled;
    }
    got = read(block.data(), blockSize);
  }
  *readFailed = got < 0;
  return kFetchOk;
}
